#pragma once
// The per-user registry file on disk. Every change is read, applied and written back
// under a lock, through a temporary file that replaces the old one only once it is
// safely on disk; a file that cannot be parsed is reported and never written over.
#include "archivo_registro.h"
#include "error_texto.h"

#include <QString>

#include <functional>

namespace pirel {

class Registro {
public:
    // $XDG_CONFIG_HOME/Ludaren/registro.reg
    static QString rutaPorDefecto();
    explicit Registro(QString fichero = rutaPorDefecto());

    const QString& fichero() const { return fichero_; }

    // The stored contents (empty when there is no file yet). Throws ErrorAlmacen.
    [[nodiscard]] ArchivoRegistro lee() const;
    // Runs `cambio` on the stored contents and writes them back when it returns true.
    // A file that does not parse throws ErrorAlmacen; a failed write throws ErrorEscritura.
    void modifica(const std::function<bool(ArchivoRegistro&)>& cambio);

private:
    QString fichero_;
    // The last contents parsed: a load reads the same small file a hundred times.
    mutable QByteArray leidos_;
    mutable ArchivoRegistro analizado_;
};

// Replaces `fichero` with `datos` so that a crash leaves the old or the new contents,
// never a mixture; the file is readable by its owner only. Throws ErrorEscritura.
void EscribeAtomico(const QString& fichero, const QByteArray& datos);

// The disk refused the new contents; callers turn it into the store's own texts.
class ErrorEscritura : public ErrorTexto {
    using ErrorTexto::ErrorTexto;
};

}
