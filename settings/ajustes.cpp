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

const QByteArray kSi = "Si", kNo = "No", kBeep = "Beep", kWave = "Wave";

// The options under "Software\Ludaren\Configuracion", in the order they are read and
// written, each with the one conversion between its stored text ("Error" when missing)
// and its value in memory.
struct Opcion {
    const QString* nombre;
    void (*lee)(TOpciones&, const QByteArray&);
    QByteArray (*escribe)(const TOpciones&);
};
const Opcion kOpciones[] = {
    {&reg::kFrecuencia,
     [](TOpciones& o, const QByteArray& v) {
         o.frecuenciaFalta = v == kError;
         o.frecuenciaError.clear();
         try {
             o.frecuencia = AEntero(v);
         } catch (const ErrorTexto& e) {
             // Told where the interval is used, as the conversion has always been.
             o.frecuenciaError = e.texto();
         }
     },
     [](const TOpciones& o) { return QByteArray::number(o.frecuencia); }},
    {&reg::kHacerSonido,
     [](TOpciones& o, const QByteArray& v) {
         o.sonido = v == kBeep ? Sonido::Pitido : v == kWave ? Sonido::Wave : Sonido::Ninguno;
     },
     [](const TOpciones& o) {
         return o.sonido == Sonido::Pitido ? kBeep : o.sonido == Sonido::Wave ? kWave : QByteArray();
     }},
    {&reg::kFicheroWav, [](TOpciones& o, const QByteArray& v) { o.ficheroWav = v == kError ? QByteArray() : v; },
     [](const TOpciones& o) { return o.ficheroWav; }},
    {&reg::kGestorCorreo, [](TOpciones& o, const QByteArray& v) { o.gestorCorreo = v == kError ? QByteArray() : v; },
     [](const TOpciones& o) { return o.gestorCorreo; }},
    {&reg::kAnimacion, [](TOpciones& o, const QByteArray& v) { o.animacion = v == kSi; },
     [](const TOpciones& o) { return o.animacion ? kSi : kNo; }},
};

// The single mailbox of the first layouts had the fields of its day; what is carried
// forward from them is cut as those versions cut it.
constexpr qsizetype kHostAntiguo = 40, kUsuarioAntiguo = 20, kClaveAntigua = 12;

// A mailbox's security as stored. Absent, it is the plain text every file written before
// held; a text of no known mode reads as TLS from the first byte, so that a damaged value
// can make a check fail but never send a password in clear.
struct NombreSeguridad {
    Seguridad modo;
    const char* texto;
};
constexpr NombreSeguridad kSeguridades[] = {
    {Seguridad::SSL, "SSL"}, {Seguridad::STLS, "STLS"}, {Seguridad::Ninguna, "Ninguna"}};

QByteArray textoSeguridad(Seguridad modo)
{
    for (const NombreSeguridad& s : kSeguridades)
        if (s.modo == modo)
            return s.texto;
    return "Ninguna";
}

Seguridad leeSeguridad(const QByteArray& texto)
{
    if (texto == kError)
        return Seguridad::Ninguna;
    for (const NombreSeguridad& s : kSeguridades)
        if (texto == s.texto)
            return s.modo;
    return Seguridad::SSL;
}

// Decimal digits only; anything else, or nothing, is 0, which the table turns into the
// mode's default port.
int leePuerto(const QByteArray& texto)
{
    if (texto.isEmpty() || texto.size() > 5)
        return 0;
    int puerto = 0;
    for (const char c : texto) {
        if (c < '0' || c > '9')
            return 0;
        puerto = puerto * 10 + (c - '0');
    }
    return puerto;
}

QString indice(const char* nombre, int i) { return QLatin1String(nombre) + QString::number(i); }

QByteArray LeeOpcion(Transaccion& t, const QString& nombre)
{
    return LeeClave(t, reg::kLudaren, reg::kConfiguracion, nombre);
}

int digitoVersion(Transaccion& t)
{
    return AEntero(LeeClave(t, reg::kLudaren, reg::kVersion, reg::kNumero).left(1));
}

// A single mailbox kept in the options' key by the first versions: only its password.
void migraVersion0(Transaccion& t)
{
    if (digitoVersion(t) != 0)
        return;
    GrabaClave(t, reg::kLudaren, reg::kVersion, reg::kNumero, versionActual);
    const QByteArray antigua = LeeOpcion(t, QStringLiteral("clave")).left(kClaveAntigua);
    if (antigua != kError) {
        TRegIniFile(t, reg::kRutaConfiguracion).DeleteKey(QString(), QStringLiteral("clave"));
        if (!antigua.isEmpty())
            GrabaClave(t, reg::kLudaren, reg::kConfiguracion, QStringLiteral("Codigo"), CodificaClave(antigua));
    }
    t.confirma();
}

// One mailbox with server, user and scrambled password in the options' key.
void migraVersion1(Transaccion& t, TBuzon& tabla)
{
    if (digitoVersion(t) != 1)
        return;
    const QByteArray host = LeeOpcion(t, QStringLiteral("Host")).left(kHostAntiguo);
    const QByteArray usuario = LeeOpcion(t, QStringLiteral("usuario")).left(kUsuarioAntiguo);
    const QByteArray clave = DecodificaClave(LeeOpcion(t, QStringLiteral("Codigo"))).left(kClaveAntigua);
    if (host == kError || usuario == kError || clave == kError)
        return;
    TRegIniFile ini(t, reg::kRutaConfiguracion);
    for (const char* nombre : {"Host", "usuario", "codigo"})
        ini.DeleteKey(QString(), QLatin1String(nombre));
    // The table takes the mailbox only once the file holds it.
    TBuzon movida = tabla;
    if (!host.isEmpty() && !usuario.isEmpty() && !clave.isEmpty()) {
        GrabaClave(t, reg::kLudaren, reg::kVersion, reg::kNumero, versionActual);
        movida.agregar("Buzon 1", host, usuario, clave, true);
        registrar(t, movida);
    }
    t.confirma();
    tabla.copiar(movida);
}

void marcaVersion(Transaccion& t)
{
    if (LeeClave(t, reg::kLudaren, reg::kVersion, reg::kNumero) != versionActual)
        GrabaClave(t, reg::kLudaren, reg::kVersion, reg::kNumero, versionActual);
    t.confirma();
}

void leeOpciones(Transaccion& t, TOpciones& opciones)
{
    for (const Opcion& o : kOpciones)
        o.lee(opciones, LeeOpcion(t, *o.nombre));
}

// What the save writes into the registry file, in its order.
void escribeAjustes(Transaccion& t, TBuzon& tabla, const TOpciones& opciones)
{
    TRegIniFile(t, reg::kRutaConfiguracion).EraseSection(reg::kBuzones);
    registrar(t, tabla);
    GrabaClave(t, reg::kLudaren, reg::kVersion, reg::kNumero, versionActual);
    for (const Opcion& o : kOpciones)
        GrabaClave(t, reg::kRutaConfiguracion, QString(), *o.nombre, o.escribe(opciones));
}

void escribeAutoarranque(const QString& programa)
{
    TRegMaquina(reg::kWindowsActual).WriteString(reg::kRun, reg::kEntradaRun, programa);
}

}

QByteArray LeeClave(Transaccion& transaccion, const QString& Key, const QString& Section, const QString& Ident)
{
    return TRegIniFile(transaccion, Key).ReadString(Section, Ident, kError);
}

void GrabaClave(Transaccion& transaccion, const QString& Key, const QString& Section, const QString& Ident,
                const QByteArray& Value)
{
    TRegIniFile(transaccion, Key).WriteString(Section, Ident, Value);
}

QByteArray LeeClave(Registro& registro, const QString& Key, const QString& Section, const QString& Ident)
{
    Transaccion t(registro);
    const QByteArray valor = LeeClave(t, Key, Section, Ident);
    t.confirma();
    return valor;
}

void registrar(Transaccion& transaccion, TBuzon& tabla)
{
    const auto graba = [&](const char* nombre, int i, const QByteArray& valor) {
        GrabaClave(transaccion, reg::kRutaConfiguracion, reg::kBuzones, indice(nombre, i), valor);
    };
    for (int i = 1; i <= tabla.numBuzones(); ++i) {
        tabla.setConError(i, false);
        graba("Buzon", i, tabla.nombre(i));
        graba("Host", i, tabla.host(i));
        graba("usuario", i, tabla.usuario(i));
        graba("Codigo", i, CodificaClave(tabla.clave(i)));
        graba("Chequear", i, tabla.chequear(i) ? "Si" : "No");
        // Older versions pass over these; the pin only while there is one.
        const Conexion& c = tabla.conexion(i);
        graba("Seguridad", i, textoSeguridad(c.seguridad));
        graba("Puerto", i, QByteArray::number(c.puerto));
        if (!c.huella.isEmpty())
            graba("Huella", i, c.huella);
    }
    GrabaClave(transaccion, reg::kRutaConfiguracion, reg::kBuzones, reg::kNBuzon, QByteArray::number(tabla.numBuzones()));
}

void lee_registro(Transaccion& transaccion, TBuzon& tabla)
{
    const auto lee = [&](const char* nombre, int i) {
        return LeeClave(transaccion, reg::kRutaConfiguracion, reg::kBuzones, indice(nombre, i));
    };
    const int n = std::clamp(AEntero(LeeClave(transaccion, reg::kRutaConfiguracion, reg::kBuzones, reg::kNBuzon)), 0,
                             kMaxBuzones);
    TBuzon leida;
    for (int i = 1; i <= n; ++i) {
        const Seguridad modo = leeSeguridad(lee("Seguridad", i));
        const QByteArray huella = lee("Huella", i);
        // The table drops a pin that is not 64 hex digits: the authorities are checked instead.
        const Conexion conexion{modo, leePuerto(lee("Puerto", i)), huella == kError ? QByteArray() : huella};
        leida.agregar(lee("Buzon", i), lee("Host", i), lee("usuario", i), DecodificaClave(lee("Codigo", i)),
                      lee("Chequear", i) == "Si", conexion);
    }
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
    Transaccion t(registro);
    if (LeeClave(t, reg::kLudaren, reg::kVersion, reg::kNumero) == kError) {
        opciones.ejecutarSiempre = false;
        // The entry goes first: when it cannot be written the registry file keeps its bytes.
        if (!EnMedioExtraible(programa)) {
            escribeAutoarranque(programa);
            opciones.ejecutarSiempre = true;
        }
        t.confirma(); // only the opened key, whose failure goes unreported
        opciones.animacion = true;
        opciones.sonido = Sonido::Pitido;
        opciones.ficheroWav = "spirel.wav";
        opciones.gestorCorreo.clear();
        return Arranque::PrimeraVez;
    }
    migraVersion0(t);
    migraVersion1(t, tabla);
    marcaVersion(t);
    try {
        lee_registro(t, tabla);
        leeOpciones(t, opciones);
    } catch (const ErrorAlmacen&) {
        // The keys opened on the way stay created, as every open leaves them.
        t.confirma();
        throw;
    }
    t.confirma();
    opciones.ejecutarSiempre =
        TRegMaquina(reg::kWindowsActual).ReadString(reg::kRun, reg::kEntradaRun, QString::fromLatin1(kError)) == programa;
    return Arranque::Configurado;
}

Guardado Guarda(Registro& registro, TOpciones& opciones, TBuzon& tabla, TBuzon& copia, const EleccionDialogo& eleccion,
                int intervaloActual, const std::function<void(TBuzon&)>& aplicaPendiente, const QString& programa)
{
    Guardado guardado;
    guardado.intervalo = intervaloActual;
    // A regular file, or a link to one: a folder of that name plays nothing.
    if (QFileInfo(ansi::aTexto(eleccion.ficheroWav)).isFile())
        opciones.ficheroWav = eleccion.ficheroWav;
    opciones.gestorCorreo = eleccion.gestorCorreo;
    opciones.ejecutarSiempre = eleccion.ejecutarSiempre;
    opciones.sonido = eleccion.beep ? Sonido::Pitido : eleccion.wave ? Sonido::Wave : Sonido::Ninguno;
    opciones.animacion = eleccion.animacion;
    if (eleccion.frecuencia > 0) {
        guardado.intervalo = eleccion.frecuencia * 60000;
        opciones.frecuencia = eleccion.frecuencia;
        opciones.frecuenciaError.clear();
        opciones.frecuenciaFalta = false;
    }
    if (copia.numBuzones() == 0 || guardado.intervalo <= 0)
        return guardado;

    guardado.escrito = true;
    if (aplicaPendiente)
        aplicaPendiente(copia);
    tabla.copiar(copia);
    {
        Transaccion t(registro);
        escribeAjustes(t, tabla, opciones);
        t.confirma();
    }
    if (opciones.ejecutarSiempre)
        escribeAutoarranque(programa);
    else
        TRegMaquina(reg::kWindowsActual + QStringLiteral("\\") + reg::kRun).DeleteKey(reg::kRun, reg::kEntradaRun);
    return guardado;
}

}
