#include "ventana_ayuda.h"

#include <QFileInfo>
#include <QUrl>

namespace pirel {

VentanaAyuda::VentanaAyuda(QString documento)
    : documento_(std::move(documento))
{
    setWindowTitle(QStringLiteral("Ayuda de Ludaren Electrónico"));
    setOpenExternalLinks(true);
    resize(680, 560);
}

void VentanaAyuda::muestra(int contexto)
{
    contexto_ = contexto;
    if (!QFileInfo(documento_).isFile()) {
        setPlainText(QStringLiteral("No se encuentra el documento de ayuda %1.").arg(documento_));
    } else {
        if (source().toLocalFile() != documento_)
            setSource(QUrl::fromLocalFile(documento_));
        scrollToAnchor(QString::number(contexto));
    }
    show();
    raise();
    activateWindow();
}

}
