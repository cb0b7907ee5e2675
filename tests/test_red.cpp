// The socket component against loopback peers, WinSock's texts, and secure mailboxes against
// private Dovecot servers, downgrade scripts and the command-line checker.
#include "ansi.h"
#include "ciclo_prueba.h"
#include "comprobacion.h"
#include "errores_winsock.h"
#include "servidor_dovecot.h"
#include "servidor_guion.h"

#include <QProcess>
#include <QTest>
#include <QTimer>

#include <thread>

#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace pirel;
using namespace pirel::prueba;
using Tipo = Certificados::Tipo;
Q_DECLARE_METATYPE(pirel::prueba::Guion)
Q_DECLARE_METATYPE(pirel::Seguridad)

namespace {

// A blocking component aimed at the loopback, with its reports ("código texto") and boxes recorded.
struct Banco final : AvisosSocket {
    TSockets s{nullptr, this};
    QStringList informes, cajas;
    int terminaciones = 0;
    explicit Banco(quint16 puerto, bool conManejador = true)
    {
        s.Aplicacion = "Pirel", s.IPAddr = "127.0.0.1", s.Port = QByteArray::number(puerto), s.Timeout = 1;
        s.setNonBlocking(false);
        if (conManejador)
            s.OnErrorOccurred = [this](TSockets*, int, int e, const QByteArray& m) { informes << QString::number(e) + " " + m; };
    }
    void caja(const QString& texto, const QString& titulo) override { cajas << titulo + "|" + texto; }
    void termina() override { ++terminaciones; }
};

// One row of a table: the fields a row leaves out do not apply to it.
struct Caso {
    QByteArray ip = "127.0.0.1", puerto{};
    bool manejador = true;
    int plazo = 1, anidada = -1;
    QByteArray leido{};
    QStringList informes{}, cajas{};
};
struct CasoTLS {
    Tipo certificado;
    Seguridad modo;
    QByteArray host;
    QString motivo{};
    int fijado = -1;
    bool huella = false;
};

const QStringList kLineas{"Casa => Uno: Ana", "Casa => Dos: Luis"};
const QString kCaducado = "el certificado ha caducado o aún no es válido", kOtro = "el certificado es de otro servidor",
              kAutoridad = "el certificado es autofirmado o de una autoridad desconocida",
              kPin = "el certificado no es el que se aceptó para este buzón", kNegociacion = "falló la negociación TLS";
QString sinSeguridad(const QString& host, const QString& motivo)
{
    return "Casa: no hay conexión segura con " + host + ": " + motivo + ".";
}
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
        const std::pair<int, const char*> kTextos[] = {
            {10004, "Llamada al sistema interrumpida"}, {10009, "Numero de fichero erroneo"}, {10013, "Permision denegada"},
            {10014, "Direccion incorrecta"}, {10022, "Argumento no valido"}, {10024, "Demasiados ficheros abiertos"},
            {10035, "Operacion bloqueada"}, {10036, "Operacion realizandose ahora"}, {10037, "Operacion ya en progreso"},
            {10038, "No hay sockets"}, {10039, "Se requiere direccion de destino"}, {10040, "Mensaje demasiado largo"},
            {10041, "Tipo de Protocolo erroneo para socket"}, {10042, "Protocolo no disponible"},
            {10043, "Protocolo no soportado"}, {10044, "Tipo de Socket no soportado"},
            {10045, "Operacion no suportada en socket"}, {10046, "Familia de Protocolos no soportada"},
            {10047, "Familia de direcciones no soportada por familia de protocolos"}, {10048, "Direcci\xF3n ya en uso"},
            {10049, "No es posible asignar la direccion pedida"}, {10050, "La red esta desconectada"},
            {10051, "La red es inalcanzable"}, {10052, "La red ha desconectado al reestablecerse"},
            {10053, "El Software ha abortado la conexion"}, {10054, "Conexion resestablecida por el par"},
            {10055, "No hay disponible espacio en el buffer"}, {10056, "Socket esta ya conectado"},
            {10057, "Socket no esta conectado"}, {10058, "No se puede enviar despues de desconexion de socket"},
            {10059, "Demasiadas referencias: No es posible splice"}, {10060, "El servidor no responde"},
            {10061, "Conexion rechazada"}, {10062, "Demasiados niveles de enlaces simbolicos"},
            {10063, "Nombre de fichero demasiado largo"}, {10064, "Servidor desconectado"},
            {10065, "No hay ruta a el servidor"}, {10066, "Directorio no vacio"}, {10067, "Demasiados procesos"},
            {10068, "Demasiados usuarios"}, {10069, "Cuota del disco excedida"}, {10070, "Stale NFS manejador de fichero"},
            {10071, "Demasiados niveles remotos en el camino"}, {10091, "El subsistema de red no se puede usar"},
            {10092, "WinSock DLL no puede soportar esta aplicacion"}, {10093, "WinSock no inicializado"},
            {11001, "Servidor no encontrado"}, {11002, "Servidor no encontrado"}, {11003, "Error no recuperable"},
            {11004, "No hay Datos"}, {0, "No es un error WinSock"}, {10010, "No es un error WinSock"}};
        for (const auto& [codigo, texto] : kTextos)
            QCOMPARE(ErrorText(codigo), QByteArray(texto));
        QCOMPARE(ansi::aTexto(ErrorText(10048)), QStringLiteral("Dirección ya en uso"));
        for (const auto& [e, w] : {std::pair{ECONNREFUSED, 10061}, {EPIPE, 10058}, {ENOMEM, 10055}, {EPERM, 10001}})
            QCOMPARE(CodigoWinsock(e), w);
    }

    // Blocking connections: "{cerrado}" is a port nobody listens on, "{colmado}" one whose
    // listener never answers.
    void conecta_data()
    {
        QTest::addColumn<Caso>("caso");
        const QStringList rechazo{"10061 Conexion rechazada"};
        QTest::newRow("no port") << Caso{.cajas = {"Pirel|No se ha especificado el Puerto"}};
        QTest::newRow("no address") << Caso{.ip = "", .puerto = "110", .cajas = {"Pirel|No se ha especificado direccion IP"}};
        QTest::newRow("port neither service nor number")
            << Caso{.puerto = "x1", .cajas = {"excepcion|'x1' is not a valid integer value"}};
        QTest::newRow("name not found: not told") << Caso{.ip = "no-existe.invalid", .puerto = "110"};
        QTest::newRow("refused") << Caso{.puerto = "{cerrado}", .informes = rechazo};
        QTest::newRow("refused on a service name") << Caso{.ip = "localhost", .puerto = "pop3", .informes = rechazo};
        QTest::newRow("refused, no handler: a box, then the end") << Caso{
            .puerto = "{cerrado}", .manejador = false, .cajas = {"Pirel|Error 10061 en funcion SConnect\r\nConexion rechazada"}};
        QTest::newRow("time-out while connecting")
            << Caso{.puerto = "{colmado}", .informes = {"10060 Llamada bloqueada", "10004 Llamada al sistema interrumpida"}};
    }
    void conecta()
    {
        QFETCH(Caso, caso);
        const int lleno = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), ocupa = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in dir{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t largo = sizeof dir;
        const auto d = reinterpret_cast<sockaddr*>(&dir);
        QVERIFY(!::bind(lleno, d, largo) && !::listen(lleno, 0) && !::getsockname(lleno, d, &largo) && !::connect(ocupa, d, largo));
        Banco b(0, caso.manejador);
        b.s.IPAddr = caso.ip;
        b.s.Port = caso.puerto.replace("{cerrado}", QByteArray::number(PuertoCerrado()))
                       .replace("{colmado}", QByteArray::number(ntohs(dir.sin_port)));
        try {
            b.s.SConnect();
        } catch (const ErrorConversion& e) {
            b.cajas << "excepcion|" + e.texto();
        }
        QCOMPARE(b.informes, caso.informes);
        QCOMPARE(b.cajas, caso.cajas);
        QCOMPARE(b.terminaciones, caso.manejador ? 0 : 1);
        QVERIFY2((b.s.SocketHandle() >= 0) == (!caso.informes.isEmpty() || !caso.manejador), "a failed connect keeps its socket");
        b.s.Disconnect();
        QCOMPARE(b.s.SocketHandle(), -1);
        ::close(ocupa);
        ::close(lleno);
    }

    void conversacion()
    {
        ServidorGuion servidor({Guion().S(QByteArray("+OK a\0b\r\n", 9)).C("HOLA").S("uno\r\ndos\r\n").C("OTRA").S("tres").cierra()});
        Banco b(servidor.puerto());
        b.s.SConnect();
        QCOMPARE(b.s.PeekData(), QByteArray("+OK a"));
        QCOMPARE(b.s.Recibe(), QByteArray("+OK a\0b\r\n", 9));
        bool cerrada = true;
        b.s.Descarta(100, &cerrada);
        QVERIFY2(!cerrada, "nothing has arrived, and the drop does not wait for it");
        b.s.SetText("HOLA\r\n");
        QCOMPARE(b.s.PeekData(), QByteArray("uno\r\ndos\r\n"));
        b.s.Descarta(5);
        QCOMPARE(b.s.PeekData(), QByteArray("dos\r\n"));
        b.s.Descarta(100);
        b.s.SetText("OTRA\r\n");
        QCOMPARE(b.s.GetText(), QByteArray("tres"));
        QVERIFY(b.s.Recibe(&cerrada).isEmpty() && cerrada);
        cerrada = false;
        b.s.Descarta(100, &cerrada);
        QVERIFY2(cerrada && b.s.GetText().isEmpty(), "a drop also tells that the peer has closed");
        b.s.Disconnect();
        TRANSCRIPCION_LIMPIA(servidor);
        b.s.SetText("QUIT\r\n");
        QVERIFY(b.s.PeekData().isEmpty());
        b.s.Disconnect();
        QCOMPARE(b.informes, (QStringList{"10038 No hay sockets", "10038 No hay sockets"}));
    }

    // A read that waits on a silent server, while the program keeps handling events. A call
    // made from a handler meanwhile is refused before it touches the wait; Disconnect ends it.
    void espera_data()
    {
        QTest::addColumn<Caso>("caso");
        const QString agotado = "10060 Llamada bloqueada", cortado = "10004 Llamada al sistema interrumpida";
        QTest::newRow("time-out, told twice") << Caso{.informes = {agotado, cortado}};
        QTest::newRow("no time-out: waits for the answer") << Caso{.plazo = 0, .leido = "tarde\r\n"};
        QTest::newRow("time-out, no handler") << Caso{.manejador = false, .cajas = {
            "LLAMADA A WINSOCK CANCELADA|Error 10060\r\nBlocking call timed out",
            "Pirel|Error 10004 en funcion GetText (Recv)\r\nLlamada al sistema interrumpida"}};
        for (const int k : {1, 2, 3, 4})
            QTest::addRow("nested call %d", k) << Caso{.anidada = k, .informes = {"10036 Operacion realizandose ahora", agotado, cortado}};
        QTest::newRow("Disconnect") << Caso{.plazo = 5, .anidada = 6, .informes = {cortado}};
    }
    void espera()
    {
        QFETCH(Caso, caso);
        ServidorGuion servidor({Guion().pausa(1300).S("tarde\r\n").escucha()});
        Banco b(servidor.puerto(), caso.manejador);
        b.s.Timeout = caso.plazo;
        b.s.SConnect();
        const int socket = b.s.SocketHandle();
        QTimer::singleShot(50, [&] {
            switch (caso.anidada) {
            case 1: b.s.SConnect(); break;
            case 2: b.s.SetText("X\r\n"); break;
            case 3: (void)b.s.GetText(); break;
            case 4: (void)b.s.PeekData(); break;
            case 6: b.s.Disconnect(); break;
            }
        });
        int ticks = 0;
        QTimer reloj;
        QObject::connect(&reloj, &QTimer::timeout, [&] { ++ticks; });
        reloj.start(50);
        QCOMPARE(b.s.GetText(), caso.leido);
        QCOMPARE(b.informes, caso.informes);
        QCOMPARE(b.cajas, caso.cajas);
        QCOMPARE(b.terminaciones, caso.manejador ? 0 : 1);
        QCOMPARE(b.s.SocketHandle(), caso.anidada == 6 ? -1 : socket);
        QVERIFY2(caso.anidada == 6 || ticks >= 5, "the program keeps handling events while a call waits");
        b.s.Disconnect();
    }

    void noBloqueante()
    {
        ServidorGuion servidor({Guion().S("+OK hola\r\n").C("QUIT").cierra()});
        Banco b(servidor.puerto()), r(PuertoCerrado(), false);
        QStringList eventos;
        b.s.setNonBlocking(true);
        b.s.OnSessionConnected = [&](TSockets*, int) { eventos << "conectada"; };
        b.s.OnDataNeeded = [&](TSockets*, int) { eventos << "escribir"; };
        b.s.OnDataAvailable = [&](TSockets* s, int) {
            eventos << "datos:" + QString::fromLatin1(s->GetText()).trimmed();
            s->SetText("QUIT\r\n");
        };
        b.s.OnSessionClosed = [&](TSockets*, int) { eventos << "cerrada"; };
        b.s.SConnect();
        QTRY_COMPARE_WITH_TIMEOUT(eventos, (QStringList{"conectada", "escribir", "datos:+OK hola", "cerrada"}), 3000);
        r.s.setNonBlocking(true);
        r.s.SConnect();
        QTRY_COMPARE_WITH_TIMEOUT(r.cajas, QStringList{"Pirel|Error 10061 en funcion FD_CONNECT\r\nConexion rechazada"}, 3000);
        for (const quint32 suceso : {TSockets::FD_WRITE | (10054u << 16), 64u | (10054u << 16), 64u})
            b.s.WMUser(7, suceso);
        QCOMPARE(b.informes, QStringList(2, "10054 Conexion resestablecida por el par"));
        b.s.Disconnect();
        r.s.Disconnect();
    }

    // A failure is told once, like an unreachable server, and leaves the count at 0. The test
    // of a mailbox being set up says the same, and offers the certificate only when its
    // authority is its one fault.
    void dovecot_data()
    {
        QTest::addColumn<CasoTLS>("caso");
        const auto SSL = Seguridad::SSL, STLS = Seguridad::STLS;
        QTest::newRow("SSL by address") << CasoTLS{Tipo::Valido, SSL, "127.0.0.1"};
        QTest::newRow("STLS by name") << CasoTLS{Tipo::Valido, STLS, "localhost"};
        QTest::newRow("expired") << CasoTLS{Tipo::Caducado, SSL, "127.0.0.1", kCaducado};
        QTest::newRow("expired, STLS") << CasoTLS{Tipo::Caducado, STLS, "localhost", kCaducado};
        QTest::newRow("another server's") << CasoTLS{Tipo::OtroNombre, SSL, "localhost", kOtro};
        QTest::newRow("another server's, STLS") << CasoTLS{Tipo::OtroNombre, STLS, "127.0.0.1", kOtro};
        QTest::newRow("self-signed") << CasoTLS{Tipo::Autofirmado, SSL, "localhost", kAutoridad, -1, true};
        QTest::newRow("self-signed, STLS") << CasoTLS{Tipo::Autofirmado, STLS, "localhost", kAutoridad, -1, true};
        QTest::newRow("self-signed for another name") << CasoTLS{Tipo::Autofirmado, SSL, "127.0.0.1", kOtro};
        QTest::newRow("self-signed, pinned: any name") << CasoTLS{Tipo::Autofirmado, SSL, "127.0.0.1", {}, Tipo::Autofirmado};
        QTest::newRow("self-signed, another pinned") << CasoTLS{Tipo::Autofirmado, STLS, "localhost", kPin, Tipo::Valido};
        QTest::newRow("valid, another pinned") << CasoTLS{Tipo::Valido, SSL, "localhost", kPin, Tipo::Autofirmado};
    }
    void dovecot()
    {
        QFETCH(CasoTLS, caso);
        const ServidorDovecot* s = dovecot_(caso.certificado);
        QVERIFY(s);
        const Conexion conexion{caso.modo, caso.modo == Seguridad::SSL ? s->puertoTLS() : s->puerto(),
                                caso.fijado < 0 ? QByteArray() : dovecot_.certificados.huella(Tipo(caso.fijado))};
        const QString fallo = caso.motivo.isEmpty() ? QString() : sinSeguridad(caso.host, caso.motivo);
        Ciclo ciclo(0, 10);
        ciclo.c.puerto.clear();
        ciclo.buzones.agregar("Casa", caso.host, "ana", "secreta", true, conexion);
        for (int vuelta = 1; vuelta <= 2; ++vuelta) {
            ciclo.p.hechos.clear();
            ciclo.c.CheckMail();
            QCOMPARE(ciclo.p.cajas(), fallo.isEmpty() || vuelta > 1 ? QStringList() : QStringList{"error: " + fallo});
            QCOMPARE(ciclo.lineas(), fallo.isEmpty() ? kLineas : QStringList());
            QCOMPARE(ciclo.buzones.conError(1), !fallo.isEmpty());
            QCOMPARE(ciclo.p.ultimoIcono, !fallo.isEmpty()           ? Bandera::Bandera2
                                              : caso.modo == Seguridad::SSL ? Bandera::Bandera5
                                                                            : Bandera::bandera1);
        }
        const Comprobacion c = CompruebaBuzon("Casa", caso.host, "ana", "secreta", conexion, 10);
        QCOMPARE(c.fallo, fallo);
        QCOMPARE(c.cuenta, fallo.isEmpty() ? 2 : 0);
        QCOMPARE(c.huella, caso.huella ? dovecot_.certificados.huella(caso.certificado) : QByteArray());
    }

    // Downgrade attempts: the secure mailbox ends the session, and nothing after STLS
    // (USER, PASS, not even QUIT) is ever sent in clear.
    void guiones_data()
    {
        QTest::addColumn<Guion>("guion");
        QTest::addColumn<Seguridad>("modo");
        QTest::addColumn<QString>("motivo");
        const QByteArray saludo = "+OK listo <1896.697170952@dbc.mtview.ca.us>\r\n";
        const Guion stls = Guion().S(saludo).C("STLS");
        const QString sinSTLS = "el servidor no acepta STLS";
        QTest::newRow("STLS refused") << Guion(stls).S("-ERR no\r\n").escucha() << Seguridad::STLS << sinSTLS;
        QTest::newRow("STLS hung up") << Guion(stls).cierra() << Seguridad::STLS << sinSTLS;
        QTest::newRow("data injected behind the +OK") << Guion(stls).S("+OK\r\n+OK dentro\r\n").escucha() << Seguridad::STLS
                                                      << "el servidor envió datos sin cifrar tras aceptar STLS";
        QTest::newRow("data injected a moment later")
            << Guion(stls).S("+OK\r\n").pausa(100).S("+OK dentro\r\n").escucha() << Seguridad::STLS << kNegociacion;
        QTest::newRow("closed during the handshake") << Guion(stls).S("+OK\r\n").pausa(50).cierra() << Seguridad::STLS
                                                     << kNegociacion;
        QTest::newRow("SSL to plain POP3") << Guion().S(saludo).escucha() << Seguridad::SSL << kNegociacion;
        QTest::newRow("SSL, silent handshake: its time-out") << Guion().escucha() << Seguridad::SSL << QString();
    }
    void guiones()
    {
        QFETCH(Guion, guion);
        QFETCH(Seguridad, modo);
        QFETCH(QString, motivo);
        ServidorGuion servidor({guion});
        Ciclo ciclo(servidor.puerto());
        ciclo.buzones.agregar("Casa", "127.0.0.1", "pepe", "secreta", true, {modo, 0, {}});
        ciclo.c.CheckMail();
        QVERIFY(servidor.termina());
        QCOMPARE(ciclo.p.cajas(), QStringList{"error: " + (motivo.isEmpty() ? "Casa: el servidor 127.0.0.1 no responde"
                                                                             : sinSeguridad("127.0.0.1", motivo))});
        QCOMPARE(ciclo.mensajes.actuales(1), 0);
        QCOMPARE(ciclo.p.ultimoIcono, Bandera::Bandera2);
        const QString recibidas = servidor.recibidas().join(u'\n');
        QVERIFY2(modo == Seguridad::SSL || recibidas.startsWith(u"1: STLS\n") || recibidas == u"1: STLS", qPrintable(recibidas));
        QVERIFY2(!recibidas.contains(u"secreta") && !recibidas.contains(u"QUIT"), qPrintable(recibidas));
    }

    // A peer that resets right after the handshake: sends fail with a report, and never
    // raise SIGPIPE, which would end the program.
    void envioTrasReinicio()
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in dir{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t largo = sizeof dir;
        QVERIFY(!::bind(fd, reinterpret_cast<sockaddr*>(&dir), largo) && !::listen(fd, 1)
                && !::getsockname(fd, reinterpret_cast<sockaddr*>(&dir), &largo));
        const Certificados& c = dovecot_.certificados;
        std::thread servidor([&] {
            SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
            SSL_CTX_use_certificate_file(ctx, QFile::encodeName(c.certificado(Tipo::Valido)), SSL_FILETYPE_PEM);
            SSL_CTX_use_PrivateKey_file(ctx, QFile::encodeName(c.clave(Tipo::Valido)), SSL_FILETYPE_PEM);
            const int conexion = ::accept(fd, nullptr, nullptr);
            SSL* ssl = SSL_new(ctx);
            SSL_set_fd(ssl, conexion);
            (void)SSL_accept(ssl);
            const linger reinicia{1, 0};
            ::setsockopt(conexion, SOL_SOCKET, SO_LINGER, &reinicia, sizeof reinicia);
            ::close(conexion);
            SSL_free(ssl);
            SSL_CTX_free(ctx);
        });
        Banco b(ntohs(dir.sin_port));
        b.s.Timeout = 5;
        b.s.SConnect();
        QCOMPARE(b.s.IniciaTLS(), FalloTLS::Ninguno);
        servidor.join();
        ::close(fd);
        pollfd p{b.s.SocketHandle(), POLLIN, 0};
        QCOMPARE(::poll(&p, 1, 5000), 1);
        for (int k = 0; k < 3; ++k)
            b.s.SetText("USER pepe\r\n");
        QVERIFY(!b.informes.isEmpty());
        b.s.Disconnect();
    }

    // The command-line checker's secure fields: three good mailboxes, then lines it refuses.
    void consola_data()
    {
        QTest::addColumn<QString>("entrada");
        QTest::addColumn<int>("estado");
        const QString inicio = "C\t127.0.0.1\tana\tsecreta\t";
        QTest::newRow("ssl, STLS by name, a pinned self-signed certificate with colons")
            << "A\t127.0.0.1\tana\tsecreta\tssl\t{ssl}\nB\tlocalhost\tana\tsecreta\tSTLS\t{plano}\n" + inicio + "ssl\t{auto}\t{pin}" << 0;
        QTest::newRow("a mode it does not know") << inicio + "tls" << 3;
        QTest::newRow("a port out of range") << inicio + "ssl\t0" << 3;
        QTest::newRow("a fingerprint one digit short") << inicio + "ssl\t{ssl}\t" + QString(63, u'A') << 3;
        QTest::newRow("an eighth field") << inicio + "ssl\t{ssl}\t\tx" << 3;
    }
    void consola()
    {
        QFETCH(QString, entrada);
        QFETCH(int, estado);
        const ServidorDovecot *valido = dovecot_(Tipo::Valido), *propio = dovecot_(Tipo::Autofirmado);
        QVERIFY(valido && propio);
        const QByteArray huella = dovecot_.certificados.huella(Tipo::Autofirmado);
        QString pin;
        for (int i = 0; i < 64; i += 2)
            pin += QString::fromLatin1(huella.mid(i, 2)) + (i < 62 ? ":" : "");
        entrada.replace("{ssl}", QString::number(valido->puertoTLS())).replace("{plano}", QString::number(valido->puerto()));
        QProcess p;
        p.start(QCoreApplication::applicationDirPath() + "/pirel-chequeo", {"--espera", "10", "--buzones", "-"});
        p.write(entrada.replace("{auto}", QString::number(propio->puertoTLS())).replace("{pin}", pin).toUtf8() + '\n');
        p.closeWriteChannel();
        QVERIFY(p.waitForFinished(30000));
        const QString errores = QString::fromUtf8(p.readAllStandardError());
        QStringList salida;
        for (const QString buzon : {"A", "B", "C"})
            salida << QString(kLineas[0]).replace("Casa", buzon) << QString(kLineas[1]).replace("Casa", buzon);
        QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts),
                 estado ? QStringList() : salida << "6 Mensajes");
        QCOMPARE(p.exitCode(), estado);
        QVERIFY2(estado ? errores.contains(u"línea 1") : errores.isEmpty(), qPrintable(errores));
    }
};

QTEST_GUILESS_MAIN(TestRed)
#include "test_red.moc"
