#include "chequeo_consola.h"
#include "instancia.h"
#include "pirel.h"
#include "recursos.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstring>

namespace {

bool pide(int argc, char** argv, const char* opcion)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], opcion) == 0)
            return true;
    return false;
}

// In a Wayland session the program runs through XWayland when it is there: a Wayland
// client can neither keep a window above the others nor place it, and the notice must stay
// on top, centred. The menu needs no X: where the area is on D-Bus the panel draws it
// beside the icon. Native Wayland remains the fallback, and a platform the user chose wins.
bool prefiereXWayland()
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || qEnvironmentVariableIsEmpty("DISPLAY"))
        return false;
    qputenv("QT_QPA_PLATFORM", "xcb;wayland");
    return true;
}

}

int main(int argc, char** argv)
{
    // Answered before the application is made: they need no display.
    if (pide(argc, argv, "--version")) {
        std::printf("%s\n", qUtf8Printable(pirel::TextoVersion(QStringLiteral("pirel"))));
        return 0;
    }
    if (pide(argc, argv, "--salir")) {
        QCoreApplication app(argc, argv);
        return pirel::Instancia::entrega("Sal") ? 0 : 1;
    }
    const bool xwayland = prefiereXWayland();
    QApplication app(argc, argv);
    // The mail program started from here chooses its own platform.
    if (xwayland)
        qunsetenv("QT_QPA_PLATFORM");
    QApplication::setApplicationName(QStringLiteral("pirel"));
    // No display name: on X11 Qt would add it to every window's title, and the titles
    // are given exactly.
    QApplication::setDesktopFileName(QStringLiteral("ludaren-electronico"));
    QApplication::setWindowIcon(pirel::IconoSvg(QStringLiteral(":/iconos/ludaren-electronico.svg")));
    // Only the tray icon lives on: closing the help or a notice must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);

    // Never two programs checking the same mailboxes: a second start opens the first one's
    // settings, which is also how a desktop without a tray reaches them.
    pirel::Instancia instancia;
    if (instancia.reclama() == pirel::Instancia::Resultado::OtraCorre)
        return pirel::Instancia::entrega("Configura") ? 0 : 1;

    pirel::TPirel pirel;
    if (!pirel.FormCreate())
        return 0;
    instancia.alConfigurar = [&pirel] { pirel.muestraConfiguracion(); };
    instancia.alSalir = [&pirel] { pirel.CerrarClick(); };
    // For tests that aim the program at a POP3 server of their own on another port.
    if (const QByteArray puerto = qgetenv("PIREL_PUERTO_POP3"); !puerto.isEmpty())
        pirel.chequeo->puerto = puerto;
    QTimer::singleShot(0, &pirel, [&pirel] { pirel.FormShow(); });
    const int salida = QApplication::exec();
    pirel.FormDestroy();
    return salida;
}
