#include "ajustes.h"

#include "ansi.h"
#include "clave.h"
#include "error_almacen.h"
#include "reg_ini.h"

#include <QFileInfo>

#include <algorithm>

namespace pirel {
namespace {

const QByteArray kError = "Error";

QString indice(const char* nombre, int i) { return QLatin1String(nombre) + QString::number(i); }

QByteArray LeeOpcion(Registro& r, const QString& nombre)
{
    return LeeClave(r, reg::kLudaren, reg::kConfiguracion, nombre);
}

int digitoVersion(Registro& r)
{
    return AEntero(LeeClave(r, reg::kLudaren, reg::kVersion, reg::kNumero).left(1));
}

// A single mailbox kept in the options' key by the first versions: only its password.
void migraVersion0(Registro& r)
{
    if (digitoVersion(r) != 0)
        return;
    GrabaClave(r, reg::kLudaren, reg::kVersion, reg::kNumero, versionActual);
    const QByteArray antigua = LeeOpcion(r, QStringLiteral("clave")).left(TBuzon::kClave);
    if (antigua == kError)
        return;
    TRegIniFile(r, reg::kRutaConfiguracion).DeleteKey(QString(), QStringLiteral("clave"));
    if (!antigua.isEmpty())
        GrabaClave(r, reg::kLudaren, reg::kConfiguracion, QStringLiteral("Codigo"), CodificaClave(antigua));
}

// One mailbox with server, user and scrambled password in the options' key.
void migraVersion1(Registro& r, TBuzon& tabla)
{
    if (digitoVersion(r) != 1)
        return;
    const QByteArray host = LeeOpcion(r, QStringLiteral("Host")).left(TBuzon::kHost);
    const QByteArray usuario = LeeOpcion(r, QStringLiteral("usuario")).left(TBuzon::kUsuario);
    const QByteArray clave = DecodificaClave(LeeOpcion(r, QStringLiteral("Codigo"))).left(TBuzon::kClave);
    if (host == kError || usuario == kError || clave == kError)
        return;
    TRegIniFile ini(r, reg::kRutaConfiguracion);
    for (const char* nombre : {"Host", "usuario", "codigo"})
        ini.DeleteKey(QString(), QLatin1String(nombre));
    if (host.isEmpty() || usuario.isEmpty() || clave.isEmpty())
        return;
    GrabaClave(r, reg::kLudaren, reg::kVersion, reg::kNumero, versionActual);
    tabla.agregar("Buzon 1", host, usuario, clave, true);
    registrar(r, tabla);
}

void marcaVersion(Registro& r)
{
    if (LeeClave(r, reg::kLudaren, reg::kVersion, reg::kNumero) != versionActual)
        GrabaClave(r, reg::kLudaren, reg::kVersion, reg::kNumero, versionActual);
}

void escribeAutoarranque(const QString& programa)
{
    TRegMaquina(reg::kWindowsActual).WriteString(reg::kRun, reg::kEntradaRun, ansi::deTexto(programa));
}

}

QByteArray LeeClave(Registro& registro, const QString& Key, const QString& Section, const QString& Ident)
{
    return TRegIniFile(registro, Key).ReadString(Section, Ident, kError);
}

void GrabaClave(Registro& registro, const QString& Key, const QString& Section, const QString& Ident,
                const QByteArray& Value)
{
    TRegIniFile(registro, Key).WriteString(Section, Ident, Value);
}

void registrar(Registro& registro, TBuzon& tabla)
{
    const auto graba = [&](const char* nombre, int i, const QByteArray& valor) {
        GrabaClave(registro, reg::kRutaConfiguracion, reg::kBuzones, indice(nombre, i), valor);
    };
    for (int i = 1; i <= tabla.numBuzones(); ++i) {
        tabla.setConError(i, false);
        graba("Buzon", i, tabla.nombre(i));
        graba("Host", i, tabla.host(i));
        graba("usuario", i, tabla.usuario(i));
        graba("Codigo", i, CodificaClave(tabla.clave(i)));
        graba("Chequear", i, tabla.chequear(i) ? "Si" : "No");
    }
    GrabaClave(registro, reg::kRutaConfiguracion, reg::kBuzones, reg::kNBuzon, QByteArray::number(tabla.numBuzones()));
}

void lee_registro(Registro& registro, TBuzon& tabla)
{
    const auto lee = [&](const char* nombre, int i) {
        return LeeClave(registro, reg::kRutaConfiguracion, reg::kBuzones, indice(nombre, i));
    };
    const int n = std::clamp(AEntero(LeeClave(registro, reg::kRutaConfiguracion, reg::kBuzones, reg::kNBuzon)), 0,
                             kMaxBuzones);
    TBuzon leida;
    for (int i = 1; i <= n; ++i)
        leida.agregar(lee("Buzon", i), lee("Host", i), lee("usuario", i), DecodificaClave(lee("Codigo", i)),
                      lee("Chequear", i) == "Si");
    tabla.copiar(leida);
    for (int i = 1; i <= n; ++i)
        tabla.setConError(i, false);
}

bool EnMedioExtraible(const QString& programa)
{
    for (const char* raiz : {"/media/", "/run/media/", "/mnt/"})
        if (programa.startsWith(QLatin1String(raiz)))
            return true;
    return false;
}

Arranque CargaAjustes(Registro& registro, TBuzon& tabla, TOpciones& opciones, const QString& programa)
{
    if (LeeClave(registro, reg::kLudaren, reg::kVersion, reg::kNumero) == kError) {
        opciones.ejecutarSiempre = false;
        if (!EnMedioExtraible(programa)) {
            escribeAutoarranque(programa);
            opciones.ejecutarSiempre = true;
        }
        opciones.animacion = "Si";
        opciones.hacerSonido = "Beep";
        opciones.ficheroWav = "spirel.wav";
        opciones.gestorCorreo.clear();
        return Arranque::PrimeraVez;
    }
    migraVersion0(registro);
    migraVersion1(registro, tabla);
    marcaVersion(registro);
    lee_registro(registro, tabla);

    const auto vacioSiError = [](QByteArray v) { return v == kError ? QByteArray() : v; };
    opciones.frecuencia = LeeOpcion(registro, reg::kFrecuencia);
    opciones.hacerSonido = LeeOpcion(registro, reg::kHacerSonido);
    opciones.ficheroWav = vacioSiError(LeeOpcion(registro, reg::kFicheroWav));
    opciones.gestorCorreo = vacioSiError(LeeOpcion(registro, reg::kGestorCorreo));
    opciones.animacion = LeeOpcion(registro, reg::kAnimacion);
    opciones.ejecutarSiempre = TRegMaquina(reg::kWindowsActual).ReadString(reg::kRun, reg::kEntradaRun, kError)
        == ansi::deTexto(programa);
    return Arranque::Configurado;
}

Guardado Guarda(Registro& registro, TOpciones& opciones, TBuzon& tabla, TMensaje& mensajes, TBuzon& copia,
                const EleccionDialogo& eleccion, int& intervalo, const std::function<void(TBuzon&)>& aplicaPendiente,
                const QString& programa)
{
    if (QFileInfo::exists(ansi::aTexto(eleccion.ficheroWav)))
        opciones.ficheroWav = eleccion.ficheroWav;
    opciones.gestorCorreo = eleccion.gestorCorreo;
    opciones.ejecutarSiempre = eleccion.ejecutarSiempre;
    opciones.hacerSonido = eleccion.beep ? "Beep" : eleccion.wave ? "Wave" : "";
    opciones.animacion = eleccion.animacion ? "Si" : "No";
    if (eleccion.frecuencia > 0) {
        intervalo = eleccion.frecuencia * 60000;
        opciones.frecuencia = QByteArray::number(eleccion.frecuencia);
    }
    if (copia.numBuzones() == 0 || intervalo <= 0)
        return Guardado::SinCambios;

    mensajes.Limpia();
    if (aplicaPendiente)
        aplicaPendiente(copia);
    tabla.copiar(copia);
    TRegIniFile(registro, reg::kRutaConfiguracion).EraseSection(reg::kBuzones);
    registrar(registro, tabla);
    GrabaClave(registro, reg::kLudaren, reg::kVersion, reg::kNumero, versionActual);
    const std::pair<const QString&, const QByteArray&> valores[] = {
        {reg::kFrecuencia, opciones.frecuencia}, {reg::kHacerSonido, opciones.hacerSonido},
        {reg::kFicheroWav, opciones.ficheroWav}, {reg::kGestorCorreo, opciones.gestorCorreo},
        {reg::kAnimacion, opciones.animacion},
    };
    for (const auto& [nombre, valor] : valores)
        GrabaClave(registro, reg::kRutaConfiguracion, QString(), nombre, valor);
    if (opciones.ejecutarSiempre)
        escribeAutoarranque(programa);
    else
        TRegMaquina(reg::kWindowsActual + QStringLiteral("\\") + reg::kRun).DeleteKey(reg::kRun, reg::kEntradaRun);
    return Guardado::Guardado;
}

}
