#pragma once
// A private X server (Xvfb) with an XEmbed tray (trayer), for the real program in tests and benchmarks.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>

#include <functional>

namespace pirel::prueba {

inline void Termina(QProcess& proceso)
{
    proceso.terminate();
    if (!proceso.waitForFinished(3000))
        proceso.kill(), proceso.waitForFinished(3000);
}

// The output of a short command, or empty when it fails or takes over 10 s.
inline QString Orden(const QString& programa, const QStringList& argumentos, const QProcessEnvironment& entorno)
{
    QProcess p;
    p.setProcessEnvironment(entorno);
    p.start(programa, argumentos);
    if (!p.waitForFinished(10000))
        return Termina(p), QString();
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// Polls while this process's events, D-Bus calls to its stand-ins included, are handled.
inline bool EsperaA(const std::function<bool()>& condicion, int ms = 10000)
{
    for (const QDeadlineTimer plazo(ms); !plazo.hasExpired(); QThread::msleep(5)) {
        if (condicion())
            return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return condicion();
}

class EntornoX {
public:
    ~EntornoX() { paraBandeja(), Termina(xvfb_); }
    // Starts Xvfb, which writes the display it chose once it listens; the text says what failed.
    [[nodiscard]] bool arranca(QString* error)
    {
        xvfb_.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"});
        QByteArray pantalla;
        x_ = QProcessEnvironment::systemEnvironment();
        if (EsperaA([&] { return (pantalla += xvfb_.readAllStandardOutput()).endsWith('\n'); })) {
            x_.insert("DISPLAY", u':' + QString::fromLatin1(pantalla.trimmed()));
            return true;
        }
        return *error = "Xvfb did not start: " + QString::fromLocal8Bit(xvfb_.readAllStandardError()), false;
    }
    [[nodiscard]] bool arrancaBandeja()
    {
        trayer_.setProcessEnvironment(x_);
        trayer_.setStandardOutputFile(QProcess::nullDevice());
        trayer_.setStandardErrorFile(QProcess::nullDevice());
        trayer_.start("trayer", {"--edge", "top", "--align", "left", "--widthtype", "pixel", "--width", "200", "--height", "32"});
        return EsperaA([this] { return !busca("^panel$").isEmpty(); });
    }
    void paraBandeja() { Termina(trayer_); }
    const QProcessEnvironment& entorno() const { return x_; }
    // The program docks over XEmbed: with a session bus Qt would use StatusNotifierItem, which
    // leaves no X window to click.
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
    // The visible windows whose title matches, one a line; espera waits until there is one.
    QString busca(const QString& titulo) const { return xdotool({"search", "--onlyvisible", "--name", titulo}); }
    QString espera(const QString& titulo) const
    {
        QString v;
        return EsperaA([&] { return !(v = busca(titulo)).isEmpty(); }), v;
    }
    // Opens the menu of the program's icon and presses `tecla`. A click while the program still
    // holds the grab of the menu it closed is lost: once more.
    bool menu(const QString& icono, const char* tecla) const
    {
        const qsizetype antes = ventanas("pirel").size();
        for (int intento = 0; intento < 5; ++intento) {
            xdotool({"mousemove", "--window", icono, "11", "15", "click", "3"});
            if (EsperaA([&] { return ventanas("pirel").size() > antes; }, 2000))
                return xdotool({"key", tecla}), true;
        }
        return false;
    }

private:
    QProcess xvfb_, trayer_;
    QProcessEnvironment x_;
};

}
