#pragma once
// A private X server (Xvfb) with an XEmbed tray (trayer), for running the real program
// in tests and benchmarks.
#include <QProcess>
#include <QTemporaryDir>

#include <functional>

namespace pirel::prueba {

// The output of a short command, or empty when it fails or takes over 10 s.
QString Orden(const QString& programa, const QStringList& argumentos, const QProcessEnvironment& entorno);
// Polls while this process's events, D-Bus calls to its stand-ins included, are handled.
bool EsperaA(const std::function<bool()>& condicion, int ms = 10000);
void Termina(QProcess& proceso);

class EntornoX {
public:
    ~EntornoX() { paraBandeja(), Termina(xvfb_); }
    // Starts Xvfb and waits until it answers; the text says what failed.
    [[nodiscard]] bool arranca(QString* error);
    [[nodiscard]] bool arrancaBandeja();
    void paraBandeja() { Termina(trayer_); }
    const QProcessEnvironment& entorno() const { return x_; }
    // The environment in which the program docks into the tray over XEmbed: with a session
    // bus Qt would use StatusNotifierItem, which leaves no X window to click.
    QProcessEnvironment entornoPrograma() const
    {
        QProcessEnvironment e = x_;
        e.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        return e;
    }
    QString xdotool(const QStringList& argumentos) const { return Orden(QStringLiteral("xdotool"), argumentos, x_); }
    QStringList ventanas(const QString& clase) const
    {
        return xdotool({"search", "--onlyvisible", "--class", clase}).split(u'\n', Qt::SkipEmptyParts);
    }
    // The visible windows whose title matches, one a line.
    QString busca(const QString& titulo) const { return xdotool({"search", "--onlyvisible", "--name", titulo}); }

private:
    QTemporaryDir dir_;
    QProcess xvfb_, trayer_;
    QProcessEnvironment x_;
};

}
