// The socket component, WinSock's texts, and secure mailboxes against Dovecot and downgrade scripts.
#include "ciclo_prueba.h"
#include "comprobacion.h"
#include "errores_winsock.h"
#include "servidor_dovecot.h"
#include "servidor_guion.h"
#include <QTest>
#include <QTimer>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace pirel;
using namespace pirel::prueba;
using Tipo = Certificados::Tipo;
namespace {
// A component aimed at the loopback, with its reports ("código texto") and boxes recorded.
struct Banco final : AvisosSocket {
    TSockets s{nullptr, this};
    QStringList informes, cajas;
    int terminaciones = 0;
    explicit Banco(quint16 puerto, bool conManejador = true)
    {
        s.Aplicacion = "Pirel";
        s.IPAddr = "127.0.0.1";
        s.Port = QByteArray::number(puerto);
        s.Timeout = 1;
        s.setNonBlocking(false);
        if (conManejador)
            s.OnErrorOccurred = [this](TSockets*, int, int e, const QByteArray& m) { informes << QString::number(e) + " " + m; };
    }
    void caja(const QString& texto, const QString& titulo) override { cajas << titulo + "|" + texto; }
    void termina() override { ++terminaciones; }
};
// One row of a table: the fields a row leaves out do not apply to it.
struct Caso {
    QByteArray ip = "127.0.0.1", puerto = "{lento}";
    bool manejador = true;
    int plazo = 1, anidada = -1;
    QByteArray leido{};
    QStringList informes{}, cajas{};
};
// Against the Dovecot with `certificado`, or against `guion` when it has steps.
struct CasoTLS {
    Tipo certificado = Tipo::Valido;
    Seguridad modo;
    QByteArray host = "127.0.0.1";
    QString motivo{};
    int fijado = -1;
    Guion guion{};
};
const QStringList kLineas{"Casa => Uno: Ana", "Casa => Dos: Luis"};
const QString kOtro = "el certificado es de otro servidor", kAutoridad = "el certificado es autofirmado o de una autoridad desconocida",
              kPin = "el certificado no es el que se aceptó para este buzón", kNegociacion = "falló la negociación TLS",
              kAgotado = "10060 Llamada bloqueada", kCortado = "10004 Llamada al sistema interrumpida";
}
Q_DECLARE_METATYPE(Caso)
Q_DECLARE_METATYPE(CasoTLS)

class TestRed : public QObject {
    Q_OBJECT
    // A stamp a client may trust only when the greeting came under TLS.
    Dovecots dovecot_{[](ServidorDovecot& s) {
        s.saludo = "listo <1896.697170952@dbc.mtview.ca.us>";
        s.agregaUsuario("ana", "secreta", {{"Uno", "Ana <ana@ejemplo.org>"}, {"Dos", "Luis <luis@ejemplo.org>"}});
    }};
private slots:
    void textos()
    {
        QByteArrayList textos;
        for (const int c : {10004, 10009, 10013, 10014, 10022, 10024, 10035, 10091, 11001, 0, 10010})
            for (int codigo = c; codigo <= (c == 10035 ? 10071 : c == 10091 ? 10093 : c == 11001 ? 11004 : c); ++codigo)
                textos << ErrorText(codigo);
        QCOMPARE(textos, QByteArray(
            "Llamada al sistema interrumpida|Numero de fichero erroneo|Permision denegada|Direccion incorrecta|Argumento no valido|"
            "Demasiados ficheros abiertos|Operacion bloqueada|Operacion realizandose ahora|Operacion ya en progreso|No hay sockets|"
            "Se requiere direccion de destino|Mensaje demasiado largo|Tipo de Protocolo erroneo para socket|Protocolo no disponible|"
            "Protocolo no soportado|Tipo de Socket no soportado|Operacion no suportada en socket|Familia de Protocolos no soportada|"
            "Familia de direcciones no soportada por familia de protocolos|Direcci\xF3n ya en uso|No es posible asignar la direccion pedida|"
            "La red esta desconectada|La red es inalcanzable|La red ha desconectado al reestablecerse|El Software ha abortado la conexion|"
            "Conexion resestablecida por el par|No hay disponible espacio en el buffer|Socket esta ya conectado|Socket no esta conectado|"
            "No se puede enviar despues de desconexion de socket|Demasiadas referencias: No es posible splice|El servidor no responde|"
            "Conexion rechazada|Demasiados niveles de enlaces simbolicos|Nombre de fichero demasiado largo|Servidor desconectado|"
            "No hay ruta a el servidor|Directorio no vacio|Demasiados procesos|Demasiados usuarios|Cuota del disco excedida|"
            "Stale NFS manejador de fichero|Demasiados niveles remotos en el camino|El subsistema de red no se puede usar|"
            "WinSock DLL no puede soportar esta aplicacion|WinSock no inicializado|Servidor no encontrado|Servidor no encontrado|"
            "Error no recuperable|No hay Datos|No es un error WinSock|No es un error WinSock").split('|'));
        for (const auto& [e, w] : {std::pair{ECONNREFUSED, 10061}, {EPIPE, 10058}, {ENOMEM, 10055}, {EPERM, 10001}})
            QCOMPARE(CodigoWinsock(e), w);
    }
    // Blocking calls. "{cerrado}": nobody listens; "{colmado}": the listener never answers; "{lento}":
    // the answer comes after 1.3 s. A call made from a handler meanwhile (so events are handled) is
    // refused before it touches the wait; Disconnect ends it.
    void bloqueante_data()
    {
        QTest::addColumn<Caso>("caso");
        QTest::newRow("no port") << Caso{.puerto = "", .cajas = {"Pirel|No se ha especificado el Puerto"}};
        QTest::newRow("no address") << Caso{.ip = "", .puerto = "110", .cajas = {"Pirel|No se ha especificado direccion IP"}};
        QTest::newRow("port not a number") << Caso{.puerto = "x1", .cajas = {"excepcion|'x1' is not a valid integer value"}};
        QTest::newRow("name not found: not told") << Caso{.ip = "no-existe.invalid", .puerto = "110"};
        QTest::newRow("refused") << Caso{.puerto = "{cerrado}", .informes = {"10061 Conexion rechazada"}};
        QTest::newRow("refused, no handler: a box, then the end") << Caso{
            .puerto = "{cerrado}", .manejador = false, .cajas = {"Pirel|Error 10061 en funcion SConnect\r\nConexion rechazada"}};
        QTest::newRow("time-out while connecting") << Caso{.puerto = "{colmado}", .informes = {kAgotado, kCortado}};
        QTest::newRow("no time-out: waits for the answer") << Caso{.plazo = 0, .leido = "tarde\r\n"};
        QTest::newRow("time-out, no handler") << Caso{.manejador = false, .cajas = {
            "LLAMADA A WINSOCK CANCELADA|Error 10060\r\nBlocking call timed out",
            "Pirel|Error 10004 en funcion GetText (Recv)\r\nLlamada al sistema interrumpida"}};
        for (const int k : {0, 1, 2, 3})
            QTest::addRow("nested call %d", k) << Caso{.anidada = k, .informes = {"10036 Operacion realizandose ahora", kAgotado, kCortado}};
        QTest::newRow("Disconnect") << Caso{.plazo = 5, .anidada = 4, .informes = {kCortado}};
    }
    void bloqueante()
    {
        QFETCH(Caso, caso);
        ServidorGuion servidor({Guion().pausa(1300).S("tarde\r\n").escucha()});
        const QByteArray lento = QByteArray::number(servidor.puerto());
        const int lleno = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), ocupa = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in dir{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t largo = sizeof dir;
        const auto d = reinterpret_cast<sockaddr*>(&dir);
        QVERIFY(!::bind(lleno, d, largo) && !::listen(lleno, 0) && !::getsockname(lleno, d, &largo) && !::connect(ocupa, d, largo));
        Banco b(0, caso.manejador);
        b.s.IPAddr = caso.ip;
        b.s.Timeout = caso.plazo;
        b.s.Port = caso.puerto.replace("{cerrado}", QByteArray::number(PuertoCerrado()))
                       .replace("{colmado}", QByteArray::number(ntohs(dir.sin_port)))
                       .replace("{lento}", lento);
        const std::function<void()> llamadas[] = {[&] { b.s.SConnect(); }, [&] { b.s.SetText("X\r\n"); }, [&] { (void)b.s.GetText(); },
                                                  [&] { (void)b.s.PeekData(); }, [&] { b.s.Disconnect(); }};
        if (caso.anidada >= 0)
            QTimer::singleShot(50, llamadas[caso.anidada]);
        try {
            b.s.SConnect();
            if (b.s.Port == lento)
                QCOMPARE(b.s.GetText(), caso.leido);
        } catch (const ErrorConversion& e) {
            b.cajas << "excepcion|" + e.texto();
        }
        QCOMPARE(b.informes, caso.informes);
        QCOMPARE(b.cajas, caso.cajas);
        QCOMPARE(b.terminaciones, caso.manejador ? 0 : 1);
        const bool abierto = caso.anidada != 4 && (!caso.informes.isEmpty() || !caso.manejador || !caso.leido.isEmpty());
        QVERIFY2((b.s.SocketHandle() >= 0) == abierto, "a failed call keeps its socket until Disconnect");
        ::close(ocupa);
        ::close(lleno);
    }
    // A failure is told once and leaves the count at 0; the test of a mailbox being set up says the
    // same, and offers the certificate only when its authority is its one fault. Downgrade scripts:
    // nothing after STLS (USER, PASS, not even QUIT) is ever sent in clear.
    void seguro_data()
    {
        QTest::addColumn<CasoTLS>("caso");
        const auto SSL = Seguridad::SSL, STLS = Seguridad::STLS;
        const QByteArray saludo = "+OK listo <1896.697170952@dbc.mtview.ca.us>\r\n";
        const Guion stls = Guion().S(saludo).C("STLS");
        QTest::newRow("SSL by address") << CasoTLS{Tipo::Valido, SSL};
        QTest::newRow("STLS by name") << CasoTLS{Tipo::Valido, STLS, "localhost"};
        QTest::newRow("expired") << CasoTLS{Tipo::Caducado, SSL, "127.0.0.1", "el certificado ha caducado o aún no es válido"};
        QTest::newRow("another server's") << CasoTLS{Tipo::OtroNombre, SSL, "localhost", kOtro};
        QTest::newRow("self-signed") << CasoTLS{Tipo::Autofirmado, SSL, "localhost", kAutoridad};
        QTest::newRow("self-signed for another name") << CasoTLS{Tipo::Autofirmado, SSL, "127.0.0.1", kOtro};
        QTest::newRow("self-signed, pinned: any name") << CasoTLS{Tipo::Autofirmado, SSL, "127.0.0.1", {}, Tipo::Autofirmado};
        QTest::newRow("self-signed, another pinned") << CasoTLS{Tipo::Autofirmado, STLS, "localhost", kPin, Tipo::Valido};
        QTest::newRow("valid, another pinned") << CasoTLS{Tipo::Valido, SSL, "localhost", kPin, Tipo::Autofirmado};
        QTest::newRow("STLS refused") << CasoTLS{.modo = STLS, .motivo = "el servidor no acepta STLS", .guion = Guion(stls).S("-ERR no\r\n").escucha()};
        QTest::newRow("data injected behind the +OK") << CasoTLS{.modo = STLS, .motivo = "el servidor envió datos sin cifrar tras aceptar STLS",
                                                                   .guion = Guion(stls).S("+OK\r\n+OK dentro\r\n").escucha()};
        QTest::newRow("data injected a moment later") << CasoTLS{.modo = STLS, .motivo = kNegociacion,
                                                                   .guion = Guion(stls).S("+OK\r\n").pausa(100).S("+OK dentro\r\n").escucha()};
        QTest::newRow("SSL to plain POP3") << CasoTLS{.modo = SSL, .motivo = kNegociacion, .guion = Guion().S(saludo).escucha()};
        QTest::newRow("SSL, silent handshake: its time-out") << CasoTLS{.modo = SSL, .motivo = "Casa: el servidor 127.0.0.1 no responde", .guion = Guion().escucha()};
    }
    void seguro()
    {
        QFETCH(CasoTLS, caso);
        const bool guion = !caso.guion.pasos.isEmpty();
        ServidorGuion servidor(QList<Guion>(guion ? 3 : 0, caso.guion));
        const ServidorDovecot* s = guion ? nullptr : dovecot_(caso.certificado);
        QVERIFY(guion || s);
        const Conexion conexion{caso.modo, guion ? servidor.puerto() : caso.modo == Seguridad::SSL ? s->puertoTLS() : s->puerto(),
                                caso.fijado < 0 ? QByteArray() : dovecot_.certificados.huella(Tipo(caso.fijado))};
        const QString fallo = caso.motivo.isEmpty() || caso.motivo.startsWith(u"Casa") ? caso.motivo
                                  : "Casa: no hay conexión segura con " + caso.host + ": " + caso.motivo + ".";
        Ciclo ciclo(quint16(conexion.puerto), guion ? 1 : 10);
        ciclo.buzones.agregar("Casa", caso.host, "ana", "secreta", true, conexion);
        for (int vuelta = 1; vuelta <= 2; ++vuelta) {
            ciclo.p.hechos.clear();
            ciclo.c.CheckMail();
            QCOMPARE(ciclo.p.cajas(), fallo.isEmpty() || vuelta > 1 ? QStringList() : QStringList{"error: " + fallo});
            QCOMPARE(ciclo.lineas(), fallo.isEmpty() ? kLineas : QStringList());
            QCOMPARE(ciclo.p.ultimoIcono, !fallo.isEmpty()                ? Bandera::Bandera2
                                          : caso.modo == Seguridad::SSL ? Bandera::Bandera5
                                                                        : Bandera::bandera1);
        }
        const Comprobacion c = CompruebaBuzon("Casa", caso.host, "ana", "secreta", conexion, guion ? 1 : 10);
        QCOMPARE(c.fallo, fallo);
        QCOMPARE(c.cuenta, fallo.isEmpty() ? 2 : 0);
        QCOMPARE(c.huella, caso.motivo == kAutoridad ? dovecot_.certificados.huella(caso.certificado) : QByteArray());
        if (guion)
            TRANSCRIPCION_LIMPIA(servidor);
        const QString recibidas = servidor.recibidas().join(u'\n');
        QVERIFY2(!recibidas.contains(u"secreta") && !recibidas.contains(u"QUIT"), qPrintable(recibidas));
    }
    // Sends on a connection gone after the handshake fail with a report, and never raise
    // SIGPIPE, which would end the program.
    void envioTrasCierre()
    {
        const ServidorDovecot* s = dovecot_();
        QVERIFY(s);
        Banco b(s->puertoTLS());
        b.s.SConnect();
        QCOMPARE(b.s.IniciaTLS(), FalloTLS::Ninguno);
        QCOMPARE(::shutdown(b.s.SocketHandle(), SHUT_WR), 0);
        b.s.SetText("USER ana\r\n");
        QCOMPARE(b.informes, QStringList{"10058 No se puede enviar despues de desconexion de socket"});
    }
};

QTEST_GUILESS_MAIN(TestRed)
#include "test_red.moc"
