#include "anuncio.h"

#include "ansi.h"
#include "textos.h"

namespace pirel {

QString TextoCuenta(const TMensaje& mensajes)
{
    return QString::number(mensajes.numCabeceras()) + textos::kMensajes;
}

EstadoBandeja Anuncia(TMensaje& mensajes, const TBuzon& buzones, const TOpciones& opciones, const QByteArray& sello,
                      Presentacion& presentacion)
{
    if (mensajes.HayNuevos()) {
        if (opciones.animacion) {
            QStringList lineas;
            for (int n = 1; n <= mensajes.numCabeceras(); ++n)
                lineas << mensajes.cabecera(n);
            presentacion.muestraAviso(TextoCuenta(mensajes), lineas);
        } else {
            mensajes.recibe();
        }
        if (opciones.sonido == Sonido::Pitido)
            presentacion.pitido();
        else if (opciones.sonido == Sonido::Wave)
            presentacion.reproduce(opciones.ficheroWav);
    }
    if (mensajes.HayMensajes()) {
        presentacion.consejo(TextoCuenta(mensajes));
        presentacion.icono(sello.isEmpty() ? Bandera::bandera1 : Bandera::Bandera5);
        return EstadoBandeja::Mensajes;
    }
    if (buzones.TodosconError()) {
        presentacion.consejo(textos::kErrorConexion);
        presentacion.icono(Bandera::Bandera2);
        return EstadoBandeja::ErrorConexion;
    }
    presentacion.consejo(textos::kNoHayMensajes);
    presentacion.icono(Bandera::bandera0);
    return EstadoBandeja::SinMensajes;
}

}
