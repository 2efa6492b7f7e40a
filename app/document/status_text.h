// The one place where a failure of the core becomes words in the editor,
// and the one way words reach the status bar.
#pragma once

#include <QString>

#include "storage/status.h"

// "PATH: WORDS", with `shown` for the path when given, else the status's own;
// the path written with the system's separators (C:\Mods\a.big on Windows).
QString StatusText(const CStatus& status, const QString& shown = QString());
// Puts `text` in the status bar's message pane, where a screen reader
// hears it too.
void ShowStatusText(const QString& text);
