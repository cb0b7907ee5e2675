#include "comprobacion.h"

#include "chequeo.h"

#include <QStringList>

namespace pirel {
namespace {

// Keeps the texts of the boxes; the tray, the notice and the sounds stay untouched.
class Recogida final : public Presentacion {
public:
    void caja(const QString& texto, const QString&) override { textos << texto; }
    void termina() override {}
    void cajaError(const QString& texto) override { textos << texto; }
    void dialogo(const QString& texto) override { textos << texto; }
    void icono(Bandera) override {}
    void consejo(const QString&) override {}
    void muestraAviso(const QString&, const QStringList&) override {}
    void pitido() override {}
    void reproduce(const QByteArray&) override {}

    QStringList textos;
};

}

Comprobacion CompruebaBuzon(const QByteArray& nombre, const QByteArray& host, const QByteArray& usuario,
                            const QByteArray& clave, const Conexion& conexion, int espera)
{
    Comprobacion c;
    if (host.isEmpty())
        return c;
    Recogida recogida;
    // A socket of its own: the program's check may be waiting on the other.
    TSockets sockets(nullptr, &recogida);
    TBuzon tabla;
    tabla.agregar(nombre, host, usuario, clave, true, conexion);
    TMensaje mensajes(tabla);
    TOpciones opciones;
    Chequeo chequeo(sockets, tabla, mensajes, opciones, recogida);
    chequeo.espera = espera;
    chequeo.soloCuenta = true;
    // On this socket, whose report on the certificate is read below.
    chequeo.simultaneos = 1;
    const ResultadoChequeo r = chequeo.CheckMail();
    c.correcta = r.fallidos.isEmpty();
    c.cuenta = mensajes.actuales(1);
    c.fallo = recogida.textos.join(u'\n');
    const InformeTLS tls = sockets.UltimoTLS();
    if (!c.correcta && tls.fallo == FalloTLS::AutoridadDesconocida && tls.soloAutoridad)
        c.huella = tls.huella;
    return c;
}

}
