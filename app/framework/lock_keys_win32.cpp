// The state of the lock keys on Windows: the low bit of GetKeyState says
// whether a toggle key is on. The offscreen platform plugin has no keyboard
// of its own, so there, as on Linux, the state is unknown.
#include "app/framework/status_bar.h"

#include <QGuiApplication>

#include <windows.h>

std::optional<bool> QueryLockKey(LockKey key) {
  if (QGuiApplication::platformName() != QLatin1String("windows")) return std::nullopt;
  const int virtualKey = key == LockKey::Caps  ? VK_CAPITAL
                         : key == LockKey::Num ? VK_NUMLOCK
                                               : VK_SCROLL;
  return (::GetKeyState(virtualKey) & 1) != 0;
}
