#pragma once
#include "error_texto.h"

#include <QByteArray>

namespace pirel {

// A failure of the settings store, with the text the user is shown. It ends the
// operation in progress; whatever was written before stays written.
class ErrorAlmacen : public ErrorTexto {
    using ErrorTexto::ErrorTexto;
};

// The text-to-integer conversion of stored numbers; throws the conversion error.
[[nodiscard]] int AEntero(const QByteArray& texto);

}
