#pragma once
// What the program stores and how: the two store primitives, the table's write and
// read, the load at start-up with its migration of older layouts, and the save.
#include "buzon.h"
#include "opciones.h"
#include "registro.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace pirel {

inline const QByteArray versionActual = "2.0";

// Key paths and value names, as every version of the program has stored them.
namespace reg {
inline const QString kLudaren = QStringLiteral("Software\\Ludaren");
inline const QString kRutaConfiguracion = QStringLiteral("Software\\Ludaren\\Configuracion");
inline const QString kVersion = QStringLiteral("Version");
inline const QString kNumero = QStringLiteral("Numero");
inline const QString kConfiguracion = QStringLiteral("Configuracion");
inline const QString kBuzones = QStringLiteral("Buzones");
inline const QString kNBuzon = QStringLiteral("nBuzon");
inline const QString kFrecuencia = QStringLiteral("frecuencia");
inline const QString kHacerSonido = QStringLiteral("Hacer Sonido");
inline const QString kFicheroWav = QStringLiteral("Fichero Wav");
inline const QString kGestorCorreo = QStringLiteral("Gestor de Correo");
inline const QString kAnimacion = QStringLiteral("Animacion");
inline const QString kWindowsActual = QStringLiteral("SOFTWARE\\Microsoft\\Windows\\CurrentVersion");
inline const QString kRun = QStringLiteral("Run");
inline const QString kEntradaRun = QStringLiteral("Ludaren Electronico");
}

// "Error" when the subkey or the value is absent. Both work on the transaction's
// contents; the write reaches the file with the transaction's confirma().
[[nodiscard]] QByteArray LeeClave(Transaccion& transaccion, const QString& Key, const QString& Section,
                                  const QString& Ident);
void GrabaClave(Transaccion& transaccion, const QString& Key, const QString& Section, const QString& Ident,
                const QByteArray& Value);
// One read on its own, in a transaction of its own.
[[nodiscard]] QByteArray LeeClave(Registro& registro, const QString& Key, const QString& Section, const QString& Ident);

// Each mailbox's security ("SSL", "STLS" or "Ninguna") and port go beside its other
// values, and its pinned certificate when it has one.
void registrar(Transaccion& transaccion, TBuzon& tabla);
// A stored count outside 0 to 20 is cut to that range. A mailbox without a security reads
// as "Ninguna" on 110, as every file written before them; a security of no known text
// reads as "SSL"; a port that is not a decimal number from 1 to 65535 is the mode's
// default; a pin that is not 64 hex digits is dropped.
void lee_registro(Transaccion& transaccion, TBuzon& tabla);

// A program started from removable media writes no log-on entry on its first run.
[[nodiscard]] bool EnMedioExtraible(const QString& programa);

enum class Arranque { PrimeraVez, Configurado };
// The load at start-up, migrations included; `programa` is the program's full path.
// The file is read once; each migration step that changes it is written as one
// replacement of the file. Throws ErrorAlmacen, which ends the load where it happens;
// a step that cannot be written leaves the file as it was.
Arranque CargaAjustes(Registro& registro, TBuzon& tabla, TOpciones& opciones, const QString& programa);

// What the configuration dialog hands over on OK.
struct EleccionDialogo {
    QByteArray ficheroWav;
    QByteArray gestorCorreo;
    bool ejecutarSiempre = false;
    bool beep = false;
    bool wave = false;
    bool animacion = false;
    int frecuencia = 0; // minutes
};

struct Guardado {
    // False: nothing was written and the check timer is to stay off.
    bool escrito = false;
    // The check timer's interval in milliseconds.
    int intervalo = 0;
};
// The save of the dialog's OK: `opciones` take the choice; `aplicaPendiente` applies the
// dialog's pending mailbox to its working copy, which then becomes `tabla` before the
// file is written, so a failure to write (thrown) leaves the new table in place too.
// The registry file is written once, or not at all; the log-on entry after it. Timer
// and tallies are the caller's.
[[nodiscard]] Guardado Guarda(Registro& registro, TOpciones& opciones, TBuzon& tabla, TBuzon& copia,
                              const EleccionDialogo& eleccion, int intervaloActual,
                              const std::function<void(TBuzon&)>& aplicaPendiente, const QString& programa);

}
