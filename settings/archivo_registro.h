#pragma once
// The registry file: the registry editor's export format, kept in memory as a tree of
// keys with their values. Keys and value names match without regard to case and keep
// their case; every value keeps its data exactly as they were read.
#include <QByteArray>
#include <QList>
#include <QString>

#include <limits>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

namespace pirel {

enum TipoValor { REG_SZ = 1, REG_EXPAND_SZ = 2, REG_BINARY = 3, REG_DWORD = 4, REG_MULTI_SZ = 7 };

struct ValorRegistro {
    QString nombre; // empty: the key's default value, "@" in the file
    int tipo = REG_SZ;
    // The data as the registry holds them: texts in UTF-16LE with their closing zero.
    QByteArray datos;

    static ValorRegistro deTexto(QString nombre, QStringView texto);
    bool esTexto() const { return tipo == REG_SZ || tipo == REG_EXPAND_SZ; }
    // A text value as programs see it: up to the first zero.
    [[nodiscard]] QString texto() const;
};

struct HashNombre {
    std::size_t operator()(const QString& s) const noexcept;
};

class ClaveRegistro {
public:
    ClaveRegistro(QString nombre, const ClaveRegistro* padre) : nombre_(std::move(nombre)), padre_(padre) {}
    // Iterative: a hostile file can nest keys millions deep.
    ~ClaveRegistro();
    ClaveRegistro(const ClaveRegistro&) = delete;
    ClaveRegistro& operator=(const ClaveRegistro&) = delete;

    // The full path with its root, each part as first written.
    [[nodiscard]] QString ruta() const;
    [[nodiscard]] const ValorRegistro* valor(const QString& nombre) const;
    // Both return whether the key changed.
    bool pon(ValorRegistro v);
    bool quita(const QString& nombre);
    // In the order they were first set.
    [[nodiscard]] QList<ValorRegistro> valores() const;
    qsizetype numValores() const { return static_cast<qsizetype>(indice_.size()); }

private:
    friend class ArchivoRegistro;

    QString nombre_;
    const ClaveRegistro* padre_;
    // Listed keys are the file's own; the others only lead to them (a root without values).
    bool listada_ = false;
    // A removed value leaves a hole, so that look-ups by name stay constant in time.
    std::vector<std::optional<ValorRegistro>> valores_;
    std::unordered_map<QString, std::size_t, HashNombre> indice_;
    std::unordered_map<QString, std::unique_ptr<ClaveRegistro>, HashNombre> hijas_;
};

class ArchivoRegistro {
public:
    ArchivoRegistro() = default;
    ArchivoRegistro(ArchivoRegistro&&) noexcept = default;
    ArchivoRegistro& operator=(ArchivoRegistro&&) noexcept = default;

    // Reads a file in any of the forms the registry editor writes (UTF-8, UTF-16LE with
    // its byte-order mark, REGEDIT4), in time linear in its size; throws ErrorAlmacen
    // naming `fichero` and the line.
    static ArchivoRegistro lee(const QByteArray& bytes, const QString& fichero);
    // Always the UTF-8 "Windows Registry Editor Version 5.00" form, keys in tree order.
    // Empty when it would be longer than `tope` bytes: every key writes its whole path,
    // so deep keys can make the written form far longer than the file that was read.
    [[nodiscard]] QByteArray escribe(qsizetype tope = std::numeric_limits<qsizetype>::max()) const;

    ClaveRegistro* busca(const QString& ruta);
    const ClaveRegistro* busca(const QString& ruta) const;
    // Creates the key and any missing parent (a root only when it is the whole path);
    // `creada` tells whether something was created. Null for an empty path.
    ClaveRegistro* crea(const QString& ruta, bool* creada = nullptr);
    // Removes the key with everything below it; true when something was removed.
    bool borra(const QString& ruta);
    // The listed keys in tree order.
    [[nodiscard]] QList<const ClaveRegistro*> claves() const;

private:
    qsizetype creadas_ = 0; // keys made, listed or not
    // Held apart so that a move leaves the keys' links to their parents valid.
    std::unique_ptr<ClaveRegistro> raiz_ = std::make_unique<ClaveRegistro>(QString(), nullptr);
};

}
