#include "recursos.h"

#include <QCoreApplication>
#include <QDir>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace pirel {

QString DirectorioDatos()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/pirel"));
}

QIcon IconoSvg(const QString& recurso)
{
    // Drawn here rather than left to an icon plugin, so a missing plugin cannot blank the tray.
    QSvgRenderer svg(recurso);
    QIcon icono;
    for (int lado : {16, 22, 24, 32, 48, 64, 128}) {
        QPixmap pixmap(lado, lado);
        pixmap.fill(Qt::transparent);
        QPainter pintor(&pixmap);
        svg.render(&pintor);
        pintor.end();
        icono.addPixmap(pixmap);
    }
    return icono;
}

}
