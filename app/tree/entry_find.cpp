#include "app/tree/entry_find.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

CEntryFindBar::CEntryFindBar(QWidget* parent)
    : QWidget(parent), m_field(new QLineEdit(this)), m_noMatch(new QLabel(m_field)) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(m_field);
  m_field->setAccessibleName(QStringLiteral("Find entry"));
  m_field->setPlaceholderText(QStringLiteral("Find entry"));
  m_field->setClearButtonEnabled(false);
  m_field->installEventFilter(this);

  m_noMatch->setText(QStringLiteral("no match"));
  // The colour the field gives its placeholder text: a hint, not content.
  QPalette palette = m_noMatch->palette();
  palette.setColor(QPalette::WindowText, m_field->palette().color(QPalette::PlaceholderText));
  m_noMatch->setPalette(palette);
  m_noMatch->setAttribute(Qt::WA_TransparentForMouseEvents);
  m_noMatch->hide();

  connect(m_field, &QLineEdit::textEdited, this, &CEntryFindBar::TextEdited);
  connect(m_field, &QLineEdit::returnPressed, this, &CEntryFindBar::NextRequested);
}

QString CEntryFindBar::GetText() const { return m_field->text(); }

void CEntryFindBar::SetNoMatch(bool noMatch) {
  if (noMatch == m_noMatch->isVisible()) return;
  m_noMatch->setVisible(noMatch);
  // Said to a screen reader too, which does not see the note's colour.
  m_field->setAccessibleDescription(noMatch ? m_noMatch->text() : QString());
  // Typed text never runs under the note.
  const int room = noMatch ? m_noMatch->sizeHint().width() + 6 : 0;
  m_field->setTextMargins(0, 0, room, 0);
  PlaceNoMatch();
}

void CEntryFindBar::PlaceNoMatch() {
  const QSize hint = m_noMatch->sizeHint();
  m_noMatch->setGeometry(m_field->width() - hint.width() - 6,
                         (m_field->height() - hint.height()) / 2, hint.width(), hint.height());
}

bool CEntryFindBar::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_field) {
    if (event->type() == QEvent::Resize) PlaceNoMatch();
    if (event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
      emit CloseRequested();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}
