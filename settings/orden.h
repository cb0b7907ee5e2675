#pragma once
// The mail program's command line, as stored under "Gestor de Correo".
#include <QString>
#include <QStringList>

namespace pirel {

// A chosen program as one word of a command line, blanks and quotes included.
[[nodiscard]] QString ComillasOrden(const QString& programa);
// The program and its arguments. A line that as a whole names an executable file is
// that one program: older versions stored a chosen path without quotes. Any other line
// is split at blanks outside double quotes; three quotes stand for one.
[[nodiscard]] QStringList PartesDeOrden(const QString& linea);

}
