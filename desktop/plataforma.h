#pragma once
#include <QByteArray>

namespace pirel {

// The Qt platform to ask for, given QT_QPA_PLATFORM, WAYLAND_DISPLAY and DISPLAY; empty
// leaves it to Qt. In a Wayland session the program runs through XWayland when it is
// there: a Wayland client can neither keep a window above the others nor place it, and the
// notice must stay on top, centred. The menu needs no X: where the notification area is on
// D-Bus the panel draws it beside the icon. Without XWayland, Wayland itself; a platform
// the user chose always wins.
[[nodiscard]] inline QByteArray PlataformaPreferida(const QByteArray& elegida, const QByteArray& wayland,
                                                    const QByteArray& x)
{
    return elegida.isEmpty() && !wayland.isEmpty() && !x.isEmpty() ? QByteArray("xcb") : QByteArray();
}

}
