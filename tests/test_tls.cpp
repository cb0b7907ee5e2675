// Secure mailboxes: TLS from the first byte and after STLS against private Dovecot
// servers holding certificates of every kind, downgrade attempts from the scripted server,
// the test of one mailbox being set up, and the command-line checker's extra fields.
#include "certificados.h"
#include "ciclo_prueba.h"
#include "comprobacion.h"
#include "servidor_dovecot.h"
#include "servidor_guion.h"

#include <QProcess>
#include <QTest>

#include <memory>
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

constexpr int kSinPin = -1;
const QStringList kLineas{"Casa => Uno: Ana", "Casa => Dos: Luis"};
const QString kCaducado = QStringLiteral("el certificado ha caducado o aún no es válido");
const QString kAutoridad = QStringLiteral("el certificado es autofirmado o de una autoridad desconocida");
const QString kOtro = QStringLiteral("el certificado es de otro servidor");
const QString kPinDistinto = QStringLiteral("el certificado no es el que se aceptó para este buzón");
const QString kNegociacion = QStringLiteral("falló la negociación TLS");
const QString kSinSTLS = QStringLiteral("el servidor no acepta STLS");
const QString kInyectados = QStringLiteral("el servidor envió datos sin cifrar tras aceptar STLS");

int abreEscucha(quint16* puerto)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in dir{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t largo = sizeof dir;
    ::bind(fd, reinterpret_cast<sockaddr*>(&dir), largo);
    ::listen(fd, 1);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&dir), &largo);
    *puerto = ntohs(dir.sin_port);
    return fd;
}

QString sinSeguridad(const QString& host, const QString& motivo)
{
    return "Casa: no hay conexión segura con " + host + ": " + motivo + ".";
}

}

class TestTLS : public QObject {
    Q_OBJECT

    Certificados certificados_;
    std::unique_ptr<ServidorDovecot> servidores_[4];

    // One Dovecot per certificate, started when first needed.
    ServidorDovecot* servidor(Tipo t)
    {
        auto& s = servidores_[t];
        if (!s) {
            s = std::make_unique<ServidorDovecot>();
            s->agregaUsuario("ana", "secreta", {{"Uno", "Ana <ana@ejemplo.org>"}, {"Dos", "Luis <luis@ejemplo.org>"}});
            s->usaTLS(certificados_.certificado(t), certificados_.clave(t));
            QString error;
            if (!s->arranca(&error)) {
                qWarning("%s", qPrintable(error));
                return nullptr;
            }
        }
        return s.get();
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(ServidorDovecot::disponible(), "dovecot-pop3d is missing: run tools/instalar");
        QVERIFY(certificados_.hechos());
        // The test authority alone is trusted, here and in the programs started from here.
        qputenv("SSL_CERT_FILE", QFile::encodeName(certificados_.autoridad()));
        qputenv("SSL_CERT_DIR", QFile::encodeName(certificados_.carpeta()));
    }

    void dovecot_data()
    {
        QTest::addColumn<int>("certificado");
        QTest::addColumn<Seguridad>("modo");
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<int>("fijado");
        QTest::addColumn<QString>("motivo");
        QTest::addColumn<bool>("ofreceHuella");
        const auto SSL = Seguridad::SSL, STLS = Seguridad::STLS;
        QTest::newRow("SSL, reached by address") << +Tipo::Valido << SSL << QByteArray("127.0.0.1") << kSinPin << "" << false;
        QTest::newRow("STLS, reached by name") << +Tipo::Valido << STLS << QByteArray("localhost") << kSinPin << "" << false;
        QTest::newRow("expired") << +Tipo::Caducado << SSL << QByteArray("127.0.0.1") << kSinPin << kCaducado << false;
        QTest::newRow("expired, over STLS") << +Tipo::Caducado << STLS << QByteArray("localhost") << kSinPin << kCaducado
                                            << false;
        QTest::newRow("another server's") << +Tipo::OtroNombre << SSL << QByteArray("localhost") << kSinPin << kOtro << false;
        QTest::newRow("another server's, over STLS by address")
            << +Tipo::OtroNombre << STLS << QByteArray("127.0.0.1") << kSinPin << kOtro << false;
        QTest::newRow("self-signed: its fingerprint is offered")
            << +Tipo::Autofirmado << SSL << QByteArray("localhost") << kSinPin << kAutoridad << true;
        QTest::newRow("self-signed, over STLS") << +Tipo::Autofirmado << STLS << QByteArray("localhost") << kSinPin
                                                << kAutoridad << true;
        QTest::newRow("self-signed and for another name: no fingerprint offered")
            << +Tipo::Autofirmado << SSL << QByteArray("127.0.0.1") << kSinPin << kOtro << false;
        QTest::newRow("self-signed and pinned: accepted whatever it names")
            << +Tipo::Autofirmado << SSL << QByteArray("127.0.0.1") << +Tipo::Autofirmado << "" << false;
        QTest::newRow("self-signed, another pinned") << +Tipo::Autofirmado << STLS << QByteArray("localhost")
                                                     << +Tipo::Valido << kPinDistinto << false;
        QTest::newRow("valid, another pinned: the pin rules") << +Tipo::Valido << SSL << QByteArray("localhost")
                                                              << +Tipo::Autofirmado << kPinDistinto << false;
    }
    void dovecot()
    {
        QFETCH(int, certificado);
        QFETCH(Seguridad, modo);
        QFETCH(QByteArray, host);
        QFETCH(int, fijado);
        QFETCH(QString, motivo);
        QFETCH(bool, ofreceHuella);
        const ServidorDovecot* s = servidor(Tipo(certificado));
        QVERIFY(s);
        const Conexion conexion{modo, modo == Seguridad::SSL ? s->puertoTLS() : s->puerto(),
                                fijado == kSinPin ? QByteArray() : certificados_.huella(Tipo(fijado))};
        Ciclo ciclo(0, 10);
        ciclo.c.puerto.clear();
        ciclo.buzones.agregar("Casa", host, "ana", "secreta", true, conexion);
        const QString fallo = motivo.isEmpty() ? QString() : sinSeguridad(QString::fromLatin1(host), motivo);
        // A failure is told once, like an unreachable server, and leaves the count at 0.
        for (int vuelta = 1; vuelta <= 2; ++vuelta) {
            ciclo.p.hechos.clear();
            ciclo.c.CheckMail();
            QCOMPARE(ciclo.p.cajas(), fallo.isEmpty() || vuelta > 1 ? QStringList() : QStringList{"error: " + fallo});
            QCOMPARE(ciclo.lineas(), fallo.isEmpty() ? kLineas : QStringList());
            QCOMPARE(ciclo.mensajes.actuales(1), fallo.isEmpty() ? 2 : 0);
            QCOMPARE(ciclo.buzones.conError(1), !fallo.isEmpty());
            QCOMPARE(ciclo.p.ultimoIcono, fallo.isEmpty() ? Bandera::bandera1 : Bandera::Bandera2);
        }

        // The test of a mailbox being set up says the same, and offers the certificate only
        // when its authority is its one fault.
        const Comprobacion c = CompruebaBuzon("Casa", host, "ana", "secreta", conexion, 10);
        QCOMPARE(c.correcta, fallo.isEmpty());
        QCOMPARE(c.cuenta, fallo.isEmpty() ? 2 : 0);
        QCOMPARE(c.fallo, fallo);
        QCOMPARE(c.huella, ofreceHuella ? certificados_.huella(Tipo(certificado)) : QByteArray());
    }

    void comprobacionSinTLS()
    {
        const ServidorDovecot* s = servidor(Tipo::Valido);
        QVERIFY(s);
        const Conexion plano{Seguridad::Ninguna, s->puerto(), {}};
        Comprobacion c = CompruebaBuzon("Casa", "127.0.0.1", "ana", "mala", plano, 10);
        QCOMPARE(c.fallo, QStringLiteral("Casa: Clave incorrecta "));
        QVERIFY(!c.correcta);
        c = CompruebaBuzon("Casa", "127.0.0.1", "ana", "secreta", {Seguridad::SSL, s->puerto(), {}}, 10);
        QCOMPARE(c.fallo, sinSeguridad("127.0.0.1", kNegociacion));
        QVERIFY2(c.huella.isEmpty(), "a plain server on a TLS mailbox offers no certificate");
    }

    // Downgrade attempts: the secure mailbox ends the session, and nothing after STLS
    // (USER, PASS, not even QUIT) is ever sent in clear.
    void guiones_data()
    {
        QTest::addColumn<Guion>("guion");
        QTest::addColumn<Seguridad>("modo");
        QTest::addColumn<QString>("caja");
        const QByteArray saludo = "+OK listo <1896.697170952@dbc.mtview.ca.us>\r\n";
        const Guion stls = Guion().S(saludo).C("STLS");
        QTest::newRow("STLS answered with -ERR") << Guion(stls).S("-ERR no\r\n").escucha() << Seguridad::STLS
                                                 << "error: " + sinSeguridad("127.0.0.1", kSinSTLS);
        QTest::newRow("STLS answered by hanging up") << Guion(stls).cierra() << Seguridad::STLS
                                                     << "error: " + sinSeguridad("127.0.0.1", kSinSTLS);
        QTest::newRow("data injected behind the +OK")
            << Guion(stls).S("+OK\r\n+OK dentro\r\n").escucha() << Seguridad::STLS
            << "error: " + sinSeguridad("127.0.0.1", kInyectados);
        QTest::newRow("data injected a moment after the +OK")
            << Guion(stls).S("+OK\r\n").pausa(100).S("+OK dentro\r\n").escucha() << Seguridad::STLS
            << "error: " + sinSeguridad("127.0.0.1", kNegociacion);
        QTest::newRow("connection closed during the handshake") << Guion(stls).S("+OK\r\n").pausa(50).cierra()
                                                                << Seguridad::STLS
                                                                << "error: " + sinSeguridad("127.0.0.1", kNegociacion);
        QTest::newRow("SSL to a server that speaks plain POP3") << Guion().S(saludo).escucha() << Seguridad::SSL
                                                                << "error: " + sinSeguridad("127.0.0.1", kNegociacion);
        QTest::newRow("SSL to a server silent during the handshake: its time-out")
            << Guion().escucha() << Seguridad::SSL << "error: Casa: el servidor 127.0.0.1 no responde";
    }
    void guiones()
    {
        QFETCH(Guion, guion);
        QFETCH(Seguridad, modo);
        QFETCH(QString, caja);
        ServidorGuion servidor({guion});
        Ciclo ciclo(servidor.puerto());
        ciclo.buzones.agregar("Casa", "127.0.0.1", "pepe", "secreta", true, {modo, 0, {}});
        ciclo.c.CheckMail();
        QVERIFY(servidor.termina());
        QCOMPARE(ciclo.p.cajas(), QStringList{caja});
        QCOMPARE(ciclo.mensajes.actuales(1), 0);
        QCOMPARE(ciclo.p.ultimoIcono, Bandera::Bandera2);
        QVERIFY(ciclo.buzones.conError(1));
        const QStringList recibidas = servidor.recibidas();
        if (modo == Seguridad::STLS)
            QCOMPARE(recibidas.value(0), QStringLiteral("1: STLS"));
        for (const char* orden : {"USER", "PASS", "QUIT", "secreta"})
            QVERIFY2(!recibidas.join(u'\n').contains(QLatin1String(orden)), qPrintable(recibidas.join(u'\n')));
    }

    // A peer that resets right after the handshake: sends fail with a report, and never
    // raise SIGPIPE, which would end the program.
    void envioTrasReinicio()
    {
        quint16 puerto = 0;
        const int escucha = abreEscucha(&puerto);
        std::thread servidor([&] {
            SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
            SSL_CTX_use_certificate_file(ctx, QFile::encodeName(certificados_.certificado(Tipo::Valido)), SSL_FILETYPE_PEM);
            SSL_CTX_use_PrivateKey_file(ctx, QFile::encodeName(certificados_.clave(Tipo::Valido)), SSL_FILETYPE_PEM);
            const int fd = ::accept(escucha, nullptr, nullptr);
            SSL* ssl = SSL_new(ctx);
            SSL_set_fd(ssl, fd);
            (void)SSL_accept(ssl);
            const linger reinicia{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reinicia, sizeof reinicia);
            ::close(fd);
            SSL_free(ssl);
            SSL_CTX_free(ctx);
        });
        TSockets s;
        s.IPAddr = "127.0.0.1";
        s.Port = QByteArray::number(puerto);
        s.Timeout = 5;
        s.setNonBlocking(false);
        QList<int> errores;
        s.OnErrorOccurred = [&](TSockets*, int, int error, const QByteArray&) { errores << error; };
        s.SConnect();
        QCOMPARE(s.IniciaTLS(), FalloTLS::Ninguno);
        servidor.join();
        ::close(escucha);
        pollfd p{s.SocketHandle(), POLLIN, 0};
        QVERIFY(::poll(&p, 1, 5000) == 1);
        for (int k = 0; k < 3; ++k)
            s.SetText("USER pepe\r\n");
        QVERIFY(!errores.isEmpty());
        s.Disconnect();
    }

    void consola_data()
    {
        QTest::addColumn<QString>("linea");
        QTest::addColumn<QStringList>("argumentos");
        QTest::addColumn<int>("estado");
        QTest::addColumn<QStringList>("salida");
        const QStringList bien = kLineas + QStringList{"2 Mensajes"};
        QTest::newRow("ssl on its port") << "Casa\t127.0.0.1\tana\tsecreta\tssl\t{ssl}" << QStringList() << 0 << bien;
        QTest::newRow("STLS on --puerto") << "Casa\tlocalhost\tana\tsecreta\tSTLS" << QStringList{"--puerto", "{plano}"}
                                          << 0 << bien;
        QTest::newRow("a pinned self-signed certificate, colons and all")
            << "Casa\t127.0.0.1\tana\tsecreta\tssl\t{auto}\t{pin}" << QStringList() << 0 << bien;
        QTest::newRow("ninguna and empty fields: plain, as before")
            << "Casa\t127.0.0.1\tana\tsecreta\tninguna\t\t" << QStringList{"--puerto", "{plano}"} << 0 << bien;
        QTest::newRow("a mode it does not know") << "Casa\t127.0.0.1\tana\tsecreta\ttls" << QStringList() << 3 << QStringList();
        QTest::newRow("a port out of range") << "Casa\t127.0.0.1\tana\tsecreta\tssl\t0" << QStringList() << 3 << QStringList();
        QTest::newRow("a fingerprint one digit short")
            << "Casa\t127.0.0.1\tana\tsecreta\tssl\t{ssl}\t" + QString(63, u'A') << QStringList() << 3 << QStringList();
        QTest::newRow("an eighth field") << "Casa\t127.0.0.1\tana\tsecreta\tssl\t{ssl}\t\tx" << QStringList() << 3
                                         << QStringList();
    }
    void consola()
    {
        QFETCH(QString, linea);
        QFETCH(QStringList, argumentos);
        QFETCH(int, estado);
        QFETCH(QStringList, salida);
        const ServidorDovecot* valido = servidor(Tipo::Valido);
        const ServidorDovecot* propio = servidor(Tipo::Autofirmado);
        QVERIFY(valido && propio);
        QString pin;
        for (int i = 0; i < 64; i += 2)
            pin += QString::fromLatin1(certificados_.huella(Tipo::Autofirmado).mid(i, 2)) + (i < 62 ? ":" : "");
        const auto rellena = [&](QString t) {
            return t.replace(QStringLiteral("{ssl}"), QString::number(valido->puertoTLS()))
                .replace(QStringLiteral("{plano}"), QString::number(valido->puerto()))
                .replace(QStringLiteral("{auto}"), QString::number(propio->puertoTLS()))
                .replace(QStringLiteral("{pin}"), pin);
        };
        for (QString& a : argumentos)
            a = rellena(a);
        QProcess p;
        p.start(QCoreApplication::applicationDirPath() + "/pirel-chequeo",
                argumentos + QStringList{"--espera", "10", "--buzones", "-"});
        p.write(rellena(linea).toUtf8() + '\n');
        p.closeWriteChannel();
        QVERIFY(p.waitForFinished(30000));
        const QString errores = QString::fromUtf8(p.readAllStandardError());
        QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts), salida);
        QCOMPARE(p.exitCode(), estado);
        QVERIFY2(estado == 3 ? errores.contains(u"línea 1") : errores.isEmpty(), qPrintable(errores));
    }
};

QTEST_GUILESS_MAIN(TestTLS)
#include "test_tls.moc"
