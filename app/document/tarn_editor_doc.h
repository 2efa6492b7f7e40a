// The archive document: one opened BIG archive as its windows show it (a
// CShownArchive: the opened entries, each a slice of the archive's mapped
// bytes, and the changes pending over them). The opened entries change only
// when a save or a reload puts another archive's in their place, which the
// views are told of before and after.
//
// Changes come as steps on the document's undo stack (the edit feature
// makes them); the document is modified exactly while that stack is away
// from its clean state. The features that act on the whole archive (edit,
// save, extract) are added by the shell; the document routes its commands
// to them. It never writes the opened file in place: OnSaveDocument copies
// the archive as opened to another file.
#pragma once

#include <QPointer>
#include <QString>
#include <QUndoStack>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/document/document_feature.h"
#include "app/framework/document.h"
#include "archive/change_set.h"
#include "archive/entry_map.h"
#include "archive/shown_archive.h"

class CDiskWatch;
class CEntryExport;
class CEntryHooks;
class CReferenceLinks;

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
  // Save and Save As, carried out by the save feature.
  void OnFileSave() override;
  void OnFileSaveAs() override;
  // Undo and Redo, then the features in the order they were added.
  bool OnCmdMsg(int id, CCmdUI* query) override;
  // Asks each feature in turn (text not applied, then changes not saved).
  bool SaveModified() override;

  // A feature of this document's windows, kept as long as the document.
  void AddFeature(std::unique_ptr<CDocumentFeature> feature);
  // What the views show of the pending changes, and hand edits back to;
  // and what the tree's Extract commands go to. Null until set.
  CEntryHooks* GetHooks() const { return m_hooks; }
  void SetHooks(CEntryHooks* hooks) { m_hooks = hooks; }
  CEntryExport* GetExport() const { return m_export; }
  void SetExport(CEntryExport* entryExport) { m_export = entryExport; }
  // What the views show of the references between blocks. Null until set.
  CReferenceLinks* GetLinks() const { return m_links; }
  void SetLinks(CReferenceLinks* links) { m_links = links; }

  // What the windows show: every feature reads the entries here.
  const CShownArchive& Shown() const { return m_shown; }
  CShownArchive& Shown() { return m_shown; }
  // The opened entries and the changes pending over them.
  const CEntryMap& Entries() const { return m_shown.Opened(); }
  const CChangeSet& Changes() const { return m_shown.Changes(); }
  // Every change made since the archive was opened or saved, as a step.
  QUndoStack& GetUndoStack() { return m_undo; }
  // "N changes" for the status bar.
  QString ChangesText() const;
  // The names the last step (a change, its undo or redo) touched that are
  // shown after it, in the order it touched them: where the tree goes
  // when the entry it was on is gone (a rename undone).
  const std::vector<std::string>& StepNames() const { return m_stepNames; }
  void SetStepNames(std::vector<std::string> names) { m_stepNames = std::move(names); }

  // Reads the archive at `path` in place of the one shown (in a load
  // order, of its target) (changes and undo steps dropped), telling the
  // views before and after; false, with `reason`, when it cannot be read.
  bool Reload(const QString& path, QString& reason);
  // Opens the archives `paths` (first loaded first) as a load order in
  // place of what is shown; false, with `reason`, when one cannot be read.
  bool OpenOrder(const std::vector<std::string>& paths, QString& reason);
  // Whether the window shows a load order (a ".order" file) rather than
  // one archive.
  bool IsLoadOrder() const { return m_shown.Order() != nullptr; }
  static bool IsLoadOrderPath(const QString& path);
  // Changes the load order (the pending changes stay), telling the views
  // before and after, and the order's own pane through orderChanged; with
  // `undo`, refused when the new order would hide a pending change (the
  // status says why).
  CStatus ChangeOrder(const std::function<void(CShownOrder&)>& change,
                      const std::function<void(CShownOrder&)>& undo = {});
  // The archive Save writes: the opened one's path, or the load order's
  // target's; empty for a new document.
  QString SavedPath() const;
  // Called, while `owner` lives, after the document was read and after
  // every change of the load order.
  void AddOrderListener(QObject* owner, std::function<void()> listener);
  // The bar's Reload: reads the archive at the document's path anew, after
  // asking when changes are pending; the status bar says how it went.
  bool ReloadFromDisk();
  // Noticing another program's change to the opened file.
  CDiskWatch& GetDiskWatch() const { return *m_watch; }
  // What the bar says of the file as it stands now (empty: unchanged).
  QString DiskChangeWords() const;

 private:
  // After every step, undone or redone: title, status bar and views.
  void OnChanged();
  // What is shown came or changed: the features hear of it.
  void TellFeatures();
  // Watches the opened archive, and a load order's other archives.
  void WatchShown();
  DiskChange OpenedChange() const;

  CShownArchive m_shown;
  // Declared after the archive its steps point into, so it goes first.
  QUndoStack m_undo;
  std::vector<std::string> m_stepNames;
  std::unique_ptr<CDiskWatch> m_watch;
  std::vector<std::unique_ptr<CDocumentFeature>> m_features;
  CEntryHooks* m_hooks = nullptr;
  CEntryExport* m_export = nullptr;
  void NotifyOrderListeners();
  std::vector<std::pair<QPointer<QObject>, std::function<void()>>> m_orderListeners;
  CReferenceLinks* m_links = nullptr;
};
