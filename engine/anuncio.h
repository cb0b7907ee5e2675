#pragma once
#include "buzon.h"
#include "opciones.h"
#include "presentacion.h"

namespace pirel {

// What the tray shows after a cycle.
enum class EstadoBandeja { Mensajes, SinMensajes, ErrorConexion };

// The end of every cycle: new mail or not, the notice or an immediate
// acknowledgement, the sound, and the tray's picture and tooltip, whose state it returns.
EstadoBandeja Anuncia(TMensaje& mensajes, const TBuzon& buzones, const TOpciones& opciones, const QByteArray& sello,
                      Presentacion& presentacion);

// The number of header lines of this cycle followed by " Mensajes".
[[nodiscard]] QString TextoCuenta(const TMensaje& mensajes);

}
