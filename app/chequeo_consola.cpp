#include "chequeo_consola.h"

#include "ajustes.h"
#include "ansi.h"
#include "anuncio.h"
#include "apop_carga.h"
#include "buzon.h"
#include "chequeo.h"
#include "error_almacen.h"
#include "lectura.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>

#include <cstdlib>
#include <optional>

namespace pirel {
namespace {

const QString kUso = QStringLiteral(
    "Uso: pirel-chequeo [--buzones FICHERO] [--puerto N] [--espera SEGUNDOS] | --help | --version\n"
    "FICHERO tiene un buzón por línea: nombre, servidor, usuario y clave separados por tabuladores"
    " (\"-\" lee la entrada estándar), y si se quiere seguridad (ssl, stls o ninguna), puerto"
    " (--puerto, si no 995 con ssl y 110 sin él) y huella SHA-256 del certificado aceptado."
    " Sin --buzones se chequean los buzones configurados en Pirel.");

// Every line leaves through here, so no text from a server or a stored setting can
// drive the terminal.
void escribe(std::FILE* f, const QString& linea)
{
    const QByteArray utf8 = (Legible(linea) + u'\n').toUtf8();
    std::fwrite(utf8.constData(), 1, static_cast<size_t>(utf8.size()), f);
    std::fflush(f);
}

void escribeLineas(std::FILE* f, const QString& texto)
{
    for (const QString& linea : texto.split(u'\n'))
        escribe(f, linea);
}

// Each message box becomes one line of text.
class PresentacionConsola final : public Presentacion {
public:
    explicit PresentacionConsola(std::FILE* errores) : errores_(errores) {}

    void caja(const QString& texto, const QString&) override { linea(texto); }
    void termina() override { QCoreApplication::exit(0); }
    void cajaError(const QString& texto) override { linea(texto); }
    void dialogo(const QString& texto) override { linea(texto); }
    void icono(Bandera) override {}
    void consejo(const QString& texto) override { consejo_ = texto; }
    void muestraAviso(const QString&, const QStringList&) override {}
    void pitido() override {}
    void reproduce(const QByteArray&) override {}

    const QString& ultimoConsejo() const { return consejo_; }

private:
    void linea(QString texto)
    {
        static const QRegularExpression kFinDeLinea(QStringLiteral("\r\n|\r|\n"));
        escribe(errores_, texto.replace(kFinDeLinea, QStringLiteral(" ")));
    }

    std::FILE* errores_;
    QString consejo_;
};

struct Argumentos {
    QString buzones;
    // Empty: each mailbox's own port.
    QByteArray puerto;
    int espera = 60;
    // --help or --version: the text to print instead of checking.
    QString informa;
};

std::optional<int> entero(const QString& texto, int minimo, int maximo)
{
    bool ok = false;
    const int valor = texto.toInt(&ok);
    if (!ok || valor < minimo || valor > maximo)
        return std::nullopt;
    return valor;
}

std::optional<Argumentos> leeArgumentos(const QStringList& argumentos, QString* error)
{
    Argumentos a;
    for (qsizetype i = 1; i < argumentos.size(); ++i) {
        const QString& opcion = argumentos[i];
        if (opcion == u"--help" || opcion == u"-h") {
            a.informa = kUso;
            return a;
        }
        if (opcion == u"--version") {
            a.informa = TextoVersion(QStringLiteral("pirel-chequeo"));
            return a;
        }
        if (i + 1 >= argumentos.size()) {
            *error = QStringLiteral("Falta el valor de %1 o la opción no existe.").arg(opcion);
            return std::nullopt;
        }
        const QString valor = argumentos[++i];
        if (opcion == u"--buzones") {
            a.buzones = valor;
        } else if (opcion == u"--puerto") {
            if (!entero(valor, 1, 65535)) {
                *error = QStringLiteral("Puerto no válido: %1").arg(valor);
                return std::nullopt;
            }
            a.puerto = valor.toLatin1();
        } else if (opcion == u"--espera") {
            const auto segundos = entero(valor, 1, 3600);
            if (!segundos) {
                *error = QStringLiteral("Espera no válida (de 1 a 3600 segundos): %1").arg(valor);
                return std::nullopt;
            }
            a.espera = *segundos;
        } else {
            *error = QStringLiteral("Opción desconocida: %1").arg(opcion);
            return std::nullopt;
        }
    }
    return a;
}

// The optional fields after the password: mode, port and pinned fingerprint.
std::optional<Conexion> leeConexion(const QStringList& campos, const QByteArray& puerto, QString* error)
{
    Conexion c;
    const QString modo = campos.value(4).trimmed().toLower();
    if (modo == u"ssl")
        c.seguridad = Seguridad::SSL;
    else if (modo == u"stls")
        c.seguridad = Seguridad::STLS;
    else if (!modo.isEmpty() && modo != u"ninguna") {
        *error = QStringLiteral("seguridad desconocida \"%1\" (ssl, stls o ninguna).").arg(modo);
        return std::nullopt;
    }
    const QString numero = campos.value(5).trimmed();
    if (numero.isEmpty()) {
        c.puerto = puerto.isEmpty() ? PuertoPorDefecto(c.seguridad) : puerto.toInt();
    } else if (const auto p = entero(numero, 1, 65535)) {
        c.puerto = *p;
    } else {
        *error = QStringLiteral("puerto no válido: %1").arg(numero);
        return std::nullopt;
    }
    const QByteArray huella = campos.value(6).trimmed().toLatin1();
    c.huella = NormalizaHuella(huella);
    if (!huella.isEmpty() && c.huella.isEmpty()) {
        *error = QStringLiteral("la huella debe tener 64 cifras hexadecimales.");
        return std::nullopt;
    }
    return c;
}

bool leeBuzones(const QString& fichero, const QByteArray& puerto, std::FILE* entrada, TBuzon* tabla, QString* error)
{
    QFile f(fichero);
    const bool abierto = fichero == u"-" ? f.open(entrada, QIODevice::ReadOnly) : f.open(QIODevice::ReadOnly);
    if (!abierto) {
        *error = QStringLiteral("No se puede leer %1: %2").arg(fichero, f.errorString());
        return false;
    }
    // A mailbox line is short; a larger file is not a list of mailboxes.
    const QByteArray datos = f.read(1 << 20);
    int numero = 0;
    for (const QByteArray& bruta : datos.split('\n')) {
        ++numero;
        QString linea = QString::fromUtf8(bruta);
        if (linea.endsWith(u'\r'))
            linea.chop(1);
        if (linea.trimmed().isEmpty() || linea.startsWith(u'#'))
            continue;
        const QStringList campos = linea.split(u'\t');
        if (campos.size() < 4 || campos.size() > 7) {
            *error = QStringLiteral("%1, línea %2: se esperan nombre, servidor, usuario y clave separados por tabuladores,"
                                    " y si se quiere seguridad, puerto y huella.")
                         .arg(fichero).arg(numero);
            return false;
        }
        QString fallo;
        const auto conexion = leeConexion(campos, puerto, &fallo);
        if (!conexion) {
            *error = QStringLiteral("%1, línea %2: %3").arg(fichero).arg(numero).arg(fallo);
            return false;
        }
        if (!tabla->agregar(ansi::deTexto(campos[0]), ansi::deTexto(campos[1].trimmed()), ansi::deTexto(campos[2]),
                            ansi::deTexto(campos[3]), true, *conexion)) {
            *error = QStringLiteral("%1: más de %2 buzones.").arg(fichero).arg(kMaxBuzones);
            return false;
        }
    }
    return true;
}

// The table the tray program keeps, loaded as it loads it, older layouts migrated. A
// store never configured is not set up from here: that would add a log-on entry.
bool cargaGuardados(TBuzon* tabla, TOpciones* opciones, QString* error)
{
    try {
        Registro registro;
        if (LeeClave(registro, reg::kLudaren, reg::kVersion, reg::kNumero) == "Error") {
            *error = QStringLiteral("Pirel no está configurado todavía: no hay buzones guardados en %1.")
                         .arg(registro.fichero());
            return false;
        }
        CargaAjustes(registro, *tabla, *opciones, QCoreApplication::applicationFilePath());
        return true;
    } catch (const ErrorAlmacen& e) {
        *error = e.texto();
        return false;
    }
}

}

int EjecutaChequeo(const QStringList& argumentos, std::FILE* entrada, std::FILE* salida, std::FILE* errores)
{
    QString error;
    const auto a = leeArgumentos(argumentos, &error);
    if (!a) {
        escribe(errores, error);
        escribeLineas(errores, kUso);
        return kErrorUso;
    }
    if (!a->informa.isEmpty()) {
        escribeLineas(salida, a->informa);
        return EXIT_SUCCESS;
    }
    TBuzon buzones;
    TOpciones opciones;
    if (a->buzones.isEmpty() ? !cargaGuardados(&buzones, &opciones, &error)
                             : !leeBuzones(a->buzones, a->puerto, entrada, &buzones, &error)) {
        escribe(errores, error);
        return kErrorUso;
    }

    PresentacionConsola presentacion(errores);
    BibliotecaAPOP apop;
    if (apop.carga(presentacion) != BibliotecaAPOP::Resultado::Cargada)
        return kErrorUso;

    TMensaje mensajes(buzones);
    mensajes.Limpia();
    // Counts are acknowledged at once and nothing plays.
    opciones.animacion = false;
    opciones.sonido = Sonido::Ninguno;
    TSockets sockets(nullptr, &presentacion);
    sockets.Aplicacion = ansi::deTexto(QStringLiteral("Ludaren Electrónico"));
    sockets.MaximumReceiveLength = 255;
    sockets.Port = "110";
    sockets.setNonBlocking(false);
    sockets.Timeout = 60;

    Chequeo chequeo(sockets, buzones, mensajes, opciones, presentacion);
    // A list has put --puerto into each line that gave no port of its own.
    if (a->buzones.isEmpty())
        chequeo.puerto = a->puerto;
    chequeo.espera = a->espera;
    // Headers seen by earlier runs; a file that cannot be read or written only costs TOPs.
    const QString recuerdo = RecuerdoCabeceras::FicheroPorDefecto();
    chequeo.recuerdo().carga(recuerdo);
    const ResultadoChequeo resultado = chequeo.CheckMail();
    chequeo.recuerdo().guarda(recuerdo);

    for (int n = 1; n <= mensajes.numCabeceras(); ++n)
        escribe(salida, mensajes.cabecera(n));
    escribe(salida, presentacion.ultimoConsejo());
    switch (resultado.estado) {
    case EstadoBandeja::Mensajes: return kHayMensajes;
    case EstadoBandeja::SinMensajes: return kSinMensajes;
    case EstadoBandeja::ErrorConexion: return kErrorConexion;
    }
    return kErrorConexion;
}

QString TextoVersion(const QString& programa)
{
    return programa + QStringLiteral(" (Ludaren Electrónico) ") + QString::fromLatin1(versionActual);
}

}
