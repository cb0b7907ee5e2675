#pragma once
#include <QString>

namespace pirel {

// An error that ends the operation in progress and reaches the user as its text alone;
// whoever handles the event that started the operation shows it.
class ErrorTexto {
public:
    explicit ErrorTexto(QString texto) : texto_(std::move(texto)) {}
    const QString& texto() const { return texto_; }

private:
    QString texto_;
};

}
