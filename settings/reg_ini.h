#pragma once
// The ini-style view of the registry: an object opened on a key path, whose sections
// are subkeys and whose idents are value names. Values are the program's
// Windows-1252 texts. Failures throw ErrorAlmacen with the store's texts.
#include "registro.h"

#include <QByteArray>
#include <QString>

namespace pirel {

class TRegIniFile {
public:
    // Opens HKEY_CURRENT_USER\ruta, creating it; when that cannot be written the
    // operations work on the root itself, unreported.
    TRegIniFile(Registro& registro, const QString& ruta);

    [[nodiscard]] QByteArray ReadString(const QString& Section, const QString& Ident, const QByteArray& Default);
    void WriteString(const QString& Section, const QString& Ident, const QByteArray& Value);
    // Deletes the value from the opened key itself; Section has no effect.
    void DeleteKey(const QString& Section, const QString& Ident);
    void EraseSection(const QString& Section);

private:
    QString seccion(const QString& Section) const;

    Registro& registro_;
    QString base_;
};

// The machine-wide log-on list, whose one entry this program uses ("Run", value
// "Ludaren Electronico") is the user's XDG autostart entry.
class TRegMaquina {
public:
    static QString rutaAutoarranque();
    explicit TRegMaquina(const QString& ruta, QString autoarranque = rutaAutoarranque());

    // The program path of the entry, unquoted; Default when there is none.
    [[nodiscard]] QByteArray ReadString(const QString& Section, const QString& Ident, const QByteArray& Default) const;
    // Throws "Failed to create key Run" when the entry cannot be written.
    void WriteString(const QString& Section, const QString& Ident, const QByteArray& Value);
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
