#pragma once

#include <QByteArray>

namespace tavlin {

// The display's ICC profile as colour-management daemons publish it: the _ICC_PROFILE
// property of the X root window of the default screen. Empty when none is set, when the
// program does not draw through X11 (Wayland, offscreen) or the display cannot be reached.
QByteArray readDisplayIccProfile();

// The same from the X display of that name ("" for the one DISPLAY names), whatever the
// program draws through.
QByteArray readX11IccProfile(const QByteArray& display);

} // namespace tavlin
