#include "entradas.h"

#include "ansi.h"
#include "archivo_registro.h"
#include "chequeo.h"
#include "clave.h"
#include "error_almacen.h"
#include "lectura.h"
#include "mime.h"
#include "presentacion_grabada.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace pirel::fuzz {
namespace {

// A broken invariant must stop the run where it happens, in the fuzzer and in the replay alike.
void exige(bool condicion, const char* que)
{
    if (condicion)
        return;
    std::fprintf(stderr, "invariante rota: %s\n", que);
    std::abort();
}

// The socket component starts timers, which need an application object; one is kept
// for the whole run, never destroyed, since the fuzzer ends the process from anywhere.
void aseguraAplicacion()
{
    static int argc = 1;
    static char nombre[] = "fuzz";
    static char* argv[] = {nombre, nullptr};
    static const QCoreApplication* aplicacion = QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
    (void)aplicacion;
}

// A server that answers at once with its bytes, cut into the pieces it chooses, and
// then closes. Each connection, in order, gets its own share of the bytes.
class TransporteFalso final : public Transporte {
public:
    TransporteFalso(QList<QByteArray> conexiones, QByteArray trozos) : conexiones_(std::move(conexiones)), trozos_(std::move(trozos)) {}

    int descriptor() const override { return abierto_ ? 1000 : -1; }
    int abre() override
    {
        abierto_ = true;
        salio_ = false;
        servidor_ = conexiones_.value(conexion_++);
        posicion_ = 0;
        return 0;
    }
    int conecta(const sockaddr_in&) override { return 0; }
    int resultadoConexion() override { return 0; }
    qint64 envia(const char* datos, qint64 longitud) override
    {
        exige(abierto_, "nothing is sent without a connection");
        const QByteArray ordenes(datos, longitud);
        exige(ordenes.endsWith("\r\n"), "commands ended by CRLF");
        exige(ordenes.count('\n') == 1 || servidor_.left(posicion_).toUpper().contains("PIPELINING"),
              "one command at a time unless the server offered PIPELINING");
        for (const QByteArray& orden : ordenes.split('\n')) {
            exige(orden.isEmpty() || !salio_, "nothing is sent after QUIT");
            salio_ = salio_ || orden == "QUIT\r";
            tops_ += orden.startsWith("TOP ");
        }
        return longitud;
    }
    qint64 recibe(char* datos, qint64 longitud, bool mirar) override
    {
        exige(abierto_, "nothing is received without a connection");
        qint64 n = std::min(longitud, servidor_.size() - posicion_);
        // Sizes of the successive pieces, used in turn; 0 stands for as much as fits.
        if (const auto trozo = trozos_.isEmpty() ? 0 : static_cast<unsigned char>(trozos_[siguiente_ % trozos_.size()]))
            n = std::min<qint64>(n, trozo);
        std::memcpy(datos, servidor_.constData() + posicion_, static_cast<std::size_t>(std::max<qint64>(n, 0)));
        if (!mirar) {
            posicion_ += n;
            ++siguiente_;
        }
        return n;
    }
    // This server's bytes all come after the command they answer: none are there to drop.
    int descarta(qint64, bool*) override { return 0; }
    int cierra() override { return abierto_ = false; }

    int tops_ = 0;

private:
    QList<QByteArray> conexiones_;
    QByteArray servidor_, trozos_;
    qsizetype conexion_ = 0, siguiente_ = 0;
    qint64 posicion_ = 0;
    bool abierto_ = false, salio_ = false;
};

// The invariants of every line the notice shows.
void lineaSana(const QString& cabecera)
{
    exige(cabecera.startsWith(u"Casa => "), "a header line starts with the mailbox name");
    exige(cabecera.toUcs4().size() <= TMensaje::kLinea, "a header line of 255 characters at most");
    for (const QChar c : cabecera)
        exige(c.unicode() >= 0x20 && (c.unicode() < 0x7F || c.unicode() >= 0xA0), "a header line holds no control characters");
}

}

// The first byte shapes the run: its low three bits say how many piece sizes follow it,
// bit 3 adds a second mailbox, whose server gets what follows the first one's share of
// as many bytes as the next two say (big-endian), and bit 4 asks for the notice.
void fuzzRespuestas(const QByteArray& entrada)
{
    if (entrada.isEmpty())
        return;
    aseguraAplicacion();
    const auto forma = static_cast<std::uint8_t>(entrada[0]);
    const bool dosBuzones = forma & 8;
    const QByteArray trozos = entrada.mid(1, forma & 7);
    QByteArray resto = entrada.mid(1 + trozos.size());
    QList<QByteArray> conexiones;
    if (dosBuzones) {
        qsizetype parte = 0;
        for (const char c : resto.left(2))
            parte = parte * 256 + static_cast<unsigned char>(c);
        resto.remove(0, qMin<qsizetype>(2, resto.size()));
        conexiones << resto.left(parte);
        resto.remove(0, qMin(parte, resto.size()));
    }
    conexiones << resto;

    prueba::PresentacionGrabada presentacion;
    auto propio = std::make_unique<TransporteFalso>(conexiones, trozos);
    const TransporteFalso& transporte = *propio;
    TSockets sockets(nullptr, &presentacion, std::move(propio));
    TBuzon buzones;
    buzones.agregar("Casa", "127.0.0.1", "pepe", "secreta", true);
    if (dosBuzones)
        buzones.agregar("Trabajo", "127.0.0.1", "luis", "otra", true);
    TMensaje mensajes(buzones);
    TOpciones opciones;
    opciones.animacion = (forma & 16) != 0;
    Chequeo chequeo(sockets, buzones, mensajes, opciones, presentacion);
    chequeo.puerto = "110";
    // The fake never makes a call wait, so the time-out only bounds a reply that keeps coming.
    chequeo.espera = 1;
    // One mailbox after another, on the socket that holds the fake.
    chequeo.simultaneos = 1;
    chequeo.CheckMail();
    exige(mensajes.numCabeceras() >= 0 && mensajes.numCabeceras() <= kMaxCabeceras, "header count within 0..255");
    for (int n = 1; n <= mensajes.numCabeceras(); ++n)
        exige(mensajes.cabecera(n).toUcs4().size() <= TMensaje::kLinea, "header line of 255 characters at most");
    exige(!chequeo.chequeando(), "no check in progress after the cycle");
    exige(sockets.SocketHandle() == -1, "the connection closed after the cycle");
    exige(transporte.tops_ <= kMaxCabeceras, "no TOP for a header line that could not be kept");
    const QByteArray& sello = chequeo.sello();
    exige(sello.isEmpty() || sello.endsWith('>'), "a time stamp ends with '>'");
}

// The input is a reply line, and the header block of a TOP answer.
void fuzzCabecera(const QByteArray& linea)
{
    const QByteArray sello = ExtraeSello(linea);
    if (!sello.isEmpty()) {
        exige(linea.endsWith(sello), "the time stamp ends the line");
        exige(sello.startsWith('<') || sello == linea, "the time stamp starts at '<' or is the whole line");
        exige(sello.endsWith('>'), "the time stamp ends with '>'");
    }

    const int cuenta = LeeCuenta(linea);
    exige(cuenta == -1 || linea.contains(QByteArray::number(qAbs(static_cast<qint64>(cuenta)))),
          "a message count is read from digits of the line");

    exige(!PrimeraLinea(linea).contains('\r'), "the first line holds no CR");
    exige(EmpiezaPor(linea, linea.left(3).toLower()), "a line starts with its own beginning in any case");

    (void)mime::Decodifica(linea);
    lineaSana(LineaCabecera("Casa", linea));
    lineaSana(LineaCabecera("Casa", "+OK\r\n" + linea + "\r\n.\r\n"));
}

void fuzzClave(const QByteArray& codigo)
{
    const QByteArray clave = DecodificaClave(codigo);
    exige(clave.size() == codigo.size() / 2, "one character for every two digits");

    // Any bytes stored as a password come back as they were.
    const QByteArray codificado = CodificaClave(codigo);
    exige(codificado.size() == codigo.size() * 2, "two digits for every character");
    exige(DecodificaClave(codificado) == codigo, "a scrambled password unscrambles to itself");

    // A text written the way CodificaClave writes comes back unchanged.
    const bool canonico = codigo.size() % 2 == 0
        && std::all_of(codigo.begin(), codigo.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
    if (canonico)
        exige(CodificaClave(clave) == codigo, "upper-case hexadecimal scrambles back to itself");
}

void fuzzRegistro(const QByteArray& entrada)
{
    const QString fichero = QStringLiteral("fuzz.reg");
    ArchivoRegistro archivo;
    try {
        archivo = ArchivoRegistro::lee(entrada, fichero);
    } catch (const ErrorAlmacen&) {
        return;
    }
    const QByteArray escrito = archivo.escribe();
    ArchivoRegistro releido;
    try {
        releido = ArchivoRegistro::lee(escrito, fichero);
    } catch (const ErrorAlmacen& error) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(error.texto()));
        exige(false, "what the program writes it reads again");
    }
    exige(releido.escribe() == escrito, "a file written and read again is written the same");
    // Every value comes back with its type and its data, whatever the program makes of them.
    exige(releido.claves().size() == archivo.claves().size(), "every key is written");
    for (const ClaveRegistro* clave : archivo.claves()) {
        const ClaveRegistro* otra = releido.busca(clave->ruta());
        exige(otra && otra->numValores() == clave->numValores(), "a key keeps its values");
        for (const ValorRegistro& v : clave->valores()) {
            const ValorRegistro* w = otra->valor(v.nombre);
            exige(w && w->nombre == v.nombre && w->tipo == v.tipo && w->datos == v.datos, "a value is kept exactly");
        }
    }
}

}
