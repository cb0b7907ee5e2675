#include "chequeo_consola.h"
#include "instancia.h"
#include "pirel.h"
#include "plataforma.h"
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
    const QByteArray plataforma =
        pirel::PlataformaPreferida(qgetenv("QT_QPA_PLATFORM"), qgetenv("WAYLAND_DISPLAY"), qgetenv("DISPLAY"));
    if (!plataforma.isEmpty())
        qputenv("QT_QPA_PLATFORM", plataforma);
    QApplication app(argc, argv);
    // The mail program started from here chooses its own platform.
    if (!plataforma.isEmpty())
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
