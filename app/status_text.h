// The one place where a failure of the core becomes words in the editor.
#pragma once

#include <QDir>
#include <QFile>
#include <QString>

#include "storage/status.h"

// "PATH: WORDS", with `shown` for the path when given, else the status's own;
// the path written with the system's separators (C:\Mods\a.big on Windows).
inline QString StatusText(const CStatus& status, const QString& shown = QString()) {
  const QString path =
      shown.isEmpty() ? QFile::decodeName(QByteArray::fromStdString(status.GetPath())) : shown;
  return QDir::toNativeSeparators(path) + QStringLiteral(": ") +
         QString::fromLocal8Bit(status.GetWords());
}
