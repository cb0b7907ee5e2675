#include "orden.h"

#include <QFileInfo>
#include <QProcess>

namespace pirel {

QString ComillasOrden(const QString& programa)
{
    return u'"' + QString(programa).replace(u'"', QStringLiteral("\"\"\"")) + u'"';
}

QStringList PartesDeOrden(const QString& linea)
{
    const QFileInfo entero(linea);
    if (!linea.isEmpty() && entero.isFile() && entero.isExecutable())
        return {linea};
    return QProcess::splitCommand(linea);
}

}
