// The one place where a failure of the core becomes words in the editor,
// and the one way words reach the status bar.
#pragma once

#include <QString>

#include <new>
#include <string_view>
#include <utility>

#include "storage/status.h"

// "PATH: WORDS", with `shown` for the path when given, else the status's own;
// the path written with the system's separators (C:\Mods\a.big on Windows).
QString StatusText(const CStatus& status, const QString& shown = QString());
// Why `action` ("edit value", "delete") is refused on the copy of the entry
// `name` in the archive at `path`, one the game does not load.
QString ReadOnlyCopyText(const QString& action, std::string_view name, std::string_view path);
// Puts `text` in the status bar's message pane, where a screen reader
// hears it too.
void ShowStatusText(const QString& text);
// Adds `more` to what the status bar's message pane says.
void AppendStatusText(const QString& more);

// Runs `work`; false when memory ran out on the way. The one place the
// editor meets std::bad_alloc: an entry, an image or a search too large for
// memory costs that work only, not the program and the user's other
// windows. Whatever `work` had begun must stand on its own when it stops.
template <typename Work>
bool WithinMemory(Work&& work) {
  try {
    std::forward<Work>(work)();
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}
