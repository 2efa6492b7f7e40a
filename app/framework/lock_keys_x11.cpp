// The state of the lock keys on X11. Only an X11 display says it (through the
// keyboard extension's indicators); under any other platform plugin, such as
// offscreen or Wayland, the state is unknown.
#include "app/framework/status_bar.h"

#include <QGuiApplication>

#if defined(TARN_HAVE_X11)
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#endif

std::optional<bool> QueryLockKey(LockKey key) {
#if defined(TARN_HAVE_X11)
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return std::nullopt;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  Display* display = x11 != nullptr ? x11->display() : nullptr;
  if (display == nullptr) return std::nullopt;
  const char* name = key == LockKey::Caps  ? "Caps Lock"
                     : key == LockKey::Num ? "Num Lock"
                                           : "Scroll Lock";
  const Atom atom = XInternAtom(display, name, True);
  Bool on = False;
  if (atom == None || !XkbGetNamedIndicator(display, atom, nullptr, &on, nullptr, nullptr)) {
    return std::nullopt;
  }
  return on == True;
#else
  (void)key;
  return std::nullopt;
#endif
}
