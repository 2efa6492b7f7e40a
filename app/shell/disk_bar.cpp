#include "app/shell/disk_bar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

CDiskBar::CDiskBar(QWidget* parent) : QFrame(parent) {
  setObjectName(QStringLiteral("diskBar"));
  setAccessibleName(QStringLiteral("Archive changed on disk"));
  setFrameShape(QFrame::StyledPanel);
  setAutoFillBackground(true);
  // The system's colour for a tooltip: noticeable, readable in every theme.
  setBackgroundRole(QPalette::ToolTipBase);
  setForegroundRole(QPalette::ToolTipText);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(8, 4, 8, 4);
  m_label = new QLabel(this);
  m_label->setWordWrap(true);
  // However long the names it lists, the buttons stay in sight: the text
  // wraps to the room left beside them.
  m_label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  m_label->setMinimumWidth(200);
  m_label->setTextFormat(Qt::PlainText);
  m_label->setForegroundRole(QPalette::ToolTipText);
  m_reload = new QPushButton(QStringLiteral("&Reload"), this);
  m_keep = new QPushButton(QStringLiteral("&Keep Mine"), this);
  layout->addWidget(m_label, 1);
  layout->addWidget(m_reload);
  layout->addWidget(m_keep);
  connect(m_reload, &QPushButton::clicked, this, &CDiskBar::reload);
  connect(m_keep, &QPushButton::clicked, this, &CDiskBar::keep);
  hide();
}

void CDiskBar::Show(const QString& text, bool canReload) {
  m_label->setText(text);
  m_label->setAccessibleName(text);
  m_reload->setEnabled(canReload);
  show();
  raise();
}
