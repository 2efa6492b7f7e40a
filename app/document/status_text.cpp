#include "app/document/status_text.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include "app/document/entry_text.h"
#include "app/framework/frames.h"
#include "app/framework/win_app.h"
#include "archive/shown_order.h"

QString StatusText(const CStatus& status, const QString& shown) {
  const QString path =
      shown.isEmpty() ? QFile::decodeName(QByteArray::fromStdString(status.GetPath())) : shown;
  return QDir::toNativeSeparators(path) + QStringLiteral(": ") +
         QString::fromLocal8Bit(status.GetWords());
}

QString ReadOnlyCopyText(const QString& action, std::string_view name, std::string_view path) {
  // Written, it would land in the target over the copy the game loads,
  // which is not the copy the user was looking at.
  return QStringLiteral(
             "Cannot %1: %2: this is the copy in %3, which the game does not load; "
             "it is shown read only")
      .arg(action, EscapeControls(BytesToText(name)), BytesToText(CShownOrder::FileName(path)));
}

void ShowStatusText(const QString& text) {
  if (CWinApp* app = AfxGetApp()) app->SetMessageText(text);
}

void AppendStatusText(const QString& more) {
  if (CWinApp* app = AfxGetApp(); app != nullptr && app->GetMainWnd() != nullptr)
    app->SetMessageText(app->GetMainWnd()->GetMessageText() + more);
}
