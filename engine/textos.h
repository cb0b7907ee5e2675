#pragma once
// The texts the check shows the user, in one place.
#include <QString>

namespace pirel::textos {

inline const QString kMensajes = QStringLiteral(" Mensajes");
inline const QString kNoHayMensajes = QStringLiteral("No Hay Mensajes");
inline const QString kErrorConexion = QStringLiteral("Error en Conexion");
inline const QString kClaveIncorrecta = QStringLiteral("Clave incorrecta");
inline const QString kSinAPOP = QStringLiteral("No se encuentra libreria APOP.DLL");
inline const QString kSinMDString = QStringLiteral("Funcion no enlazada. Esta la DLL cargada?");

// Pieces of the messages about one mailbox (Windows-1252, joined with its name and server).
inline constexpr char kElServidor[] = ": el servidor ";
inline constexpr char kNoResponde[] = " no responde";
inline constexpr char kClaveRechazada[] = ": Clave incorrecta ";
inline constexpr char kProtocoloErroneo[] =
    "Protocol erroneo: Contacte con el autor. y enviele por mail el siguiente mensaje:\r";

}
