// The Load Order pane of a load-order window: its archives, first loaded at
// the top, each with the names it wins, loses to a later archive, and
// holds alone. Above the tree, in the same column.
//
// Alt+Up / Alt+Down or a drag move the selected archive; its check box
// leaves it out; the target, where changes are written, is bold. Selecting
// an archive marks (colour and words) the archives it overrides and those
// that override it.
#pragma once

#include <QSplitter>
#include <QTreeWidget>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "storage/status.h"

class CShownOrder;
class CSplitterWnd;
class CTarnEditorDoc;

// How one archive of the order stands to another: whether it overrides
// names of that one, and is overridden by it.
struct COrderRelation {
  bool overrides = false;
  bool overriddenBy = false;
};
// How each archive stands to `archive`, counted over the names shown.
std::vector<COrderRelation> RelationsTo(const CShownOrder& order, size_t archive);

class CLoadOrderList : public QTreeWidget {
  Q_OBJECT

 public:
  explicit CLoadOrderList(CTarnEditorDoc& document);

  // Lists the document's order as it stands.
  void Fill();
  // The selected archive's place in the order.
  std::optional<size_t> Selected() const;
  // Moves the selected archive one place up (-1) or down (+1).
  void MoveSelected(int by);
  void MakeTarget(size_t archive);
  // Asks where, then adds a new, empty archive at the end as the target.
  void NewModArchive();

 signals:
  // Show Its Entries: list every entry of an archive, each marked won,
  // unique, lost or left out; nothing (Show All Entries) shows the names
  // the game sees again.
  void showEntriesOf(std::optional<size_t> archive);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void MarkRelations();
  void OnItemChanged(QTreeWidgetItem* item, int column);
  void MoveArchive(size_t from, size_t to);
  // Says why a change of the order was refused: it hid a pending change.
  void TellRefused(const CStatus& hidden);

  CTarnEditorDoc& m_document;
  bool m_filling = false;
};

class CLoadOrderPane : public QSplitter {
  Q_OBJECT

 public:
  // Puts the pane above `tree` in the splitter's column; null (and nothing
  // changed) unless the document shows a load order.
  static CLoadOrderPane* Install(CSplitterWnd* splitter, QWidget* tree, CTarnEditorDoc* document);
  CLoadOrderList* GetList() const { return m_list; }

 private:
  explicit CLoadOrderPane(CTarnEditorDoc& document);
  CLoadOrderList* m_list;
};
