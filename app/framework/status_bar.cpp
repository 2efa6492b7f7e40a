#include "app/framework/status_bar.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QMainWindow>

#include "app/framework/command_ids.h"
#include "app/framework/win_app.h"

namespace {

// The indicator texts are the framework's own.
QString IndicatorText(int id) {
  switch (id) {
    case ID_INDICATOR_CAPS: return QStringLiteral("CAP");
    case ID_INDICATOR_NUM: return QStringLiteral("NUM");
    case ID_INDICATOR_SCRL: return QStringLiteral("SCRL");
    default: return QString();
  }
}

// What each pane is, for a screen reader: its text alone ("CAP", or blank
// while the key is off) does not say.
QString PaneName(int id) {
  switch (id) {
    case ID_SEPARATOR: return QStringLiteral("Message");
    case ID_INDICATOR_CAPS: return QStringLiteral("Caps Lock");
    case ID_INDICATOR_NUM: return QStringLiteral("Num Lock");
    case ID_INDICATOR_SCRL: return QStringLiteral("Scroll Lock");
    default: return QString();
  }
}

// The message pane is named by what it says, so that a screen reader reads
// the result of the last command, and hears each new one: the label tells
// it the name changed whenever its text does, whoever sets the text. Its
// description says which pane it is. The text goes out whole: Qt's own label
// would drop a '&' in an entry's name as if it marked a shortcut key.
constexpr char kMessagePaneName[] = "messagePane";

class CMessagePaneAccessible : public QAccessibleWidget {
 public:
  explicit CMessagePaneAccessible(QLabel* pane)
      : QAccessibleWidget(pane, QAccessible::StaticText) {}
  QString text(QAccessible::Text kind) const override {
    switch (kind) {
      case QAccessible::Name: return static_cast<const QLabel*>(widget())->text();
      case QAccessible::Description: return PaneName(ID_SEPARATOR);
      default: return QAccessibleWidget::text(kind);
    }
  }
};

QAccessibleInterface* MessagePaneAccessible(const QString& className, QObject* object) {
  if (className != QLatin1String("QLabel") ||
      object->objectName() != QLatin1String(kMessagePaneName)) {
    return nullptr;
  }
  return new CMessagePaneAccessible(static_cast<QLabel*>(object));
}

std::optional<LockKey> IndicatorKey(int id) {
  switch (id) {
    case ID_INDICATOR_CAPS: return LockKey::Caps;
    case ID_INDICATOR_NUM: return LockKey::Num;
    case ID_INDICATOR_SCRL: return LockKey::Scroll;
    default: return std::nullopt;
  }
}

}  // namespace

CStatusBar::~CStatusBar() {
  if (m_filtering) qApp->removeEventFilter(this);
}

bool CStatusBar::Create(QMainWindow* parent) {
  if (parent == nullptr) return false;
  parent->setStatusBar(this);
  return true;
}

bool CStatusBar::SetIndicators(const int* ids, int count) {
  for (int i = 0; i < count; ++i) {
    if (ids[i] != ID_SEPARATOR && !IndicatorKey(ids[i])) return false;
  }
  for (const CPane& pane : m_panes) delete pane.label;
  m_panes.clear();
  for (int i = 0; i < count; ++i) {
    auto* label = new QLabel;
    if (ids[i] == ID_SEPARATOR) {
      // Messages carry names from archives and file systems: shown as they
      // are, never read as markup (which could load an image from any path).
      label->setTextFormat(Qt::PlainText);
      label->setObjectName(QLatin1String(kMessagePaneName));
      static const bool factoryInstalled = [] {
        QAccessible::installFactory(&MessagePaneAccessible);
        return true;
      }();
      (void)factoryInstalled;
      label->setText(AfxGetApp() != nullptr ? AfxGetApp()->LoadString(AFX_IDS_IDLEMESSAGE)
                                            : QString());
      // A long message (a list of names, a deep path) is cut at the
      // window's edge rather than widening the window past the screen.
      label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
      // The message pane stretches; temporary messages (menu prompts)
      // cover it and leave "Ready" behind when they end.
      addWidget(label, 1);
    } else {
      label->setAccessibleName(PaneName(ids[i]));
      const QString text = IndicatorText(ids[i]);
      label->setText(text);
      label->setAlignment(Qt::AlignCenter);
      label->setMinimumWidth(label->fontMetrics().horizontalAdvance(text) + 8);
      label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
      addPermanentWidget(label);
    }
    m_panes.push_back({ids[i], label});
  }
  if (!m_filtering && qApp != nullptr) {
    // Lock keys change while any window has the focus: watch the keys
    // going by, and the application coming back to the front.
    qApp->installEventFilter(this);
    m_filtering = true;
  }
  UpdateIndicators();
  return true;
}

void CStatusBar::UpdateIndicators() {
  for (const CPane& pane : m_panes) {
    const std::optional<LockKey> key = IndicatorKey(pane.id);
    if (!key) continue;
    const std::optional<bool> on = QueryLockKey(*key);
    pane.label->setEnabled(on.has_value());
    pane.label->setText(on.value_or(true) ? IndicatorText(pane.id) : QString());
  }
}

bool CStatusBar::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ApplicationActivate: UpdateIndicators(); break;
    default: break;
  }
  return QStatusBar::eventFilter(watched, event);
}
