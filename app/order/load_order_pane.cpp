#include "app/order/load_order_pane.h"

#include <QContextMenuEvent>
#include <QDir>
#include <QPointer>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>

#include "app/document/entry_text.h"
#include "app/document/status_text.h"
#include "app/document/tarn_editor_doc.h"
#include "app/framework/splitter.h"
#include "app/framework/win_app.h"
#include "archive/shown_order.h"

namespace {

enum Column { kArchive, kWins, kLoses, kOnly, kRelation, kColumns };

}  // namespace

std::vector<COrderRelation> RelationsTo(const CShownOrder& order, size_t archive) {
  std::vector<COrderRelation> relations(order.Archives().size());
  for (const CShownOrder::CShownName& name : order.Names()) {
    for (uint32_t i = name.first; i < name.first + name.count; ++i) {
      const uint32_t copy = order.Shadowed()[i].archive;
      if (copy == name.archive) continue;
      if (name.archive == archive) relations[copy].overriddenBy = true;
      if (copy == archive) relations[name.archive].overrides = true;
    }
  }
  return relations;
}

CLoadOrderList::CLoadOrderList(CTarnEditorDoc& document) : m_document(document) {
  setObjectName(QStringLiteral("loadOrder"));
  setAccessibleName(QStringLiteral("Load Order"));
  setColumnCount(kColumns);
  // The last column says how each archive stands to the selected one; a
  // screen reader names it by its header too.
  setHeaderLabels({QStringLiteral("Archive"), QStringLiteral("Wins"), QStringLiteral("Loses"),
                   QStringLiteral("Only"), QStringLiteral("To Selected")});
  setRootIsDecorated(false);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setDragDropMode(QAbstractItemView::InternalMove);
  header()->setStretchLastSection(true);
  connect(this, &QTreeWidget::itemChanged, this, &CLoadOrderList::OnItemChanged);
  connect(this, &QTreeWidget::itemSelectionChanged, this, &CLoadOrderList::MarkRelations);
  connect(&document.GetUndoStack(), &QUndoStack::indexChanged, this, &CLoadOrderList::Fill);
  Fill();
}

void CLoadOrderList::Fill() {
  const CShownOrder* order = m_document.Shown().Order();
  if (order == nullptr) return;
  const std::optional<size_t> kept = Selected();
  m_filling = true;
  // Items are kept and written over: a check box's change fills the list
  // while that item's own signal is still being sent.
  const auto count = static_cast<int>(order->Archives().size());
  while (topLevelItemCount() > count) delete takeTopLevelItem(topLevelItemCount() - 1);
  while (topLevelItemCount() < count) new QTreeWidgetItem(this);
  // As the tree shows the names: pending changes counted as saved.
  const std::vector<CArchiveTally> tallies = m_document.Shown().Tallies();
  for (size_t a = 0; a < order->Archives().size(); ++a) {
    const CShownOrder::CArchive& archive = order->Archives()[a];
    const CArchiveTally& tally = tallies[a];
    QTreeWidgetItem* item = topLevelItem(static_cast<int>(a));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable |
                   Qt::ItemIsDragEnabled);
    item->setText(kArchive, BytesToText(CShownOrder::FileName(archive.path)));
    item->setToolTip(kArchive, QString::fromStdString(archive.path));
    item->setCheckState(kArchive, archive.taken ? Qt::Checked : Qt::Unchecked);
    item->setText(kWins, QString::number(tally.wins));
    item->setText(kLoses, QString::number(tally.loses));
    item->setText(kOnly, QString::number(tally.only));
    for (int column = kWins; column <= kOnly; ++column)
      item->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
    QFont font = item->font(kArchive);
    font.setBold(a == order->Target());
    item->setFont(kArchive, font);
    item->setData(kArchive, Qt::AccessibleDescriptionRole,
                  a == order->Target() ? QStringLiteral("target") : QString());
  }
  for (int column = 0; column < kRelation; ++column) resizeColumnToContents(column);
  m_filling = false;
  if (kept && *kept < static_cast<size_t>(topLevelItemCount()))
    setCurrentItem(topLevelItem(static_cast<int>(*kept)));
  MarkRelations();
}

std::optional<size_t> CLoadOrderList::Selected() const {
  const QList<QTreeWidgetItem*> items = selectedItems();
  if (items.isEmpty()) return std::nullopt;
  return static_cast<size_t>(indexOfTopLevelItem(items.front()));
}

void CLoadOrderList::MarkRelations() {
  const CShownOrder* order = m_document.Shown().Order();
  if (order == nullptr || m_filling) return;
  const std::optional<size_t> selected = Selected();
  const std::vector<COrderRelation> relations =
      selected ? RelationsTo(*order, *selected) : std::vector<COrderRelation>();
  // The marks change items, which is not the user changing them.
  m_filling = true;
  for (int row = 0; row < topLevelItemCount(); ++row) {
    QTreeWidgetItem* item = topLevelItem(row);
    QString words;
    QBrush colour;
    if (selected && static_cast<size_t>(row) < relations.size()) {
      const COrderRelation relation = relations[static_cast<size_t>(row)];
      // Colour and words both: the words are what a screen reader and a
      // user who cannot tell the colours apart go by.
      if (relation.overrides && relation.overriddenBy) {
        words = QStringLiteral("overrides it and is overridden");
        colour = QBrush(QColor(0xF5, 0xE6, 0xA8));
      } else if (relation.overrides) {
        words = QStringLiteral("▲ overrides it");
        colour = QBrush(QColor(0xF6, 0xC6, 0xC0));
      } else if (relation.overriddenBy) {
        words = QStringLiteral("▼ overridden by it");
        colour = QBrush(QColor(0xC8, 0xE6, 0xC9));
      }
    }
    item->setText(kRelation, words);
    for (int column = 0; column < kColumns; ++column) item->setBackground(column, colour);
  }
  m_filling = false;
}

void CLoadOrderList::OnItemChanged(QTreeWidgetItem* item, int column) {
  if (m_filling || column != kArchive) return;
  const auto archive = static_cast<size_t>(indexOfTopLevelItem(item));
  const bool taken = item->checkState(kArchive) == Qt::Checked;
  const CShownOrder* order = m_document.Shown().Order();
  if (order == nullptr || archive >= order->Archives().size() ||
      order->Archives()[archive].taken == taken)
    return;
  CStatus refused;
  const CStatus hidden =
      m_document.ChangeOrder([&](CShownOrder& changed) { refused = changed.Take(archive, taken); },
                             [&](CShownOrder& changed) { changed.Take(archive, !taken); });
  if (!refused.IsOk()) ShowStatusText(StatusText(refused));
  TellRefused(hidden);
  Fill();
}

void CLoadOrderList::TellRefused(const CStatus& hidden) {
  if (!hidden.IsOk())
    ShowStatusText(QStringLiteral("Cannot change the load order: ") + StatusText(hidden) +
                   QStringLiteral("; save or undo that change first"));
}

void CLoadOrderList::MoveSelected(int by) {
  const std::optional<size_t> from = Selected();
  if (!from) return;
  const auto to = static_cast<int64_t>(*from) + by;
  if (to < 0 || to >= topLevelItemCount()) return;
  MoveArchive(*from, static_cast<size_t>(to));
}

void CLoadOrderList::MoveArchive(size_t from, size_t to) {
  const CStatus hidden = m_document.ChangeOrder([&](CShownOrder& order) { order.Move(from, to); },
                                                [&](CShownOrder& order) { order.Move(to, from); });
  TellRefused(hidden);
  m_filling = true;
  setCurrentItem(topLevelItem(static_cast<int>(hidden.IsOk() ? to : from)));
  m_filling = false;
  Fill();
}

void CLoadOrderList::MakeTarget(size_t archive) {
  const CShownOrder* order = m_document.Shown().Order();
  if (order == nullptr) return;
  const size_t before = order->Target();
  TellRefused(m_document.ChangeOrder([&](CShownOrder& o) { o.SetTarget(archive); },
                                     [&](CShownOrder& o) { o.SetTarget(before); }));
  Fill();
}

void CLoadOrderList::NewModArchive() {
  CWinApp* app = AfxGetApp();
  if (app == nullptr) return;
  const QString path =
      app->PromptDocumentSaveName(QStringLiteral("New Mod Archive"), QStringLiteral("mod.big"));
  if (path.isEmpty()) return;
  m_document.ChangeOrder([&](CShownOrder& order) { order.AddNewArchive(NativePath(path)); });
  Fill();
  ShowStatusText(QStringLiteral("Changes now go to %1, written on Save")
                     .arg(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath())));
}

void CLoadOrderList::keyPressEvent(QKeyEvent* event) {
  if (event->modifiers() == Qt::AltModifier &&
      (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down)) {
    MoveSelected(event->key() == Qt::Key_Up ? -1 : 1);
    return;
  }
  QTreeWidget::keyPressEvent(event);
}

void CLoadOrderList::dropEvent(QDropEvent* event) {
  // The order moves in the document, and the list is filled from it: the
  // widget's own move of the item is not taken.
  const std::optional<size_t> from = Selected();
  QTreeWidgetItem* onto = itemAt(event->position().toPoint());
  event->ignore();
  if (!from) return;
  int to = onto != nullptr ? indexOfTopLevelItem(onto) : topLevelItemCount() - 1;
  if (to < 0 || static_cast<size_t>(to) == *from) return;
  MoveArchive(*from, static_cast<size_t>(to));
}

void CLoadOrderList::contextMenuEvent(QContextMenuEvent* event) {
  const std::optional<size_t> selected = Selected();
  QMenu menu(this);
  if (selected) {
    menu.addAction(QStringLiteral("Make Target"), this, [this, at = *selected] { MakeTarget(at); });
    menu.addAction(QStringLiteral("Show Its Entries"), this,
                   [this, at = *selected] { emit showEntriesOf(at); });
  }
  menu.addAction(QStringLiteral("Show All Entries"), this,
                 [this] { emit showEntriesOf(std::nullopt); });
  menu.addSeparator();
  menu.addAction(QStringLiteral("Move Up\tAlt+Up"), this, [this] { MoveSelected(-1); });
  menu.addAction(QStringLiteral("Move Down\tAlt+Down"), this, [this] { MoveSelected(1); });
  menu.addAction(QStringLiteral("New Mod Archive..."), this, [this] { NewModArchive(); });
  menu.exec(event->globalPos());
}

CLoadOrderPane::CLoadOrderPane(CTarnEditorDoc& document)
    : QSplitter(Qt::Vertical), m_list(new CLoadOrderList(document)) {
  addWidget(m_list);
}

CLoadOrderPane* CLoadOrderPane::Install(CSplitterWnd* splitter, QWidget* tree,
                                        CTarnEditorDoc* document) {
  if (document == nullptr || !document->IsLoadOrder()) return nullptr;
  const int index = splitter->indexOf(tree);
  if (index < 0) return nullptr;
  auto* pane = new CLoadOrderPane(*document);
  // The tree keeps its place in the splitter's grid; in the widget tree the
  // pane stands between them, with the archives above the entries.
  splitter->replaceWidget(index, pane);
  pane->addWidget(tree);
  pane->setStretchFactor(1, 1);
  tree->show();
  // Moved into the pane, the tree lost the focus the window gave it, and
  // the keyboard was left nowhere.
  tree->setFocus(Qt::OtherFocusReason);
  document->AddOrderListener(pane->m_list, [list = pane->m_list] { list->Fill(); });
  return pane;
}
