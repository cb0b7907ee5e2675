#include "entorno_x.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

namespace pirel::prueba {

QString Orden(const QString& programa, const QStringList& argumentos, const QProcessEnvironment& entorno,
              QByteArray* binario)
{
    QProcess p;
    p.setProcessEnvironment(entorno);
    p.start(programa, argumentos);
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    const QByteArray salida = p.readAllStandardOutput();
    if (binario)
        *binario = salida;
    return QString::fromUtf8(salida).trimmed();
}

bool EsperaA(const std::function<bool()>& condicion, int ms)
{
    const QDeadlineTimer plazo(ms);
    while (!plazo.hasExpired()) {
        if (condicion())
            return true;
        QThread::msleep(20);
    }
    return condicion();
}

void Termina(QProcess& proceso)
{
    if (proceso.state() == QProcess::NotRunning)
        return;
    proceso.terminate();
    if (!proceso.waitForFinished(3000)) {
        proceso.kill();
        proceso.waitForFinished(3000);
    }
}

EntornoX::~EntornoX()
{
    Termina(trayer_);
    Termina(xvfb_);
}

bool EntornoX::arranca(QString* error)
{
    // Xvfb writes the display it chose to the file behind descriptor 3.
    const QString numero = dir_.filePath(QStringLiteral("pantalla"));
    xvfb_.setStandardOutputFile(QProcess::nullDevice());
    xvfb_.setStandardErrorFile(dir_.filePath(QStringLiteral("xvfb.log")));
    xvfb_.start(QStringLiteral("sh"),
                {"-c", "exec Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>\"$0\"", numero});
    QByteArray pantalla;
    const bool elegida = EsperaA([&] {
        QFile f(numero);
        pantalla = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        // Written whole once the server listens, ending in a line end.
        return pantalla.endsWith('\n');
    });
    if (!elegida) {
        QFile registro(dir_.filePath(QStringLiteral("xvfb.log")));
        registro.open(QIODevice::ReadOnly);
        *error = QStringLiteral("Xvfb did not start: ") + QString::fromLocal8Bit(registro.readAll());
        return false;
    }
    x_ = QProcessEnvironment::systemEnvironment();
    x_.insert(QStringLiteral("DISPLAY"), u':' + QString::fromLatin1(pantalla.trimmed()));
    if (!EsperaA([this] { return !Orden(QStringLiteral("xdpyinfo"), {}, x_).isEmpty(); })) {
        *error = QStringLiteral("Xvfb does not answer");
        return false;
    }
    return true;
}

bool EntornoX::arrancaBandeja()
{
    trayer_.setProcessEnvironment(x_);
    trayer_.setStandardOutputFile(QProcess::nullDevice());
    trayer_.setStandardErrorFile(QProcess::nullDevice());
    trayer_.start(QStringLiteral("trayer"), {"--edge", "top", "--align", "left", "--widthtype", "pixel", "--width",
                                              "200", "--height", "32", "--transparent", "false", "--tint", "0x303030"});
    return EsperaA([this] {
        return !Orden(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--name", "^panel$"}, x_).isEmpty();
    });
}

QProcessEnvironment EntornoX::entornoPrograma() const
{
    QProcessEnvironment e = x_;
    // With a session bus Qt would use StatusNotifierItem, which leaves no X window to click.
    e.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    return e;
}

QStringList EntornoX::ventanas(const QString& clase) const
{
    return Orden(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--class", clase}, x_)
        .split(u'\n', Qt::SkipEmptyParts);
}

}
