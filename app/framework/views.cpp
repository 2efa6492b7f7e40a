#include "app/framework/views.h"

#include <QApplication>
#include <QHeaderView>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTextLayout>

#include <cstring>

namespace {

// Paints a cell of plain text as the Fusion style paints an item view's
// cell, but shapes its text once. The style shapes a cell's text four times:
// to find its rect, to see whether it needs eliding and where it starts, to
// lay it out, and again to draw it. A list repainted whole at every selection
// spent most of its painting there. The steps below are the style's own for a
// cell with text alone (the background, the pen, the text at the same place),
// and a test holds the two to the same pixels. Whatever else a cell may need
// is left to the style as before: another style (which may draw cells its own
// way), the focused cell, text that must be elided, an icon, a check box.
class CTextCellDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    const QWidget* widget = cell.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    if (!PaintText(painter, cell, *style)) style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);
  }

 private:
  // Paints `cell` and returns true, or paints nothing and returns false
  // where it is not a cell of plain text in Fusion.
  static bool PaintText(QPainter* painter, const QStyleOptionViewItem& cell, const QStyle& style) {
    constexpr QStyleOptionViewItem::ViewItemFeatures kOtherParts =
        QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDecoration |
        QStyleOptionViewItem::WrapText;
    if (std::strcmp(style.metaObject()->className(), "QFusionStyle") != 0 ||
        (cell.features & kOtherParts) || !cell.showDecorationSelected ||
        cell.decorationPosition != QStyleOptionViewItem::Left || cell.direction != Qt::LeftToRight ||
        (cell.state & (QStyle::State_HasFocus | QStyle::State_Editing)) || cell.text.isEmpty()) {
      return false;
    }
    const QWidget* widget = cell.widget;
    // With neither icon nor check box the text has the whole cell, less a
    // margin at either side.
    const int margin = style.pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const QRect textRect = cell.rect.adjusted(margin, 0, -margin, 0);
    QTextOption textOption;
    textOption.setWrapMode(QTextOption::ManualWrap);
    textOption.setTextDirection(cell.direction);
    textOption.setAlignment(QStyle::visualAlignment(cell.direction, cell.displayAlignment));
    QTextLayout layout(cell.text, cell.font);
    layout.setTextOption(textOption);
    // Kept from the layout to the drawing, which would shape it again.
    layout.setCacheEnabled(true);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(textRect.width());
    line.setPosition(QPointF(0, 0));
    const bool moreLines = layout.createLine().isValid();
    layout.endLayout();
    if (moreLines || line.textLength() != cell.text.size() || line.naturalTextWidth() > textRect.width()) {
      return false;
    }
    const QRect layoutRect = QStyle::alignedRect(Qt::LayoutDirectionAuto, cell.displayAlignment,
                                                 layout.boundingRect().size().toSize(), textRect);
    if (line.height() + layoutRect.top() <= textRect.top()) return false;

    painter->save();
    painter->setClipRegion(painter->hasClipping() ? painter->clipRegion() & cell.rect : QRegion(cell.rect));
    style.drawPrimitive(QStyle::PE_PanelItemViewItem, &cell, painter, widget);
    QPalette::ColorGroup group = cell.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
    if (group == QPalette::Normal && !(cell.state & QStyle::State_Active)) group = QPalette::Inactive;
    painter->setPen(cell.palette.color(
        group, cell.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text));
    layout.draw(painter, QPointF(textRect.x(), layoutRect.top()));
    painter->restore();
    return true;
  }
};

}  // namespace

CTreeView::CTreeView() {
  setHeaderHidden(true);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSortingEnabled(false);
  setFrameShape(QFrame::StyledPanel);
}

CListView::CListView() {
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSortingEnabled(false);
  setFrameShape(QFrame::StyledPanel);
  header()->setStretchLastSection(false);
  header()->setSectionsMovable(false);
  header()->setSectionResizeMode(QHeaderView::Interactive);
  setItemDelegate(new CTextCellDelegate(this));
}

void CListView::SetColumnWidth(int column, int width) { header()->resizeSection(column, width); }

int CListView::GetColumnWidth(int column) const { return header()->sectionSize(column); }
