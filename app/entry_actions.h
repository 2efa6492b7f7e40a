// The tree pane's context menu: "Extract...", "Extract All...", the Edit
// menu's commands on entries (with their keys) and "Copy Name", opened by a
// right click on an item, or by the Menu key or Shift+F10 on the current
// item.
//
// Extraction is the core's (archive/extract.h), the same code and rules as
// `tarn extract`; this file only asks where, shows progress and reports.
// Nothing here writes to the open archive: a destination that is the
// archive's own file, under any name, is refused.
#pragma once

#include <QModelIndex>
#include <QPersistentModelIndex>
#include <QObject>
#include <QPoint>
#include <QString>

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "archive/extract.h"
#include "archive/shown_archive.h"

class CLeftView;
class QMenu;
class QMimeData;

// Dragging entries out onto a file manager: `entries` written under
// `folder` (a private one of ours) by the extraction, with its name rules,
// so no name can reach outside it. The mime data holds a file URL for each
// entry written; the others go to `problems`. Null when none was written.
std::unique_ptr<QMimeData> ExtractForDrag(const QString& folder,
                                          std::span<const CExtractEntry> entries,
                                          std::vector<CEntryProblem>& problems);

class CEntryActions : public QObject {
  Q_OBJECT

 public:
  // Becomes a child of `tree` and gives it the context menu.
  explicit CEntryActions(CLeftView* tree);

  // The menu for the item at `index` (the entry actions need one; Extract
  // All does not). The caller owns it.
  QMenu* BuildMenu(const QModelIndex& index);

  void ExtractEntry(const QModelIndex& index);
  void ExtractAll();
  // The selected entries and everything under the selected folders.
  void ExtractSelected();
  void CopyName(const QModelIndex& index);
  // The entries of `shown` (those of `only`, sorted, when given) to
  // extract; none, with `refusal`, when they would be read from an opened
  // file that changed in place.
  std::vector<CExtractEntry> ExtractableEntries(const CShownSnapshot& shown,
                                                const std::vector<std::string>* only,
                                                QString& refusal) const;

  // Tests answer the dialogs through these instead of showing them; an
  // empty answer is a cancel.
  struct CDialogs {
    std::function<QString(const QString& suggested)> saveFile;
    std::function<QString()> chooseFolder;
    std::function<void(const QString& text)> showProblems;
  };
  static void SetDialogsForTests(CDialogs dialogs);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OnContextMenu(const QPoint& position);
  // The item becomes the current one (the only one selected, unless it is
  // part of the selection), as the commands act on those.
  void MakeCurrent(const QModelIndex& index);
  // A menu item running command `id` of the tree's window on `item`;
  // offered when the item `fits` the command and the window takes it.
  void AddCommand(QMenu* menu, const QString& text, int id, const QPersistentModelIndex& item,
                  bool fits);
  // Asks for a folder and extracts `entries` into it, with progress.
  void ExtractToFolder(std::vector<CExtractEntry> entries, const QString& title);
  void ShowMenuAtCurrentItem();
  void SetStatus(const QString& text);
  // "PATH: has changed on disk since it was opened", as Save As says it.
  QString ArchiveChangedText() const;

  CLeftView* m_tree;
};
