#pragma once
#include <QString>

namespace pirel {

// A failure of the settings store, with the text the user is shown. It ends the
// operation in progress; whatever was written before stays written.
class ErrorAlmacen {
public:
    explicit ErrorAlmacen(QString texto) : texto_(std::move(texto)) {}
    const QString& texto() const { return texto_; }

private:
    QString texto_;
};

// The text-to-integer conversion of stored numbers; throws the conversion error.
[[nodiscard]] int AEntero(const QByteArray& texto);

}
