#pragma once
#include <QString>
#include <QStringList>

#include <cstdio>

namespace pirel {

// Exit codes of the command-line checker.
enum SalidaChequeo { kHayMensajes = 0, kSinMensajes = 1, kErrorConexion = 2, kErrorUso = 3 };

// Runs one check cycle without windows: header lines and the final tooltip on `salida`,
// one line per message box on `errores`.
// --help and --version print to `salida` and end with 0, as command-line tools do.
int EjecutaChequeo(const QStringList& argumentos, std::FILE* entrada, std::FILE* salida, std::FILE* errores);

// What --version prints for `programa`.
[[nodiscard]] QString TextoVersion(const QString& programa);

}
