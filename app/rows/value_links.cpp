#include "app/rows/value_links.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QStringListModel>

#include "app/document/entry_text.h"
#include "app/document/reference_links.h"
#include "app/rows/tarn_editor_view.h"
#include "rules/rules_refs.h"

std::vector<CTokenSpan> ReferenceSpans(const CReferenceLinks& links, std::string_view value) {
  std::vector<CTokenSpan> spans;
  ForEachValueToken(value, [&](std::string_view token) {
    if (links.IsDefined(token))
      spans.push_back(
          {static_cast<int>(token.data() - value.data()), static_cast<int>(token.size())});
  });
  return spans;
}

namespace {

// Calls visit(start, length, isLink, left, right) for the runs of `text`,
// plain and links, left to right, until one would start `until` pixels or
// more from the text's start. Each run is placed after the one before by
// its own width: a value can be megabytes long and name thousands of
// blocks, and measuring each run from the text's start cost the square of
// their number, which froze the window.
template <typename Visit>
void ForEachRun(const QString& text, const std::vector<CTokenSpan>& spans,
                const QFontMetricsF& metrics, qreal until, Visit&& visit) {
  qreal x = 0;
  int at = 0;
  const auto run = [&](int end, bool isLink) {
    if (end <= at) return true;
    if (x >= until) return false;
    const qreal width = metrics.horizontalAdvance(text.mid(at, end - at));
    visit(at, end - at, isLink, x, x + width);
    x += width;
    at = end;
    return true;
  };
  for (const CTokenSpan& span : spans)
    if (!run(span.start, false) || !run(span.start + span.length, true)) return;
  run(static_cast<int>(text.size()), false);
}

}  // namespace

std::optional<std::string> ReferenceAtX(const CReferenceLinks& links, std::string_view value,
                                        const QFontMetrics& metrics, int x) {
  std::optional<std::string> found;
  ForEachRun(BytesToText(value), ReferenceSpans(links, value), QFontMetricsF(metrics), x + 1,
             [&](int start, int length, bool isLink, qreal left, qreal right) {
               if (isLink && x >= left && x < right)
                 found = std::string(
                     value.substr(static_cast<size_t>(start), static_cast<size_t>(length)));
             });
  return found;
}

int CValueLinkDelegate::TextLeft(const QWidget* view, const QRect& cell) {
  const QStyle* style = view != nullptr ? view->style() : QApplication::style();
  return cell.left() + style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
}

void CValueLinkDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
  const auto* model = qobject_cast<const CRulesRowModel*>(index.model());
  const CReferenceLinks* links = model != nullptr ? model->GetLinks() : nullptr;
  const std::string_view value =
      model != nullptr ? model->LinkableValue(index) : std::string_view();
  const std::vector<CTokenSpan> spans = links != nullptr && !value.empty()
                                            ? ReferenceSpans(*links, value)
                                            : std::vector<CTokenSpan>();
  if (spans.empty()) {
    m_base->paint(painter, option, index);
    return;
  }
  QStyleOptionViewItem cell = option;
  initStyleOption(&cell, index);
  const QString text = cell.text;
  cell.text.clear();
  const QWidget* widget = cell.widget;
  QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
  // The cell's background, selection and focus as the style draws them,
  // then the text in runs: plain, and the links.
  style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);
  const bool selected = cell.state & QStyle::State_Selected;
  const QPalette::ColorGroup group = !(cell.state & QStyle::State_Enabled) ? QPalette::Disabled
                                     : cell.state & QStyle::State_Active   ? QPalette::Normal
                                                                           : QPalette::Inactive;
  const QColor plain =
      cell.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
  const QColor link = selected ? plain : cell.palette.color(group, QPalette::Link);
  QFont underlined = cell.font;
  underlined.setUnderline(true);
  const QFontMetrics metrics(cell.font);
  const int left = TextLeft(widget, cell.rect);
  const int baseline =
      cell.rect.top() + (cell.rect.height() - metrics.height()) / 2 + metrics.ascent();
  painter->save();
  painter->setClipRect(cell.rect.adjusted(0, 0, -(left - cell.rect.left()), 0));
  // Only the runs that start inside the cell: the rest are clipped.
  ForEachRun(text, spans, QFontMetricsF(cell.font), cell.rect.right() - left,
             [&](int start, int length, bool isLink, qreal x, qreal) {
               painter->setFont(isLink ? underlined : cell.font);
               painter->setPen(isLink ? link : plain);
               painter->drawText(QPointF(left + x, baseline), text.mid(start, length));
             });
  painter->restore();
}

namespace {

// Offers what a value may be for the token being typed (the text from the
// last blank before the cursor): as it is typed, and on Ctrl+Space with
// or without one. The values are asked for as the editor opens; what is
// typed before they come is offered for when they do.
class CValueCompletion : public QObject {
 public:
  CValueCompletion(QLineEdit* field, CReferenceLinks& links, std::string_view key)
      : QObject(field), m_field(field), m_completer(new QCompleter(this)) {
    m_completer->setWidget(field);
    m_completer->setCompletionMode(QCompleter::PopupCompletion);
    m_completer->setModelSorting(QCompleter::UnsortedModel);
    m_completer->setCaseSensitivity(Qt::CaseInsensitive);
    m_completer->popup()->setAccessibleName(QStringLiteral("Completions"));
    field->installEventFilter(this);
    connect(field, &QLineEdit::textEdited, this, [this] { Offer(false); });
    connect(m_completer, qOverload<const QString&>(&QCompleter::activated), this,
            &CValueCompletion::Insert);
    links.AskCompletions(key, this, [this](const QStringList& values) {
      m_completer->setModel(new QStringListModel(values, m_completer));
      // After the completer's own filter, which a new model puts back on
      // the list: this one sees Enter first.
      m_completer->popup()->installEventFilter(this);
      m_arrived = true;
      if (m_wanted) Offer(m_always);
    });
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    if (watched == m_field && key->key() == Qt::Key_Space &&
        key->modifiers() == Qt::ControlModifier) {
      Offer(true);
      return true;
    }
    // Enter on an offer of just what was typed commits the value: the
    // completer would only close its list, and an Escape after that lost
    // the edit.
    if (watched == m_completer->popup() &&
        (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && OffersOnlyTyped()) {
      m_completer->popup()->hide();
      QCoreApplication::sendEvent(m_field, key);
      return true;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  // Where the token before the cursor starts.
  int TokenStart() const {
    const QString text = m_field->text();
    int start = m_field->cursorPosition();
    while (start > 0 && text[start - 1] != QLatin1Char(' ') && text[start - 1] != QLatin1Char('\t'))
      --start;
    return start;
  }

  // The token typed so far: from its start to the cursor.
  QString TypedToken() const {
    const int start = TokenStart();
    return m_field->text().mid(start, m_field->cursorPosition() - start);
  }

  void Offer(bool always) {
    if (!m_arrived) {
      m_wanted = true;
      m_always = m_always || always;
      return;
    }
    m_wanted = m_always = false;
    const QString prefix = TypedToken();
    m_completer->setCompletionPrefix(prefix);
    if ((prefix.isEmpty() && !always) || m_completer->completionCount() == 0) {
      m_completer->popup()->hide();
      return;
    }
    m_completer->popup()->setCurrentIndex(m_completer->completionModel()->index(0, 0));
    m_completer->complete();
  }

  // Whether the offer chosen in the list is the token typed, as typed.
  bool OffersOnlyTyped() const {
    const QModelIndex chosen = m_completer->popup()->currentIndex();
    return !chosen.isValid() || chosen.data().toString() == TypedToken();
  }

  void Insert(const QString& chosen) {
    const int start = TokenStart();
    QString text = m_field->text();
    text.replace(start, m_field->cursorPosition() - start, chosen);
    m_field->setText(text);
    m_field->setCursorPosition(start + static_cast<int>(chosen.size()));
  }

  QLineEdit* m_field;
  QCompleter* m_completer;
  bool m_arrived = false;  // the values to offer came
  bool m_wanted = false;   // and were asked for before they did
  bool m_always = false;
};

}  // namespace

QWidget* CValueLinkDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                          const QModelIndex& index) const {
  QWidget* editor = m_base->createEditor(parent, option, index);
  const auto* model = qobject_cast<const CRulesRowModel*>(index.model());
  auto* field = qobject_cast<QLineEdit*>(editor);
  if (field == nullptr || model == nullptr || model->GetLinks() == nullptr ||
      static_cast<size_t>(index.row()) >= model->GetRows().size())
    return editor;
  new CValueCompletion(field, *model->GetLinks(),
                       model->GetRows()[static_cast<size_t>(index.row())].name);
  return editor;
}
