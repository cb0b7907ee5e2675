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

// A mailbox whose connection could not be made secure: its name, its server, the reason.
inline const QString kSinConexionSegura = QStringLiteral("%1: no hay conexión segura con %2: %3.");
inline const QString kCertificadoCaducado = QStringLiteral("el certificado ha caducado o aún no es válido");
inline const QString kAutoridadDesconocida =
    QStringLiteral("el certificado es autofirmado o de una autoridad desconocida");
inline const QString kNombreDistinto = QStringLiteral("el certificado es de otro servidor");
inline const QString kHuellaDistinta = QStringLiteral("el certificado no es el que se aceptó para este buzón");
inline const QString kSinSTLS = QStringLiteral("el servidor no acepta STLS");
inline const QString kDatosInyectados = QStringLiteral("el servidor envió datos sin cifrar tras aceptar STLS");
inline const QString kNegociacionFallida = QStringLiteral("falló la negociación TLS");

// Pieces of the messages about one mailbox (Windows-1252, joined with its name and server).
inline constexpr char kElServidor[] = ": el servidor ";
inline constexpr char kNoResponde[] = " no responde";
inline constexpr char kClaveRechazada[] = ": Clave incorrecta ";
inline constexpr char kProtocoloErroneo[] =
    "Protocol erroneo: Contacte con el autor. y enviele por mail el siguiente mensaje:\r";

}
