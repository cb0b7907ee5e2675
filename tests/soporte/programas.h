#pragma once
// Runs a program to its end with the given input and tells what it wrote.
#include <QProcess>

#include <functional>

namespace pirel::prueba {

struct Salida {
    int estado = -1; // -1: did not start, did not end or crashed
    QString salida, errores;
};

inline Salida ejecuta(const QString& programa, const QStringList& argumentos, const QByteArray& entrada = {},
                      const QProcessEnvironment& entorno = QProcessEnvironment::systemEnvironment(),
                      const std::function<void()>& enElHijo = {})
{
    QProcess p;
    p.setProcessEnvironment(entorno);
    p.setChildProcessModifier(enElHijo);
    p.start(programa, argumentos);
    if (!p.waitForStarted())
        return {-1, {}, programa + QStringLiteral(": no se pudo ejecutar (tools/instalar)")};
    p.write(entrada);
    p.closeWriteChannel();
    if (!p.waitForFinished(240000))
        return {-1, {}, programa + QStringLiteral(": no terminó")};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

}
