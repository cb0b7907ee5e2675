#include "entorno_x.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

namespace pirel::prueba {

QString Orden(const QString& programa, const QStringList& argumentos, const QProcessEnvironment& entorno)
{
    QProcess p;
    p.setProcessEnvironment(entorno);
    p.start(programa, argumentos);
    if (!p.waitForFinished(10000)) {
        Termina(p);
        return {};
    }
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

bool EsperaA(const std::function<bool()>& condicion, int ms)
{
    for (const QDeadlineTimer plazo(ms); !plazo.hasExpired(); QThread::msleep(5)) {
        if (condicion())
            return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return condicion();
}

void Termina(QProcess& proceso)
{
    proceso.terminate();
    if (!proceso.waitForFinished(3000)) {
        proceso.kill();
        proceso.waitForFinished(3000);
    }
}

bool EntornoX::arranca(QString* error)
{
    // Xvfb writes the display it chose, with a line end, to descriptor 3 once it listens.
    const QString numero = dir_.filePath(QStringLiteral("pantalla"));
    xvfb_.setStandardOutputFile(QProcess::nullDevice());
    xvfb_.start(QStringLiteral("sh"),
                {"-c", "exec Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>\"$0\"", numero});
    QByteArray pantalla;
    const bool elegida = EsperaA([&] {
        QFile f(numero);
        return (pantalla = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray()).endsWith('\n');
    });
    x_ = QProcessEnvironment::systemEnvironment();
    x_.insert(QStringLiteral("DISPLAY"), u':' + QString::fromLatin1(pantalla.trimmed()));
    if (elegida && EsperaA([this] { return !Orden(QStringLiteral("xdpyinfo"), {}, x_).isEmpty(); }))
        return true;
    *error = QStringLiteral("Xvfb did not start: ") + QString::fromLocal8Bit(xvfb_.readAllStandardError());
    return false;
}

bool EntornoX::arrancaBandeja()
{
    trayer_.setProcessEnvironment(x_);
    trayer_.setStandardOutputFile(QProcess::nullDevice());
    trayer_.setStandardErrorFile(QProcess::nullDevice());
    trayer_.start(QStringLiteral("trayer"), {"--edge", "top", "--align", "left", "--widthtype", "pixel", "--width",
                                              "200", "--height", "32", "--transparent", "false", "--tint", "0x303030"});
    return EsperaA([this] { return !busca(QStringLiteral("^panel$")).isEmpty(); });
}

}
