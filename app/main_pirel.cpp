#include "chequeo_consola.h"
#include "pirel.h"
#include "recursos.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    // Answered before the application is made: it needs no display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s\n", qUtf8Printable(pirel::TextoVersion(QStringLiteral("pirel"))));
            return 0;
        }
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("pirel"));
    // No display name: on X11 Qt would add it to every window's title, and the titles
    // are given exactly.
    QApplication::setDesktopFileName(QStringLiteral("ludaren-electronico"));
    QApplication::setWindowIcon(pirel::IconoSvg(QStringLiteral(":/iconos/ludaren-electronico.svg")));
    // Only the tray icon lives on: closing the help or a notice must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);

    pirel::TPirel pirel;
    if (!pirel.FormCreate())
        return 0;
    // For tests that aim the program at a POP3 server of their own on another port.
    if (const QByteArray puerto = qgetenv("PIREL_PUERTO_POP3"); !puerto.isEmpty())
        pirel.chequeo->puerto = puerto;
    QTimer::singleShot(0, &pirel, [&pirel] { pirel.FormShow(); });
    const int salida = QApplication::exec();
    pirel.FormDestroy();
    return salida;
}
