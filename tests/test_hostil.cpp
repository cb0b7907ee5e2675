// The check cycle against servers that misbehave on purpose: floods, endless answers,
// zero bytes, absurd counts, silence, cut connections and trickles. Whatever they do, the
// cycle ends within its time-out, keeps its memory, and tells the user what it always tells.
#include "ciclo_prueba.h"
#include "medidas.h"
#include "servidor_guion.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <functional>
#include <optional>

using namespace pirel;
using pirel::prueba::Ciclo;
using pirel::prueba::Guion;
using pirel::prueba::PresentacionGrabada;
using pirel::prueba::ServidorGuion;

namespace {

// Sets the peak back to the present size, so that VmHWM tells the peak of what follows.
bool reiniciaPico()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    return f.open(QIODevice::WriteOnly) && f.write("5") == 1;
}

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer keeps freed blocks in quarantine: a flood read in small pieces shows
// as growth that the ordinary allocator gives back, so only the ordinary build judges it.
constexpr bool kMideMemoria = false;
#else
constexpr bool kMideMemoria = true;
#endif
// Far less than any of the floods below; what one reply may keep is 256 kB.
constexpr qint64 kCrecimientoMaximoKb = 2048;

const QString kNoResponde = QStringLiteral("error: Casa: el servidor 127.0.0.1 no responde");
const QString kSaludoVacio = QStringLiteral("dialogo: Casa: el servidor 127.0.0.1 no responde ().");
const QString kProtocolo =
    QStringLiteral("dialogo: Protocol erroneo: Contacte con el autor. y enviele por mail el siguiente mensaje:\r");

// A literal with its zero bytes, all but the one that ends it.
template <qsizetype N>
QByteArray conCeros(const char (&texto)[N])
{
    return QByteArray(texto, N - 1);
}

struct Caso {
    const char* nombre;
    int espera; // seconds for each reply
    std::function<Guion()> guion;
    QStringList cajas;
    QString consejo;
    int actuales;
    int numLineas;
    QStringList primerasLineas;
    // What the server heard, when the case tells something by it.
    std::optional<QStringList> recibidas;
    // The script runs to its end with every line as expected.
    bool transcripcionLimpia;
    qint64 limiteMs;
};

QList<Caso> casos()
{
    const QByteArray mega = QByteArray(64 * 1024, 'x');
    const QByteArray cabeceraRelleno = "X-Relleno: " + QByteArray(60, 'r') + "\r\n";
    const QByteArray bloque = QByteArray(4096, 'x');
    QList<Caso> r;

    r.append({"saludo de 8 MB sin fin de linea, luego silencio", 1,
              [=] { return Guion().S("+OK ").repite(mega, 128).escucha(); },
              {kNoResponde, kSaludoVacio}, QStringLiteral("Error en Conexion"), 0, 0, {},
              QStringList{"1: QUIT"}, true, 5000});
    r.append({"saludo de 8 MB sin fin de linea, luego cierre", 1,
              [=] { return Guion().S("+OK ").repite(mega, 128).cierra(); },
              {kSaludoVacio}, QStringLiteral("No Hay Mensajes"), 0, 0, {}, QStringList{}, true, 5000});
    r.append({"saludo que no acaba nunca", 1, [=] { return Guion().S("+OK ").sinFin(bloque); },
              {kNoResponde, kSaludoVacio}, QStringLiteral("Error en Conexion"), 0, 0, {}, std::nullopt, false,
              5000});
    r.append({"STAT que no acaba nunca", 1,
              [=] { return Guion::entrada().C("STAT").S("+OK 2 ").sinFin(QByteArray(4096, '9')); },
              {kNoResponde}, QStringLiteral("Error en Conexion"), 0, 0, {}, std::nullopt, false, 5000});
    r.append({"TOP con cabeceras sin fin", 1,
              [=] {
                  return Guion::entrada().stat(2).C("TOP 1 1")
                      .S("+OK\r\nSubject: Eterno\r\nFrom: Ana <ana@x.es>\r\n").sinFin(cabeceraRelleno);
              },
              {kNoResponde}, QStringLiteral("Error en Conexion"), 0, 2,
              {"Casa => Eterno: Ana", "Casa => Sin Asunto: Sin remitente"}, std::nullopt, false, 5000});
    r.append({"bytes cero en las respuestas", 1,
              [=] {
                  return Guion()
                      .S(conCeros("+OK \0hola\0\r\n"))
                      .C("USER pepe").S(conCeros("+OK\0\r\n"))
                      .C("PASS secreta").S(conCeros("+OK\0dentro\0\r\n"))
                      .C("STAT").S(conCeros("+OK 2 \0 300\0\r\n"))
                      .C("TOP 1 1").S(conCeros("+OK\0\r\nSubject: Ho\0la\r\nFrom: \0Ana\0 <a@b>\r\n\r\n\0\r\n.\r\n"))
                      .C("TOP 2 1").S(conCeros("+OK\r\n\0\0\0\r\nSubject: Dos\r\n.\r\n"))
                      .C("QUIT").S(conCeros("+OK\0\r\n"));
              },
              {}, QStringLiteral("2 Mensajes"), 2, 2, {"Casa => Ho la: Ana", "Casa => Dos: Sin remitente"},
              std::nullopt, true, 3000});
    r.append({"STAT de 2147483647 mensajes", 1,
              [=] {
                  Guion g = Guion::entrada().C("STAT").S("+OK 2147483647 100\r\n");
                  for (int k = 1; k <= kMaxCabeceras; ++k)
                      g.top(k, "m" + QByteArray::number(k), "r");
                  return g.quit();
              },
              {}, QStringLiteral("255 Mensajes"), 2147483647, 255, {"Casa => m1: r", "Casa => m2: r"},
              std::nullopt, true, 5000});
    r.append({"STAT de 4294967400 mensajes", 1,
              [=] { return Guion::entrada().C("STAT").S("+OK 4294967400 100\r\n").quit(); },
              {kProtocolo + "+OK 4294967400 100"}, QStringLiteral("No Hay Mensajes"), -1, 0, {}, std::nullopt,
              true, 3000});
    r.append({"STAT con cuenta negativa", 1,
              [=] { return Guion::entrada().C("STAT").S("+OK -5 100\r\n").quit(); },
              {kProtocolo + "+OK -5 100"}, QStringLiteral("No Hay Mensajes"), -1, 0, {}, std::nullopt, true, 3000});
    r.append({"acepta y nunca habla", 1, [=] { return Guion().escucha(); }, {kNoResponde, kSaludoVacio},
              QStringLiteral("Error en Conexion"), 0, 0, {}, QStringList{"1: QUIT"}, true, 5000});
    r.append({"cierra a media linea de saludo", 1, [=] { return Guion().S("+OK hol").cierra(); }, {kSaludoVacio},
              QStringLiteral("No Hay Mensajes"), 0, 0, {}, QStringList{}, true, 3000});
    r.append({"cierra tras la respuesta a USER", 1,
              [=] { return Guion().S("+OK listo\r\n").C("USER pepe").S("+OK\r\n").cierra(); }, {kProtocolo},
              QStringLiteral("No Hay Mensajes"), -1, 0, {}, std::nullopt, true, 3000});
    r.append({"cierra a media respuesta a STAT", 1,
              [=] { return Guion::entrada().C("STAT").S("+OK 3 30").cierra(); }, {kProtocolo},
              QStringLiteral("No Hay Mensajes"), -1, 0, {}, std::nullopt, true, 3000});
    r.append({"cierra a media respuesta a TOP", 1,
              [=] { return Guion::entrada().stat(3).C("TOP 1 1").S("+OK\r\nSubject: Cor").cierra(); }, {},
              QStringLiteral("3 Mensajes"), 3, 3,
              {"Casa => Sin Asunto: Sin remitente", "Casa => Sin Asunto: Sin remitente",
               "Casa => Sin Asunto: Sin remitente"},
              std::nullopt, true, 3000});
    // The mailbox has been read by QUIT: a goodbye that fails costs it nothing.
    const auto leido = [] { return Guion::entrada().stat(1).top(1, "Hola", "Ana").C("QUIT"); };
    r.append({"QUIT sin respuesta", 1, [=] { return leido().escucha(); }, {}, QStringLiteral("1 Mensajes"), 1, 1,
              {"Casa => Hola: Ana"}, std::nullopt, true, 5000});
    r.append({"QUIT con respuesta sin fin", 1, [=] { return leido().S("+OK ").sinFin(bloque); }, {},
              QStringLiteral("1 Mensajes"), 1, 1, {"Casa => Hola: Ana"}, std::nullopt, false, 5000});
    r.append({"QUIT cortado", 1, [=] { return leido().cierra(); }, {}, QStringLiteral("1 Mensajes"), 1, 1,
              {"Casa => Hola: Ana"}, std::nullopt, true, 3000});
    // Empty lines, so that wherever a drop stops, every later reply reads as empty.
    r.append({"saludo seguido de 8 MB de lineas vacias", 1,
              [=] { return Guion().S("+OK hola\r\n").repite(QByteArray("\r\n").repeated(32 * 1024), 128).escucha(); },
              {kProtocolo}, QStringLiteral("No Hay Mensajes"), -1, 0, {}, std::nullopt, false, 5000});
    r.append({"gotea un byte por segundo", 2, [=] { return Guion().goteo("+OK hola\r\n", 1000); },
              {kNoResponde, kSaludoVacio}, QStringLiteral("Error en Conexion"), 0, 0, {}, std::nullopt, false,
              8000});
    // Servers that offer PIPELINING and then fall out of step with the commands.
    const auto enCadena = [] {
        return Guion().S("+OK hola\r\n").capa({"PIPELINING", "UIDL"}).C("USER pepe").S("+OK\r\n").C("PASS secreta");
    };
    const QByteArray dos = "+OK\r\nSubject: Dos\r\nFrom: Ana\r\n\r\n.\r\n";
    const QString vacia = QStringLiteral("Casa => Sin Asunto: Sin remitente");
    r.append({"PIPELINING y una respuesta de mas a USER", 1,
              [=] {
                  return Guion().S("+OK hola\r\n").capa({"PIPELINING", "UIDL"}).C("USER pepe").S("+OK\r\n+OK\r\n")
                      .C("PASS secreta").S("+OK dentro\r\n").C("STAT").S("+OK 2 100\r\n").uidl({"a", "b"}).escucha();
              },
              {kProtocolo + "+OK dentro"}, QStringLiteral("No Hay Mensajes"), -1, 0, {},
              QStringList{"1: CAPA", "1: STAT", "1: UIDL", "1: QUIT"}, true, 5000});
    r.append({"PIPELINING y una lista UIDL sin final", 1,
              [=] { return enCadena().S("+OK\r\n").stat(2).C("UIDL").S("+OK\r\n1 a\r\n2 b\r\n").escucha(); },
              {kNoResponde}, QStringLiteral("Error en Conexion"), 0, 2, {vacia, vacia},
              QStringList{"1: CAPA", "1: STAT", "1: UIDL", "1: QUIT"}, true, 5000});
    r.append({"PIPELINING y una respuesta de menos a TOP", 1,
              [=] { return enCadena().S("+OK\r\n").stat(2).uidl({"a", "b"}).C("TOP 1 1").C("TOP 2 1").S(dos).escucha(); },
              {kNoResponde}, QStringLiteral("Error en Conexion"), 0, 2, {"Casa => Dos: Ana", vacia},
              QStringList{"1: CAPA", "1: STAT", "1: UIDL", "1: TOP 1 1", "1: TOP 2 1", "1: QUIT"}, true, 5000});
    r.append({"PIPELINING y cierre a media ventana", 1,
              [=] {
                  return enCadena().S("+OK\r\n").stat(3).uidl({"a", "b", "c"}).C("TOP 1 1").C("TOP 2 1").C("TOP 3 1")
                      .S(dos).cierra();
              },
              {}, QStringLiteral("3 Mensajes"), 3, 3, {"Casa => Dos: Ana", vacia, vacia}, std::nullopt, true, 3000});
    r.append({"PIPELINING y TOP sin fin", 1,
              [=] {
                  return enCadena().S("+OK\r\n").stat(2).uidl({"a", "b"}).C("TOP 1 1").C("TOP 2 1")
                      .S("+OK\r\nSubject: Eterno\r\nFrom: Ana <ana@x.es>\r\n").sinFin(cabeceraRelleno);
              },
              {kNoResponde}, QStringLiteral("Error en Conexion"), 0, 2, {"Casa => Eterno: Ana", vacia}, std::nullopt,
              false, 5000});
    return r;
}

}

class TestHostil : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // The first cycle of the process sets up what every later one reuses.
        ServidorGuion servidor({Guion::entrada().stat(1).top(1, "a", "b").quit()});
        Ciclo ciclo(servidor.puerto(), 1);
        ciclo.buzon("Casa");
        ciclo.c.CheckMail();
        QVERIFY(servidor.termina());
        QCOMPARE(ciclo.p.cajas(), QStringList());
    }

    void servidorHostil_data()
    {
        QTest::addColumn<int>("indice");
        const QList<Caso> lista = casos();
        for (int i = 0; i < lista.size(); ++i)
            QTest::newRow(lista[i].nombre) << i;
    }

    void servidorHostil()
    {
        QFETCH(int, indice);
        const Caso caso = casos().at(indice);
        // The server and its script are built before memory is measured.
        ServidorGuion servidor({caso.guion()});
        Ciclo ciclo(servidor.puerto(), caso.espera);
        ciclo.buzon("Casa");

        const qint64 antes = prueba::EstadoProceso("VmRSS:");
        const qint64 picoAntes = prueba::EstadoProceso("VmHWM:");
        const bool pico = reiniciaPico();
        QElapsedTimer t;
        t.start();
        ciclo.c.CheckMail();
        const qint64 ms = t.elapsed();
        const qint64 crecimiento = pico ? prueba::EstadoProceso("VmHWM:") - antes : prueba::EstadoProceso("VmHWM:") - picoAntes;
        qInfo("%s: %lld ms, memoria %lld kB -> pico +%lld kB; %s", caso.nombre, ms, antes, crecimiento,
              qUtf8Printable(ciclo.p.cajas().join(QStringLiteral(" | ")).replace(u'\r', u'|')));

        QVERIFY2(ms < caso.limiteMs, qPrintable(QStringLiteral("%1 ms").arg(ms)));
        if (kMideMemoria && antes > 0)
            QVERIFY2(crecimiento < kCrecimientoMaximoKb, qPrintable(QStringLiteral("+%1 kB").arg(crecimiento)));
        QCOMPARE(ciclo.p.cajas(), caso.cajas);
        QCOMPARE(ciclo.p.ultimoConsejo, caso.consejo);
        QCOMPARE(ciclo.mensajes.actuales(1), caso.actuales);
        QCOMPARE(ciclo.mensajes.numCabeceras(), caso.numLineas);
        QCOMPARE(ciclo.lineas().mid(0, caso.primerasLineas.size()), caso.primerasLineas);
        QVERIFY(!ciclo.c.chequeando());
        QCOMPARE(ciclo.s.SocketHandle(), -1);
        if (caso.transcripcionLimpia || caso.recibidas) {
            QVERIFY2(servidor.termina(), "the server's script did not run to its end");
            if (caso.transcripcionLimpia)
                QCOMPARE(servidor.fallos(), QStringList());
            if (caso.recibidas) {
                QStringList oidas = servidor.recibidas();
                // Only what followed the log-in tells anything here.
                oidas.removeIf([](const QString& l) { return l.contains(u"USER") || l.contains(u"PASS"); });
                QCOMPARE(oidas, *caso.recibidas);
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestHostil)
#include "test_hostil.moc"
