#include "app/document/status_text.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include "app/framework/win_app.h"

QString StatusText(const CStatus& status, const QString& shown) {
  const QString path =
      shown.isEmpty() ? QFile::decodeName(QByteArray::fromStdString(status.GetPath())) : shown;
  return QDir::toNativeSeparators(path) + QStringLiteral(": ") +
         QString::fromLocal8Bit(status.GetWords());
}

void ShowStatusText(const QString& text) {
  if (CWinApp* app = AfxGetApp()) app->SetMessageText(text);
}
