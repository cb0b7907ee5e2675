#pragma once
// Keeps, in order, everything the engine would have shown the user.
#include "presentacion.h"

#include <QRegularExpression>
#include <QStringList>

namespace pirel::prueba {

class PresentacionGrabada : public Presentacion {
public:
    static inline const QStringList kIconos{"bandera0", "bandera1", "Bandera2", "Bandera5"};
    void caja(const QString& texto, const QString& titulo) override { hechos << "caja: " + titulo + ": " + texto; }
    void termina() override { hechos << QStringLiteral("termina"); }
    void cajaError(const QString& texto) override { hechos << "error: " + texto; }
    void dialogo(const QString& texto) override { hechos << "dialogo: " + texto; }
    void icono(Bandera b) override { hechos << "icono: " + kIconos[int(ultimoIcono = b)]; }
    void consejo(const QString& texto) override { hechos << "consejo: " + texto; }
    void muestraAviso(const QString& textoCuenta, const QStringList& cabeceras) override
    {
        hechos << "aviso: " + textoCuenta;
        lineasAviso = cabeceras;
    }
    void pitido() override { hechos << QStringLiteral("pitido"); }
    void reproduce(const QByteArray& fichero) override { hechos << "reproduce: " + QString::fromLatin1(fichero); }
    // Only the message boxes and dialogs, in order.
    QStringList cajas() const { return hechos.filter(QRegularExpression(QStringLiteral("^(error|dialogo|caja): "))); }

    QStringList hechos, lineasAviso;
    Bandera ultimoIcono = Bandera::bandera0;
};

}
