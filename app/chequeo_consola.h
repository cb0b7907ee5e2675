#pragma once
#include <QStringList>

#include <cstdio>

namespace pirel {

// Exit codes of the command-line checker.
enum SalidaChequeo { kHayMensajes = 0, kSinMensajes = 1, kErrorConexion = 2, kErrorUso = 3 };

// Runs one check cycle without windows: header lines and the final tooltip on `salida`,
// one line per message box on `errores`.
int EjecutaChequeo(const QStringList& argumentos, std::FILE* entrada, std::FILE* salida, std::FILE* errores);

}
