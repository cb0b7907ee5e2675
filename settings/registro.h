#pragma once
// The per-user registry file on disk. A transaction reads it once under a lock, takes
// its changes in memory and writes them as one replacement of the file, through a
// temporary file beside it that replaces the old one only once it is safely on disk; a
// file that cannot be parsed is reported and never written over.
#include "archivo_registro.h"
#include "error_texto.h"

#include <QString>

namespace pirel {

class Registro {
public:
    // $XDG_CONFIG_HOME/Ludaren/registro.reg
    static QString rutaPorDefecto();
    explicit Registro(QString fichero = rutaPorDefecto());

    const QString& fichero() const { return fichero_; }

    // The stored contents, read without the lock (empty when there is no file yet).
    // Throws ErrorAlmacen.
    [[nodiscard]] ArchivoRegistro lee() const;
    // How many times the file has been replaced through this object.
    int reemplazos() const { return reemplazos_; }

private:
    friend class Transaccion;

    QString fichero_;
    int reemplazos_ = 0;
};

class Transaccion {
public:
    // Takes the lock and reads the file; throws ErrorAlmacen when the file is damaged or is
    // not a regular file. Without the lock (a folder that cannot be written, another copy
    // of the program holding it too long) the file is still read; only writing then fails.
    explicit Transaccion(Registro& registro);
    ~Transaccion();
    Transaccion(const Transaccion&) = delete;
    Transaccion& operator=(const Transaccion&) = delete;

    ArchivoRegistro& archivo() { return archivo_; }

    // Records a change made to archivo(). `fallo` is what the change reports when it cannot
    // be written; empty for the changes that fail quietly (deletions, opening a key).
    void cambia(const QString& fallo = QString());
    // Writes every change since the last confirma() as one replacement of the file, unless
    // the file would come out as it is. When that fails the file keeps its bytes,
    // archivo() goes back to them, and the first recorded text is thrown as ErrorAlmacen;
    // without one the failure is quiet.
    void confirma();

private:
    Registro& registro_;
    int cerrojo_ = -1;
    QString sinCerrojo_; // why the lock could not be had
    QByteArray leidos_; // what the file holds
    ArchivoRegistro archivo_;
    bool cambiada_ = false;
    QString fallo_;
};

// Reads a regular file of at most `maximo` bytes, through links, without ever blocking on
// a FIFO or a device.
enum class Lectura { Leida, NoExiste, NoNormal, Grande, Fallida };
[[nodiscard]] Lectura LeeFicheroNormal(const QString& fichero, qint64 maximo, QByteArray* datos, int* error = nullptr);

// Replaces `fichero` with `datos` so that a crash leaves the old or the new contents,
// never a mixture; the file is readable by its owner only. A link is written through:
// the file it names is replaced, and the link stays. Throws ErrorEscritura.
void EscribeAtomico(const QString& fichero, const QByteArray& datos);

// The disk refused the new contents; callers turn it into the store's own texts.
class ErrorEscritura : public ErrorTexto {
    using ErrorTexto::ErrorTexto;
};

}
