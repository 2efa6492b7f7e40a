// The archive document: one opened BIG archive as its windows show it (a
// CShownArchive: the opened entries, each a slice of the archive's mapped
// bytes, and the changes pending over them). The opened entries change only
// when a save or a reload puts another archive's in their place, which the
// views are told of before and after.
//
// Changes are made by app/edit/, as undoable steps. Save writes the archive
// with its changes beside the opened file and renames it over it; the
// opened file is never written in place. Without changes, Save As copies the
// opened archive, byte for byte, to a file the user names.
#pragma once

#include <QString>

#include <memory>
#include <optional>

#include "app/archive_copy.h"
#include "archive/shown_archive.h"
#include "app/framework/document.h"
#include "archive/change_set.h"
#include "archive/entry_map.h"

class CDiskWatch;
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
  // What the windows show: every feature reads the entries here.
  const CShownArchive& Shown() const { return m_shown; }
  CShownArchive& Shown() { return m_shown; }
  // The opened entries and the changes pending over them.
  const CEntryMap& Entries() const { return m_shown.Opened(); }
  const CChangeSet& Changes() const { return m_shown.Changes(); }
  // Reads the archive at `path` in place of the one shown (changes and
  // undo steps dropped), telling the views before and after; false, with
  // `reason`, when it cannot be read.
  bool Reload(const QString& path, QString& reason);
  // The bar's Reload: reads the archive at the document's path anew, after
  // asking when changes are pending; the status bar says how it went.
  bool ReloadFromDisk();
  // Noticing another program's change to the opened file.
  CDiskWatch& GetDiskWatch() const { return *m_watch; }
  // What the bar says of the file as it stands now (empty: unchanged).
  QString DiskChangeWords() const;

 private:
  CShownArchive m_shown;
  // The opened file as it was at the open; unset for a new document.
  std::optional<CArchiveStamp> m_archive;
  std::unique_ptr<CEntryEditor> m_editor;
  std::unique_ptr<CDiskWatch> m_watch;
};
