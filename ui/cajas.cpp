#include "cajas.h"

#include <QMessageBox>

namespace pirel {
namespace {

void muestra(QMessageBox::Icon icono, const QString& titulo, const QString& texto, QMessageBox::StandardButtons botones)
{
    QMessageBox caja(icono, titulo, texto, botones);
    // Server replies end up in these texts: never read them as markup.
    caja.setTextFormat(Qt::PlainText);
    caja.exec();
}

}

void CajasQt::error(const QString& texto)
{
    muestra(QMessageBox::Critical, QStringLiteral("Ludaren Electrónico"), texto, QMessageBox::Ok);
}

void CajasQt::mensaje(const QString& texto)
{
    muestra(QMessageBox::NoIcon, QStringLiteral("Ludaren Electrónico"), texto, QMessageBox::Ok);
}

void CajasQt::socket(const QString& texto, const QString& titulo)
{
    muestra(QMessageBox::NoIcon, titulo, texto, QMessageBox::Ok | QMessageBox::Cancel);
}

}
