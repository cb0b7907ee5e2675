#pragma once
// The registry file: the registry editor's export format, kept in memory as keys with
// their values. Keys and value names match without regard to case and keep their case.
#include <QByteArray>
#include <QList>
#include <QString>

namespace pirel {

enum TipoValor { REG_SZ = 1, REG_EXPAND_SZ = 2, REG_BINARY = 3, REG_DWORD = 4 };

struct ValorRegistro {
    QString nombre; // empty: the key's default value, "@" in the file
    int tipo = REG_SZ;
    // Text values hold the program's Windows-1252 bytes; other types their raw bytes.
    QByteArray datos;
};

struct ClaveRegistro {
    QString ruta; // full path with its root, as written
    QList<ValorRegistro> valores;

    ValorRegistro* valor(const QString& nombre);
    void pon(const ValorRegistro& v);
    bool quita(const QString& nombre);
};

class ArchivoRegistro {
public:
    // Reads a file in any of the forms the registry editor writes (UTF-8, UTF-16LE with
    // its byte-order mark, REGEDIT4); throws ErrorAlmacen naming `fichero` and the line.
    static ArchivoRegistro lee(const QByteArray& bytes, const QString& fichero);
    // Always the UTF-8 "Windows Registry Editor Version 5.00" form, keys in tree order.
    [[nodiscard]] QByteArray escribe() const;

    ClaveRegistro* busca(const QString& ruta);
    const ClaveRegistro* busca(const QString& ruta) const;
    // Creates the key and any missing parent; true when something was created.
    bool crea(const QString& ruta);
    // Removes the key with everything below it; true when something was removed.
    bool borra(const QString& ruta);
    const QList<ClaveRegistro>& claves() const { return claves_; }

private:
    QList<ClaveRegistro> claves_;
};

}
