// The archive document: one opened BIG archive, kept as a name-ordered map of
// entry buffers, each a slice of the archive's mapped bytes (cut when its
// entry is first visited). The map is filled by the open and never changes
// afterwards, so views may point into it.
//
// Changes are kept beside the entries, in a change set the document owns
// (app/edit/ makes them, as undoable steps). Save writes the archive with
// its changes beside the opened file and renames it over it; the opened
// file is never written in place. Without changes, Save As copies the
// opened archive, byte for byte, to a file the user names.
#pragma once

#include <QString>

#include <memory>
#include <optional>

#include "app/archive_copy.h"
#include "app/framework/document.h"
#include "archive/change_set.h"
#include "archive/entry_map.h"

class CEntryEditor;
class CEntryHooks;

class CTarnEditorDoc : public CDocument {
 public:
  CTarnEditorDoc();
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
  // With changes pending, asks whether to save them.
  bool SaveModified() override;

  // What the views show of the pending changes, and hand edits back to.
  CEntryHooks* GetHooks() const;
  CEntryEditor& GetEditor() const { return *m_editor; }
  // Whether the file at the path is still the one the entries were read from.
  bool IsArchiveUnchanged() const;
  // The file at `path` is now the one the entries were read from.
  void Restamp(const QString& path);

  // The opened entries: never changed while the document shows them (a
  // save puts the saved archive's in their place and tells the views).
  CEntryMap m_entries;
  // What differs from them, until saved.
  CChangeSet m_changes;

 private:
  // The opened file as it was at the open; unset for a new document.
  std::optional<CArchiveStamp> m_archive;
  std::unique_ptr<CEntryEditor> m_editor;
};
