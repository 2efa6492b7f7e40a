// The names of defined blocks in the list's values, shown as links: where
// each lies in a value, which one a point of the cell falls on, and the
// delegate that paints them (link colour, underlined) over the view's own.
#pragma once

#include <QStyledItemDelegate>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CReferenceLinks;
class QFontMetrics;

// A run of a value's bytes, which are its text's characters one for one.
struct CTokenSpan {
  int start;
  int length;
};

// The tokens of `value` that name a defined block, left to right.
std::vector<CTokenSpan> ReferenceSpans(const CReferenceLinks& links, std::string_view value);
// The link under `x` pixels from the start of the value's text, drawn
// with `metrics`; nothing when `x` is on none.
std::optional<std::string> ReferenceAtX(const CReferenceLinks& links, std::string_view value,
                                        const QFontMetrics& metrics, int x);

// Paints the Value cells that hold links; every other cell, and editing,
// goes to `base`, the view's own delegate.
class CValueLinkDelegate : public QStyledItemDelegate {
 public:
  CValueLinkDelegate(QAbstractItemDelegate* base, QObject* parent)
      : QStyledItemDelegate(parent), m_base(base) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override;
  void setEditorData(QWidget* editor, const QModelIndex& index) const override {
    m_base->setEditorData(editor, index);
  }
  void setModelData(QWidget* editor, QAbstractItemModel* model,
                    const QModelIndex& index) const override {
    m_base->setModelData(editor, model, index);
  }
  void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const override {
    m_base->updateEditorGeometry(editor, option, index);
  }

  // Where the text of a cell at `cell` starts, as the style places it.
  static int TextLeft(const QWidget* view, const QRect& cell);

 private:
  QAbstractItemDelegate* m_base;
};
