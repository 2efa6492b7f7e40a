// The tree pane's context menu: "Extract...", "Extract All...", the Edit
// menu's commands on entries (with their keys) and "Copy Name", opened by a
// right click on an item, or by the Menu key or Shift+F10 on the current
// item.
//
// The Extract commands go to the document's extraction (app/extract/),
// which the tree reaches through the document alone.
#pragma once

#include <QModelIndex>
#include <QPersistentModelIndex>
#include <QObject>
#include <QPoint>
#include <QString>

#include <string>
#include <vector>

class CLeftView;
class QMenu;

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
  void ShowMenuAtCurrentItem();

  CLeftView* m_tree;
};
