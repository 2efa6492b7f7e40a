#include "app/framework/views.h"

#include <QApplication>
#include <QHeaderView>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTextLayout>

#include <cstring>

namespace {

// Lays `layout` out in lines `width` wide, one under the other, keeping its
// glyphs for the drawing, which would otherwise shape the text again.
void LayOutLines(QTextLayout& layout, const QTextOption& option, int width) {
  layout.setTextOption(option);
  layout.setCacheEnabled(true);
  qreal height = 0;
  layout.beginLayout();
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(width);
    line.setPosition(QPointF(0, height));
    height += line.height();
  }
  layout.endLayout();
}

// Paints a cell of plain text as the Fusion style paints an item view's
// cell, with fewer text layouts. The style shapes a cell's text four times:
// to find its rect, to see whether it needs eliding and where it starts, to
// lay it out, and again to draw it. A list repainted whole at every selection
// spent most of its painting there. The steps below are the style's own for a
// cell with one line of text alone (the background, the pen, the text elided
// and placed as the style places it), and a test holds the two to the same
// pixels. Whatever else a cell may need is left to the style as before:
// another style (which may draw cells its own way), the focused cell, an
// icon, a check box.
}  // namespace

class CTextCellDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  // The name a screen reader hears for a cell's in-place editor.
  void SetEditorName(const QString& name) { m_editorName = name; }

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override {
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (editor != nullptr && !m_editorName.isEmpty()) editor->setAccessibleName(m_editorName);
    return editor;
  }

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    const QWidget* widget = cell.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    if (!PaintText(painter, cell, *style)) {
      style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);
    }
  }

 private:
  // Paints `cell` and returns true, or paints nothing and returns false
  // where it is not a cell of one line of plain text in Fusion.
  static bool PaintText(QPainter* painter, const QStyleOptionViewItem& cell, const QStyle& style) {
    constexpr QStyleOptionViewItem::ViewItemFeatures kOtherParts =
        QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDecoration |
        QStyleOptionViewItem::WrapText;
    if (std::strcmp(style.metaObject()->className(), "QFusionStyle") != 0 ||
        (cell.features & kOtherParts) || !cell.showDecorationSelected ||
        cell.decorationPosition != QStyleOptionViewItem::Left ||
        cell.direction != Qt::LeftToRight ||
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
    LayOutLines(layout, textOption, textRect.width());
    if (layout.lineCount() != 1) return false;
    const QTextLine line = layout.lineAt(0);
    const bool elide = line.naturalTextWidth() > textRect.width();
    // U+009C separates the variants of a text that eliding picks from.
    if (line.textLength() != cell.text.size() || (elide && cell.text.contains(QChar(0x9C)))) {
      return false;
    }
    // The text's height centred as its alignment says; it starts at the left
    // of its rect whatever that alignment, which the layout applies itself.
    const QRect layoutRect = QStyle::alignedRect(Qt::LayoutDirectionAuto, cell.displayAlignment,
                                                 layout.boundingRect().size().toSize(), textRect);
    if (line.height() + layoutRect.top() <= textRect.top()) return false;
    if (elide) {
      const QFontMetrics metrics(cell.font);
      layout.setText(metrics.elidedText(cell.text, cell.textElideMode, textRect.width()));
      LayOutLines(layout, textOption, textRect.width());
    }

    painter->save();
    painter->setClipRegion(painter->hasClipping() ? painter->clipRegion() & cell.rect
                                                  : QRegion(cell.rect));
    style.drawPrimitive(QStyle::PE_PanelItemViewItem, &cell, painter, widget);
    QPalette::ColorGroup group =
        cell.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
    if (group == QPalette::Normal && !(cell.state & QStyle::State_Active)) {
      group = QPalette::Inactive;
    }
    painter->setPen(cell.palette.color(
        group, cell.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text));
    layout.draw(painter, QPointF(textRect.x(), layoutRect.top()));
    painter->restore();
    return true;
  }

  QString m_editorName;
};

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
  m_cells = new CTextCellDelegate(this);
  setItemDelegate(m_cells);
}

void CListView::NameCellEditors(const QString& name) { m_cells->SetEditorName(name); }

void CListView::SetColumnWidth(int column, int width) { header()->resizeSection(column, width); }

int CListView::GetColumnWidth(int column) const { return header()->sectionSize(column); }
