#pragma once
// The mailbox table and the per-mailbox message tallies. Texts are Windows-1252
// bytes cut to fixed capacities, as the stored settings and older versions hold them.
#include <QByteArray>
#include <QString>

#include <array>

namespace pirel {

inline constexpr int kMaxBuzones = 20;
inline constexpr int kMaxCabeceras = 255;

// How a mailbox's connection is protected: TLS from the first byte, STLS after the
// greeting, or none.
enum class Seguridad { Ninguna, SSL, STLS };

// 995 for TLS from the first byte, 110 otherwise.
[[nodiscard]] constexpr int PuertoPorDefecto(Seguridad s) { return s == Seguridad::SSL ? 995 : 110; }

struct Conexion {
    Seguridad seguridad = Seguridad::Ninguna;
    int puerto = 110;
    // SHA-256 of the one certificate trusted for the mailbox, 64 upper-case hex digits, or empty.
    QByteArray huella{};

    bool operator==(const Conexion&) const = default;
};

// The pin as stored: 64 upper-case hexadecimal digits, colons allowed in between; empty
// when `texto` is not one.
[[nodiscard]] QByteArray NormalizaHuella(const QByteArray& texto);

class TBuzon {
public:
    // Whole e-mail addresses as user names and the long passwords providers hand out fit.
    static constexpr qsizetype kNombre = 15, kHost = 255, kUsuario = 255, kClave = 128;

    TBuzon() = default;

    int numBuzones() const { return numBuzones_; }
    // Positions run from 1; outside 1..20 a read gives empty or false and a write does nothing.
    const QByteArray& nombre(int i) const;
    const QByteArray& host(int i) const;
    const QByteArray& usuario(int i) const;
    const QByteArray& clave(int i) const;
    bool chequear(int i) const;
    // Ninguna on 110 for a mailbox that was never given one.
    const Conexion& conexion(int i) const;
    bool conError(int i) const;
    void setConError(int i, bool valor);

    // On a full table nothing is stored and the result is false. A port outside 1..65535
    // becomes the mode's default and a pin that is not 64 hex digits is dropped.
    bool agregar(const QByteArray& nombre, const QByteArray& host, const QByteArray& usuario,
                 const QByteArray& clave, bool chequear, const Conexion& conexion = {});
    // Keeps the slot's connection, except that a pin does not survive a change of server.
    void modificar(int pos, const QByteArray& nombre, const QByteArray& host, const QByteArray& usuario,
                   const QByteArray& clave, bool chequear);
    void modificar(int pos, const QByteArray& nombre, const QByteArray& host, const QByteArray& usuario,
                   const QByteArray& clave, bool chequear, const Conexion& conexion);
    void setConexion(int pos, const Conexion& conexion);
    void borrar(int pos);
    [[nodiscard]] int Existebuzon(const QByteArray& host, const QByteArray& usuario) const;
    void copiar(const TBuzon& origen);
    [[nodiscard]] bool TodosconError() const;

private:
    struct Buzon {
        QByteArray nombre, host, usuario, clave;
        bool chequear = false;
        Conexion conexion{};
    };
    static bool valida(int i) { return i >= 1 && i <= kMaxBuzones; }
    void guarda(int i, const QByteArray& nombre, const QByteArray& host, const QByteArray& usuario,
                const QByteArray& clave, bool chequear, const Conexion& conexion);

    int numBuzones_ = 0;
    std::array<Buzon, kMaxBuzones + 1> buzones_{};          // slot 0 unused
    std::array<bool, kMaxBuzones + 1> conError_{};          // stays at its position when mailboxes move
};

class TMensaje {
public:
    static constexpr qsizetype kLinea = 255;

    // The tallies follow the positions of this table.
    explicit TMensaje(const TBuzon& tabla) : tabla_(tabla) {}

    int anteriores(int i) const { return valida(i) ? anteriores_[i] : 0; }
    int actuales(int i) const { return valida(i) ? actuales_[i] : 0; }
    void setActuales(int i, int cuenta)
    {
        if (valida(i))
            actuales_[i] = cuenta;
    }
    int numCabeceras() const { return numCabeceras_; }
    const QString& cabecera(int n) const;
    void vaciaCabeceras() { numCabeceras_ = 0; }
    bool cabecerasLlenas() const { return numCabeceras_ >= kMaxCabeceras; }

    void Limpia();
    // Lines past the 255th of a cycle are dropped; the count stays at 255.
    void AgregaCab(const QString& linea);
    [[nodiscard]] bool HayNuevos() const;
    // Also acknowledges every mailbox whose count is 0 or less.
    bool HayMensajes();
    void recibe();

private:
    static bool valida(int i) { return i >= 1 && i <= kMaxBuzones; }
    int enUso() const;

    const TBuzon& tabla_;
    std::array<int, kMaxBuzones + 1> anteriores_{};
    std::array<int, kMaxBuzones + 1> actuales_{};
    std::array<QString, kMaxCabeceras + 1> cabeceras_{};
    int numCabeceras_ = 0;
};

}
