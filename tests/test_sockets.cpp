#include "ansi.h"
#include "errores_winsock.h"
#include "servidor_guion.h"
#include "sockets.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace pirel;
using pirel::prueba::Guion;
using pirel::prueba::ServidorGuion;

namespace {

struct Avisos final : AvisosSocket {
    void caja(const QString& texto, const QString& titulo) override { cajas << titulo + "|" + texto; }
    void termina() override { ++terminaciones; }
    QStringList cajas;
    int terminaciones = 0;
};

struct Informe {
    int socket, error;
    QByteArray msg;
};

// A component in blocking mode aimed at the loopback, with its reports recorded.
struct Banco {
    Avisos avisos;
    TSockets s{nullptr, &avisos};
    QList<Informe> informes;
    explicit Banco(quint16 puerto, bool conManejador = true)
    {
        s.Aplicacion = "Pirel";
        s.IPAddr = "127.0.0.1";
        s.Port = QByteArray::number(puerto);
        s.setNonBlocking(false);
        s.Timeout = 1;
        if (conManejador)
            s.OnErrorOccurred = [this](TSockets*, int so, int e, const QByteArray& m) { informes.append({so, e, m}); };
    }
    QList<int> codigos() const
    {
        QList<int> r;
        for (const auto& i : informes)
            r << i.error;
        return r;
    }
};

}

class TestSockets : public QObject {
    Q_OBJECT
private slots:
    void textosDeError()
    {
        QCOMPARE(ErrorText(10061), QByteArray("Conexion rechazada"));
        QCOMPARE(ErrorText(11001), ErrorText(11002));
        QCOMPARE(ErrorText(11001), QByteArray("Servidor no encontrado"));
        QCOMPARE(ErrorText(0), QByteArray("No es un error WinSock"));
        QCOMPARE(ErrorText(10010), QByteArray("No es un error WinSock"));
        QCOMPARE(ansi::aTexto(ErrorText(10048)), QStringLiteral("Dirección ya en uso"));
        QCOMPARE(CodigoWinsock(ECONNREFUSED), 10061);
        QCOMPARE(CodigoWinsock(EBADF), 10038);
        QCOMPARE(CodigoWinsock(ETIMEDOUT), 10060);
        QCOMPARE(CodigoWinsock(EHOSTUNREACH), 10065);
    }

    void faltanPuertoODireccion()
    {
        Banco b(0);
        b.s.Port.clear();
        b.s.IPAddr.clear();
        b.s.SConnect();
        QCOMPARE(b.avisos.cajas, QStringList{"Pirel|No se ha especificado el Puerto"});
        b.s.Port = "110";
        b.s.SConnect();
        QCOMPARE(b.avisos.cajas.last(), QStringLiteral("Pirel|No se ha especificado direccion IP"));
        QCOMPARE(b.s.SocketHandle(), -1);
        QVERIFY(b.informes.isEmpty());
    }

    void puertoNoNumericoYNombreSinResolver()
    {
        Banco b(0);
        b.s.Port = "no-es-un-puerto";
        try {
            b.s.SConnect();
            QFAIL("a port that is neither a service nor a number must raise the conversion error");
        } catch (const ErrorConversion& e) {
            QCOMPARE(e.texto(), QStringLiteral("'no-es-un-puerto' is not a valid integer value"));
        }
        QCOMPARE(b.s.SocketHandle(), -1);

        b.s.Port = "110";
        b.s.IPAddr = "no-existe.invalid";
        b.s.SConnect();
        QCOMPARE(b.s.SocketHandle(), -1);
        QVERIFY2(b.informes.isEmpty() && b.avisos.cajas.isEmpty(), "an unresolved name is not reported");
    }

    void conexionRechazadaYNombreDeServicio()
    {
        Banco b(prueba::PuertoCerrado());
        b.s.SConnect();
        QCOMPARE(b.codigos(), QList<int>{10061});
        QCOMPARE(b.informes[0].msg, QByteArray("Conexion rechazada"));
        QVERIFY2(b.s.SocketHandle() >= 0, "a failed connect keeps its socket until Disconnect");
        QCOMPARE(b.informes[0].socket, b.s.SocketHandle());
        b.s.Disconnect();
        QCOMPARE(b.s.SocketHandle(), -1);

        // "pop3" is a service name: nothing listens on 110 here, so it is refused, not a conversion error.
        b.informes.clear();
        b.s.Port = "pop3";
        b.s.SConnect();
        QCOMPARE(b.codigos(), QList<int>{10061});
        b.s.Disconnect();
    }

    void sinSocket()
    {
        Banco b(0);
        QVERIFY(b.s.GetText().isEmpty());
        QVERIFY(b.s.PeekData().isEmpty());
        QVERIFY(b.informes.isEmpty());
        b.s.SetText("QUIT\r\n");
        b.s.Disconnect();
        QCOMPARE(b.codigos(), (QList<int>{10038, 10038}));
        QCOMPARE(b.informes[0].socket, -1);
    }

    void descartaLoLlegadoSinEsperar()
    {
        // The server speaks only when spoken to, so the first drop finds nothing.
        ServidorGuion servidor({Guion().C("HOLA").S("uno\r\ndos\r\n").C("OTRA").S("tres\r\n").C("ADIOS")});
        Banco b(servidor.puerto());
        b.s.SConnect();
        bool cerrada = true;
        b.s.Descarta(100, &cerrada);
        QVERIFY2(!cerrada, "nothing has arrived, and the drop does not wait for it");
        b.s.SetText("HOLA\r\n");
        QCOMPARE(b.s.PeekData(), QByteArray("uno\r\ndos\r\n"));
        b.s.Descarta(5);
        QCOMPARE(b.s.PeekData(), QByteArray("dos\r\n"));
        b.s.Descarta(100);
        b.s.SetText("OTRA\r\n");
        QCOMPARE(b.s.Recibe(), QByteArray("tres\r\n"));
        b.s.SetText("ADIOS\r\n");
        QVERIFY(b.informes.isEmpty());
        b.s.Disconnect();
        QVERIFY(servidor.termina());
        QCOMPARE(servidor.fallos(), QStringList());
    }

    void recibirMirarYCeros()
    {
        ServidorGuion servidor({Guion().S(QByteArray("+OK a\0b\r\n", 9)).C("HOLA").S("uno").cierra()});
        Banco b(servidor.puerto());
        b.s.SConnect();
        QVERIFY(b.s.SocketHandle() >= 0);
        QCOMPARE(b.s.PeekData(), QByteArray("+OK a"));
        QCOMPARE(b.s.Recibe(), QByteArray("+OK a\0b\r\n", 9));
        b.s.SetText("HOLA\r\n");
        QCOMPARE(b.s.GetText(), QByteArray("uno"));
        bool cerrada = false;
        QVERIFY(b.s.Recibe(&cerrada).isEmpty());
        QVERIFY(cerrada);
        cerrada = false;
        b.s.Descarta(100, &cerrada);
        QVERIFY2(cerrada, "a drop also tells that the peer has closed");
        QVERIFY2(b.s.GetText().isEmpty(), "a closed peer gives empty text");
        QVERIFY(b.informes.isEmpty());
        b.s.Disconnect();
        QVERIFY(servidor.termina());
        QCOMPARE(servidor.fallos(), QStringList());
    }

    void tiempoAgotadoInformaDosVecesYNoCongela()
    {
        ServidorGuion servidor({Guion().pausa(1800)});
        Banco b(servidor.puerto());
        b.s.SConnect();
        int ticks = 0;
        QTimer reloj;
        QObject::connect(&reloj, &QTimer::timeout, [&] { ++ticks; });
        reloj.start(50);
        QElapsedTimer t;
        t.start();
        QVERIFY(b.s.GetText().isEmpty());
        const qint64 ms = t.elapsed();
        QVERIFY2(ms >= 900 && ms < 1700, qPrintable(QString::number(ms)));
        QVERIFY2(ticks >= 5, "the program keeps handling events while a call waits");
        QCOMPARE(b.codigos(), (QList<int>{10060, 10004}));
        QCOMPARE(b.informes[0].msg, QByteArray("Llamada bloqueada"));
        QCOMPARE(b.informes[1].msg, QByteArray("Llamada al sistema interrumpida"));
        b.s.Disconnect();
    }

    void llamadaAnidadaYDesconexionDuranteLaEspera()
    {
        ServidorGuion servidor({Guion().pausa(1500)});
        Banco b(servidor.puerto());
        b.s.Timeout = 5;
        b.s.SConnect();
        QTimer::singleShot(50, [&] { b.s.SetText("X\r\n"); });
        QTimer::singleShot(100, [&] { b.s.Disconnect(); });
        QElapsedTimer t;
        t.start();
        QVERIFY(b.s.GetText().isEmpty());
        QVERIFY2(t.elapsed() < 1000, "Disconnect cancels the waiting call");
        QCOMPARE(b.codigos(), (QList<int>{10036, 10004}));
        QCOMPARE(b.s.SocketHandle(), -1);
    }

    // A call made from a handler while another waits is refused before it touches the
    // wait's socket or timer: the waiting call still times out on its own.
    void llamadaAnidadaRechazada_data()
    {
        QTest::addColumn<int>("llamada");
        QTest::newRow("SConnect por nombre") << 0;
        QTest::newRow("SConnect con direccion") << 1;
        QTest::newRow("SetText") << 2;
        QTest::newRow("GetText") << 3;
        QTest::newRow("PeekData") << 4;
        QTest::newRow("Descarta") << 5;
    }
    void llamadaAnidadaRechazada()
    {
        QFETCH(int, llamada);
        ServidorGuion servidor({Guion().pausa(1500)});
        Banco b(servidor.puerto());
        b.s.SConnect();
        const int socket = b.s.SocketHandle();
        QTimer::singleShot(50, [&] {
            switch (llamada) {
            case 0: b.s.IPAddr = "localhost"; b.s.SConnect(); b.s.IPAddr = "127.0.0.1"; break;
            case 1: b.s.SConnect(); break;
            case 2: b.s.SetText("X\r\n"); break;
            case 3: (void)b.s.GetText(); break;
            case 4: (void)b.s.PeekData(); break;
            default: b.s.Descarta(100); break;
            }
        });
        QVERIFY(b.s.GetText().isEmpty());
        QCOMPARE(b.codigos(), (QList<int>{10036, 10060, 10004}));
        QCOMPARE(b.s.SocketHandle(), socket);
        b.s.Disconnect();
    }

    void sinManejadorLaPrimeraFallaTermina()
    {
        Banco b(prueba::PuertoCerrado(), false);
        b.s.SConnect();
        QCOMPARE(b.avisos.cajas, QStringList{"Pirel|Error 10061 en funcion SConnect\r\nConexion rechazada"});
        QCOMPARE(b.avisos.terminaciones, 1);
        b.s.Disconnect();

        ServidorGuion servidor({Guion().pausa(1500)});
        Banco c(servidor.puerto(), false);
        c.s.SConnect();
        QVERIFY(c.s.PeekData().isEmpty());
        QCOMPARE(c.avisos.cajas,
                 (QStringList{"LLAMADA A WINSOCK CANCELADA|Error 10060\r\nBlocking call timed out",
                              "Pirel|Error 10004 en funcion PeekData (Peek)\r\nLlamada al sistema interrumpida"}));
        QCOMPARE(c.avisos.terminaciones, 1);
        c.s.Disconnect();
    }

    void sinLimiteDeTiempo()
    {
        ServidorGuion servidor({Guion().pausa(1300).S("tarde\r\n")});
        Banco b(servidor.puerto());
        b.s.Timeout = 0;
        b.s.SConnect();
        QCOMPARE(b.s.GetText(), QByteArray("tarde\r\n"));
        QVERIFY(b.informes.isEmpty());
        b.s.Disconnect();
    }

    void modoNoBloqueante()
    {
        ServidorGuion servidor({Guion().S("+OK hola\r\n").C("QUIT").cierra()});
        Banco b(servidor.puerto());
        b.s.setNonBlocking(true);
        QStringList eventos;
        b.s.OnSessionConnected = [&](TSockets*, int) { eventos << "conectada"; };
        b.s.OnDataNeeded = [&](TSockets*, int) { eventos << "escribir"; };
        b.s.OnDataAvailable = [&](TSockets* s, int) {
            eventos << "datos:" + QString::fromLatin1(s->GetText()).trimmed();
            s->SetText("QUIT\r\n");
        };
        b.s.OnSessionClosed = [&](TSockets*, int) { eventos << "cerrada"; };
        b.s.SConnect();
        QTRY_COMPARE_WITH_TIMEOUT(eventos.size(), 4, 3000);
        QCOMPARE(eventos, (QStringList{"conectada", "escribir", "datos:+OK hola", "cerrada"}));
        QVERIFY(b.informes.isEmpty());
        b.s.Disconnect();

        Banco r(prueba::PuertoCerrado(), false);
        r.s.setNonBlocking(true);
        r.s.SConnect();
        QTRY_COMPARE_WITH_TIMEOUT(r.avisos.cajas.size(), 1, 3000);
        QCOMPARE(r.avisos.cajas[0], QStringLiteral("Pirel|Error 10061 en funcion FD_CONNECT\r\nConexion rechazada"));
        r.s.Disconnect();
    }

    void notificaciones()
    {
        Banco b(0, false);
        QList<int> leidas;
        b.s.OnDataAvailable = [&](TSockets*, int so) { leidas << so; };
        b.s.WMUser(7, TSockets::FD_READ | (10000u << 16));
        QCOMPARE(leidas, QList<int>{7});
        QVERIFY(b.avisos.cajas.isEmpty());
        b.s.WMUser(7, TSockets::FD_WRITE | (10054u << 16));
        QCOMPARE(b.avisos.cajas.last(), QStringLiteral("Pirel|Error 10054 en funcion FD_WRITE\r\nConexion resestablecida por el par"));
        b.s.WMUser(7, 64u | (10054u << 16));
        QCOMPARE(b.avisos.cajas.last(), QStringLiteral("Pirel|Error 10054 en funcion \r\nConexion resestablecida por el par"));
        b.s.WMUser(7, 64u);
        QCOMPARE(leidas.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestSockets)
#include "test_sockets.moc"
