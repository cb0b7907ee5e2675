#include "buzon.h"

#include "lectura.h"

#include <algorithm>

namespace pirel {
namespace {
const QByteArray kVacio;
const Conexion kSinConexion;

Conexion ajusta(Conexion c)
{
    if (c.puerto < 1 || c.puerto > 65535)
        c.puerto = PuertoPorDefecto(c.seguridad);
    c.huella = NormalizaHuella(c.huella);
    return c;
}
}

QByteArray NormalizaHuella(const QByteArray& texto)
{
    QByteArray h = texto.toUpper();
    h.replace(':', QByteArray());
    if (h.size() != 64)
        return {};
    for (char c : h)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return {};
    return h;
}

const QByteArray& TBuzon::nombre(int i) const { return valida(i) ? buzones_[i].nombre : kVacio; }
const QByteArray& TBuzon::host(int i) const { return valida(i) ? buzones_[i].host : kVacio; }
const QByteArray& TBuzon::usuario(int i) const { return valida(i) ? buzones_[i].usuario : kVacio; }
const QByteArray& TBuzon::clave(int i) const { return valida(i) ? buzones_[i].clave : kVacio; }
bool TBuzon::chequear(int i) const { return valida(i) && buzones_[i].chequear; }
bool TBuzon::conError(int i) const { return valida(i) && conError_[i]; }
const Conexion& TBuzon::conexion(int i) const { return valida(i) ? buzones_[i].conexion : kSinConexion; }

void TBuzon::setConError(int i, bool valor)
{
    if (valida(i))
        conError_[i] = valor;
}

void TBuzon::guarda(int i, const QByteArray& nombre, const QByteArray& host, const QByteArray& usuario,
                    const QByteArray& clave, bool chequear, const Conexion& conexion)
{
    buzones_[i] = {nombre.left(kNombre), host.left(kHost), usuario.left(kUsuario), clave.left(kClave), chequear,
                   ajusta(conexion)};
}

bool TBuzon::agregar(const QByteArray& nombre, const QByteArray& host, const QByteArray& usuario,
                     const QByteArray& clave, bool chequear, const Conexion& conexion)
{
    if (numBuzones_ >= kMaxBuzones)
        return false;
    ++numBuzones_;
    guarda(numBuzones_, nombre, host, usuario, clave, chequear, conexion);
    return true;
}

void TBuzon::modificar(int pos, const QByteArray& nombre, const QByteArray& host, const QByteArray& usuario,
                       const QByteArray& clave, bool chequear)
{
    if (pos < 1 || pos > numBuzones_)
        return;
    Conexion c = buzones_[pos].conexion;
    // The certificate was trusted for one server; any other must earn its own trust.
    if (host.left(kHost) != buzones_[pos].host)
        c.huella.clear();
    guarda(pos, nombre, host, usuario, clave, chequear, c);
}

void TBuzon::modificar(int pos, const QByteArray& nombre, const QByteArray& host, const QByteArray& usuario,
                       const QByteArray& clave, bool chequear, const Conexion& conexion)
{
    if (pos >= 1 && pos <= numBuzones_)
        guarda(pos, nombre, host, usuario, clave, chequear, conexion);
}

void TBuzon::setConexion(int pos, const Conexion& conexion)
{
    if (pos >= 1 && pos <= numBuzones_)
        buzones_[pos].conexion = ajusta(conexion);
}

void TBuzon::borrar(int pos)
{
    if (pos < 1 || pos > numBuzones_)
        return;
    for (int k = pos; k < numBuzones_; ++k)
        buzones_[k] = buzones_[k + 1];
    buzones_[numBuzones_] = {};
    --numBuzones_;
}

int TBuzon::Existebuzon(const QByteArray& host, const QByteArray& usuario) const
{
    for (int i = 1; i <= numBuzones_; ++i)
        if (buzones_[i].host == host && buzones_[i].usuario == usuario)
            return i;
    return 0;
}

void TBuzon::copiar(const TBuzon& origen)
{
    numBuzones_ = origen.numBuzones_;
    for (int i = 1; i <= numBuzones_; ++i)
        buzones_[i] = origen.buzones_[i];
}

bool TBuzon::TodosconError() const
{
    bool alguno = false;
    for (int i = 1; i <= numBuzones_; ++i) {
        if (!buzones_[i].chequear)
            continue;
        if (!conError_[i])
            return false;
        alguno = true;
    }
    return alguno;
}

const QString& TMensaje::cabecera(int n) const
{
    static const QString vacia;
    return n >= 1 && n <= numCabeceras_ ? cabeceras_[n] : vacia;
}

int TMensaje::enUso() const
{
    return std::clamp(tabla_.numBuzones(), 0, kMaxBuzones);
}

void TMensaje::Limpia()
{
    anteriores_.fill(0);
    actuales_.fill(0);
}

void TMensaje::AgregaCab(const QString& linea)
{
    if (numCabeceras_ >= kMaxCabeceras)
        return;
    cabeceras_[++numCabeceras_] = CortaCaracteres(linea, kLinea);
}

bool TMensaje::HayNuevos() const
{
    for (int i = 1; i <= enUso(); ++i)
        if (actuales_[i] != anteriores_[i] && actuales_[i] > 0)
            return true;
    return false;
}

bool TMensaje::HayMensajes()
{
    bool hay = false;
    for (int i = 1; i <= enUso(); ++i) {
        if (actuales_[i] > 0)
            hay = true;
        else
            anteriores_[i] = actuales_[i];
    }
    return hay;
}

void TMensaje::recibe()
{
    for (int i = 1; i <= enUso(); ++i)
        anteriores_[i] = actuales_[i];
}

}
