// The archive document: one opened BIG archive, kept as a name-ordered map of
// entry buffers, each a slice of the archive's mapped bytes (cut when its
// entry is first visited). The map is filled by the open and never changes
// afterwards, so views may point into it.
//
// The document is never modified and has no save format. Save does nothing;
// Save As copies the opened archive, byte for byte, to a file the user names.
// Neither ever writes to the archive itself.
#pragma once

#include <QString>

#include <optional>

#include "app/archive_copy.h"
#include "app/framework/document.h"
#include "archive/entry_map.h"

class CTarnEditorDoc : public CDocument {
 public:
  CTarnEditorDoc() = default;
  ~CTarnEditorDoc() override;

  bool OnNewDocument() override;
  bool OnOpenDocument(const QString& path) override;
  // Copies the opened archive to `path`; false (and nothing written) for a
  // new document, for the archive's own file, or when the archive on disk is
  // no longer the file that was opened.
  bool OnSaveDocument(const QString& path) override;
  void OnFileSave() override;
  // Asks where to put a copy ("NAME copy.big" beside the archive is
  // proposed) and says in the status bar whether it was made, or why not.
  void OnFileSaveAs() override;
  // Save As is offered only for an opened archive, not a new document.
  bool OnCmdMsg(int id, CCmdUI* query) override;

  CEntryMap m_entries;

 private:
  // The opened file as it was at the open; unset for a new document.
  std::optional<CArchiveStamp> m_archive;
};
