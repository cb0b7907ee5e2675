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
            x_.insert(QStringLiteral("DISPLAY"), u':' + QString::fromLatin1(pantalla.trimmed()));
            if (EsperaA([this] { return !Orden(QStringLiteral("xdpyinfo"), {}, x_).isEmpty(); }))
                return true;
        }
        *error = QStringLiteral("Xvfb did not start: ") + QString::fromLocal8Bit(xvfb_.readAllStandardError());
        return false;
    }
    [[nodiscard]] bool arrancaBandeja()
    {
        trayer_.setProcessEnvironment(x_);
        trayer_.setStandardOutputFile(QProcess::nullDevice());
        trayer_.setStandardErrorFile(QProcess::nullDevice());
        trayer_.start(QStringLiteral("trayer"), {"--edge", "top", "--align", "left", "--widthtype", "pixel", "--width",
                                                  "200", "--height", "32", "--transparent", "false", "--tint", "0x303030"});
        return EsperaA([this] { return !busca(QStringLiteral("^panel$")).isEmpty(); });
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
    // The visible windows whose title matches, one a line.
    QString busca(const QString& titulo) const { return xdotool({"search", "--onlyvisible", "--name", titulo}); }

private:
    QProcess xvfb_, trayer_;
    QProcessEnvironment x_;
};

}
