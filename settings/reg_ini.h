#pragma once
// The ini-style view of the registry: an object opened on a key path, whose sections
// are subkeys and whose idents are value names. It works on a transaction's contents in
// memory; the transaction's confirma() writes them. Values come and go as the program's
// Windows-1252 texts; the file keeps them in Unicode.
#include "registro.h"

#include <QByteArray>
#include <QString>

namespace pirel {

class TRegIniFile {
public:
    // Opens HKEY_CURRENT_USER\ruta, creating it.
    TRegIniFile(Transaccion& transaccion, const QString& ruta);

    // Throws ErrorAlmacen "Invalid data type for '%s'" for a value that is not a text.
    [[nodiscard]] QByteArray ReadString(const QString& Section, const QString& Ident, const QByteArray& Default) const;
    // Fails, when the transaction is written, with "Failed to create key %s" (a new
    // section) or "Failed to set data for '%s'".
    void WriteString(const QString& Section, const QString& Ident, const QByteArray& Value);
    // Deletes the value from the opened key itself; Section has no effect.
    void DeleteKey(const QString& Section, const QString& Ident);
    void EraseSection(const QString& Section);

private:
    QString seccion(const QString& Section) const;

    Transaccion& transaccion_;
    QString base_;
};

// The machine-wide log-on list, whose one entry this program uses ("Run", value
// "Ludaren Electronico") is the user's XDG autostart entry. Its value is the program's
// path, kept exactly: it is not one of the program's 8-bit texts.
class TRegMaquina {
public:
    static QString rutaAutoarranque();
    explicit TRegMaquina(const QString& ruta, QString autoarranque = rutaAutoarranque());

    // The program path of the entry, unquoted; Default when there is none or when the
    // desktop has switched it off.
    [[nodiscard]] QString ReadString(const QString& Section, const QString& Ident, const QString& Default) const;
    // Throws "Failed to create key Run" when the entry cannot be written.
    void WriteString(const QString& Section, const QString& Ident, const QString& Value);
    // An absent entry, or one that cannot be removed, is no error.
    void DeleteKey(const QString& Section, const QString& Ident);

private:
    bool esLaEntrada(const QString& clave, const QString& ident) const;

    QString ruta_;
    QString fichero_;
};

// Exec line quoting of the Desktop Entry format, both ways.
[[nodiscard]] QString ComillasExec(const QString& programa);
[[nodiscard]] QString SinComillasExec(const QString& exec);

}
