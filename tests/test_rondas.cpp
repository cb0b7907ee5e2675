// Cycles that spend round trips only on what is new: commands in a row where CAPA offers
// PIPELINING, headers remembered by unique id from one cycle to the next (in memory, and
// in the command-line checker's file), and mailboxes checked side by side yet shown in
// table order.
#include "ciclo_prueba.h"
#include "recuerdo.h"
#include "servidor_guion.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

using namespace pirel;
using pirel::prueba::Ciclo;
using pirel::prueba::Guion;
using pirel::prueba::ServidorGuion;

Q_DECLARE_METATYPE(pirel::prueba::Guion)

namespace {

const QList<QByteArray> kEnCadena{"PIPELINING", "UIDL"};

// A mailbox of its own port, so that each may have a server of its own.
void buzon(Ciclo& ciclo, const QByteArray& nombre, quint16 puerto, const QByteArray& usuario = "pepe")
{
    ciclo.c.puerto.clear();
    ciclo.buzones.agregar(nombre, "127.0.0.1", usuario, "secreta", true, {Seguridad::Ninguna, puerto, {}});
}

// One cycle's mailbox as "id:Asunto" words, a "*" after those whose TOP must go out; the
// script that serves it, and the lines it must give.
Guion sesion(const QByteArray& mensajes, const QList<QByteArray>& capacidades, QStringList* lineas)
{
    const QList<QByteArray> palabras = mensajes.split(' ');
    QList<QByteArray> ids;
    for (const QByteArray& p : palabras)
        ids << p.split(':').first();
    Guion g = Guion().S("+OK\r\n").capa(capacidades).C("USER pepe").S("+OK\r\n").C("PASS secreta").S("+OK\r\n");
    g.stat(static_cast<int>(ids.size())).uidl(ids);
    for (qsizetype k = 0; k < palabras.size(); ++k) {
        QByteArray asunto = palabras[k].split(':').last();
        const bool pide = asunto.endsWith('*');
        if (pide) {
            asunto.chop(1);
            g.top(static_cast<int>(k + 1), asunto, "Ana <ana@x.es>");
        }
        *lineas << "Casa => " + QString::fromLatin1(asunto) + ": Ana";
    }
    return g.quit();
}

QString ficheroRecuerdo()
{
    return RecuerdoCabeceras::FicheroPorDefecto();
}

}

class TestRondas : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(ficheroRecuerdo().startsWith(qEnvironmentVariable("XDG_CACHE_HOME") + "/Ludaren/"),
                 qPrintable(ficheroRecuerdo()));
    }

    // The commands that do not wait on one another go out together, the TOPs a window at a
    // time; without PIPELINING each waits for the answer before it.
    void ordenesEnCadena_data()
    {
        QTest::addColumn<Guion>("guion");
        QTest::addColumn<QStringList>("lineas");
        QTest::addColumn<QStringList>("cajas");
        QList<QByteArray> ids;
        QStringList cuarenta;
        for (int k = 1; k <= 40; ++k) {
            ids << "id" + QByteArray::number(k);
            cuarenta << QStringLiteral("Casa => m%1: r").arg(k);
        }
        const auto tops = [](Guion g, int desde, int hasta) {
            for (int k = desde; k <= hasta; ++k)
                g.top(k, "m" + QByteArray::number(k), "r");
            return g;
        };
        const Guion hastaPASS = Guion().S("+OK hola\r\n").capa(kEnCadena).junta(4).C("USER pepe").S("+OK\r\n")
                                    .C("PASS secreta");
        const Guion entrada = Guion(hastaPASS).S("+OK\r\n");
        QTest::newRow("40 messages: log-in, STAT and UIDL together, then windows of 32 topped up at 16")
            << tops(tops(Guion(entrada).stat(40).uidl(ids).junta(32), 1, 16).junta(24), 17, 40).quit() << cuarenta
            << QStringList();
        QTest::newRow("PIPELINING without UIDL")
            << tops(Guion().S("+OK\r\n").capa({"pipelining"}).junta(3).C("USER pepe").S("+OK\r\n").C("PASS secreta")
                        .S("+OK\r\n").stat(3).junta(3), 1, 3).quit()
            << cuarenta.mid(0, 3) << QStringList();
        QTest::newRow("UIDL without PIPELINING: one command at a time")
            << tops(Guion().unoAUno().S("+OK\r\n").capa({"UIDL", "TOP"}).C("USER pepe").S("+OK\r\n").C("PASS secreta")
                        .S("+OK\r\n").stat(3).uidl(ids.mid(0, 3)), 1, 3).quit()
            << cuarenta.mid(0, 3) << QStringList();
        QTest::newRow("a refused password: the answers behind it are read before QUIT's")
            << Guion(hastaPASS).S("-ERR mala\r\n").C("STAT").S("-ERR fuera\r\n").C("UIDL").S("-ERR fuera\r\n").quit()
            << QStringList() << QStringList{"dialogo: Casa: Clave incorrecta "};
        QTest::newRow("an unreadable count: the listing behind it is read before QUIT's")
            << Guion(entrada).C("STAT").S("+OK 3\r\n").uidl(ids.mid(0, 3)).quit() << QStringList()
            << QStringList{"dialogo: Protocol erroneo: Contacte con el autor. y enviele por mail el siguiente mensaje:\r+OK 3"};
    }
    void ordenesEnCadena()
    {
        QFETCH(Guion, guion);
        QFETCH(QStringList, lineas);
        QFETCH(QStringList, cajas);
        ServidorGuion servidor({guion});
        Ciclo ciclo(servidor.puerto(), 3);
        ciclo.buzon("Casa");
        ciclo.c.CheckMail();
        TRANSCRIPCION_LIMPIA(servidor);
        QCOMPARE(ciclo.lineas(), lineas);
        QCOMPARE(ciclo.p.cajas(), cajas);
    }

    // Successive cycles over one mailbox whose listing changes: only new ids are asked
    // for, and the lines are always those a full cycle would give.
    void recuerdoEntreCiclos_data()
    {
        QTest::addColumn<QList<QByteArray>>("ciclos");
        QTest::addColumn<QList<QByteArray>>("capacidades");
        const QList<std::pair<const char*, QList<QByteArray>>> casos{
            {"a message deleted", {"a:Uno* b:Dos* c:Tres*", "a:Uno c:Tres"}},
            {"new ones", {"a:Uno* b:Dos*", "a:Uno b:Dos c:Tres* d:Cuatro*"}},
            {"a message number now with another id", {"a:Uno* b:Dos*", "c:Tres* b:Dos"}},
            {"an id that comes back after it was gone is asked for", {"a:Uno* b:Dos*", "a:Uno", "a:Uno b:Otro*"}},
            {"an id listed twice is never trusted", {"a:Uno* a:Dos*", "a:Uno* a:Dos*"}},
            {"no message left", {"a:Uno* b:Dos*", "", "a:Uno*"}},
        };
        for (const auto& [nombre, ciclos] : casos) {
            QTest::addRow("%s, in a row", nombre) << ciclos << kEnCadena;
            QTest::addRow("%s, one at a time", nombre) << ciclos << QList<QByteArray>{"UIDL"};
        }
    }
    void recuerdoEntreCiclos()
    {
        QFETCH(QList<QByteArray>, ciclos);
        QFETCH(QList<QByteArray>, capacidades);
        QList<Guion> guiones;
        QList<QStringList> lineas(ciclos.size());
        for (qsizetype n = 0; n < ciclos.size(); ++n) {
            if (!ciclos[n].isEmpty()) {
                guiones << sesion(ciclos[n], capacidades, &lineas[n]);
                continue;
            }
            // An empty mailbox is listed only where the listing goes out with the count.
            Guion vacio = Guion().S("+OK\r\n").capa(capacidades).C("USER pepe").S("+OK\r\n").C("PASS secreta")
                              .S("+OK\r\n").stat(0);
            guiones << (capacidades.contains("PIPELINING") ? vacio.uidl({}) : vacio).quit();
        }
        ServidorGuion servidor(guiones);
        Ciclo ciclo(servidor.puerto());
        ciclo.buzon("Casa");
        for (qsizetype n = 0; n < ciclos.size(); ++n) {
            ciclo.c.CheckMail();
            QCOMPARE(ciclo.lineas(), lineas[n]);
            QCOMPARE(ciclo.p.cajas(), QStringList());
        }
        TRANSCRIPCION_LIMPIA(servidor);
    }

    // The lines carry the mailbox's name of today; another server or user starts afresh.
    void recuerdoSigueAlBuzon()
    {
        QStringList lineas;
        const QList<QByteArray> uidl{"UIDL"};
        ServidorGuion servidor({sesion("a:Uno* b:Dos*", uidl, &lineas), sesion("a:Uno b:Dos", uidl, &lineas),
                                Guion().S("+OK\r\n").capa(uidl).C("USER otro").S("+OK\r\n").C("PASS secreta")
                                    .S("+OK\r\n").stat(2).uidl({"a", "b"}).top(1, "Uno", "Ana").top(2, "Dos", "Ana").quit()});
        Ciclo ciclo(servidor.puerto());
        ciclo.buzon("Casa");
        ciclo.c.CheckMail();
        ciclo.buzones.modificar(1, "Hogar", "127.0.0.1", "pepe", "secreta", true);
        ciclo.c.CheckMail();
        QCOMPARE(ciclo.lineas(), (QStringList{"Hogar => Uno: Ana", "Hogar => Dos: Ana"}));
        ciclo.buzones.modificar(1, "Hogar", "127.0.0.1", "otro", "secreta", true);
        ciclo.c.CheckMail();
        QCOMPARE(ciclo.lineas(), (QStringList{"Hogar => Uno: Ana", "Hogar => Dos: Ana"}));
        TRANSCRIPCION_LIMPIA(servidor);
        QCOMPARE(ciclo.c.recuerdo().buzones(), 1);
    }

    // A file that is not what this program wrote is ignored whole and written anew.
    void ficheroDanado_data()
    {
        QTest::addColumn<QByteArray>("contenido");
        QTest::addColumn<bool>("leido");
        RecuerdoCabeceras r;
        r.pon(RecuerdoCabeceras::Identidad("pop.x.es", "110", "ana", Seguridad::Ninguna),
              {{"a", {"Uno", "Ana"}}, {"b", {"Dos", "Luis"}}});
        const QByteArray bueno = r.texto();
        // Crafted by someone who knows the format: the check of its sum holds.
        const auto firmado = [](const QByteArray& cuerpo) {
            return "Ludaren cabeceras 1 " + QCryptographicHash::hash(cuerpo, QCryptographicHash::Sha256).toHex() + '\n'
                + cuerpo;
        };
        QByteArray cambiado = bueno;
        cambiado[cambiado.size() - 3] = 'X';
        QTest::newRow("as written") << bueno << true;
        QTest::newRow("cut short") << bueno.chopped(1) << false;
        QTest::newRow("one byte changed") << cambiado << false;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("another program's") << QByteArray("[General]\nclave=valor\n") << false;
        QTest::newRow("another version") << QByteArray(bueno).replace("cabeceras 1", "cabeceras 2") << false;
        QTest::newRow("larger than any written here")
            << bueno + QByteArray(RecuerdoCabeceras::kFicheroMax, '\n') << false;
        QTest::newRow("signed, but a header before its mailbox") << firmado("M\ta\tUno\tAna\n") << false;
        QTest::newRow("signed, but an id of 71 characters")
            << firmado("B\tx 110 y 0\nM\t" + QByteArray(71, 'i') + "\tUno\tAna\n") << false;
        QTest::newRow("signed, with control characters and a long subject: read as plain short text")
            << firmado("B\tx 110 y 0\nM\ta\tUno\x1b[2J" + QByteArray(300, 'z') + "\tAna\n") << true;
    }
    void ficheroDanado()
    {
        QFETCH(QByteArray, contenido);
        QFETCH(bool, leido);
        QTemporaryDir dir;
        const QString fichero = dir.filePath(QStringLiteral("Ludaren/cabeceras"));
        QDir().mkpath(dir.filePath(QStringLiteral("Ludaren")));
        QFile f(fichero);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(contenido) == contenido.size());
        f.close();
        RecuerdoCabeceras r;
        QCOMPARE(r.carga(fichero), leido);
        QCOMPARE(r.buzones(), leido ? 1 : 0);
        for (const Partes& p : r.de("x 110 y 0"))
            QCOMPARE(p.asunto, "Uno [2J" + QString(126 - 7, u'z'));
        r.pon("otro 110 z 0", {{"c", {"Tres", "Eva"}}});
        QVERIFY(r.guarda(fichero));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(fichero).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u);
        RecuerdoCabeceras otra;
        QVERIFY(otra.carga(fichero));
        QCOMPARE(otra.de("otro 110 z 0").value("c"), (Partes{"Tres", "Eva"}));
        // A pipe in its place would keep the check waiting for a writer: it is not opened.
        const QString tubo = dir.filePath(QStringLiteral("tubo"));
        QCOMPARE(::mkfifo(QFile::encodeName(tubo).constData(), 0600), 0);
        QVERIFY(!otra.carga(tubo));
    }

    // pirel-chequeo keeps the headers in its cache file between runs; a damaged file
    // costs only the TOPs it would have saved.
    void chequeoDeConsolaRecuerda()
    {
        QStringList lineas;
        const QList<QByteArray> uidl{"UIDL"};
        ServidorGuion servidor({sesion("a:Uno* b:Dos*", uidl, &lineas), sesion("a:Uno b:Dos c:Tres*", uidl, &lineas),
                                sesion("a:Uno* b:Dos* c:Tres*", uidl, &lineas)});
        QFile::remove(ficheroRecuerdo());
        const auto ejecuta = [&] {
            QProcess p;
            p.start(QCoreApplication::applicationDirPath() + "/pirel-chequeo", {"--espera", "5", "--buzones", "-"});
            p.write("Casa\t127.0.0.1\tpepe\tsecreta\tninguna\t" + QByteArray::number(servidor.puerto()) + '\n');
            p.closeWriteChannel();
            p.waitForFinished(20000);
            QString salida = QString::fromUtf8(p.readAllStandardOutput());
            return salida.split(u'\n', Qt::SkipEmptyParts);
        };
        QCOMPARE(ejecuta(), (QStringList{"Casa => Uno: Ana", "Casa => Dos: Ana", "2 Mensajes"}));
        QCOMPARE(ejecuta(), (QStringList{"Casa => Uno: Ana", "Casa => Dos: Ana", "Casa => Tres: Ana", "3 Mensajes"}));
        QFile f(ficheroRecuerdo());
        QVERIFY(f.open(QIODevice::ReadWrite));
        const QByteArray escrito = f.readAll();
        QVERIFY2(!escrito.contains("secreta"), "no password in the cache");
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(ficheroRecuerdo()).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u);
        f.seek(escrito.size() / 2);
        f.write("#");
        f.close();
        QCOMPARE(ejecuta(), (QStringList{"Casa => Uno: Ana", "Casa => Dos: Ana", "Casa => Tres: Ana", "3 Mensajes"}));
        TRANSCRIPCION_LIMPIA(servidor);
        RecuerdoCabeceras r;
        QVERIFY2(r.carga(ficheroRecuerdo()), "the damaged file was written anew");
    }

    // One dead, one slow and one refusing mailbox beside a good one and a refused
    // password: side by side, the user is told exactly what one after another tells.
    void aLaVezComoUnoTrasOtro()
    {
        const quint16 cerrado = prueba::PuertoCerrado();
        const auto ciclo = [&](int simultaneos, Ciclo* c) {
            ServidorGuion muerto({Guion().escucha()});
            ServidorGuion lento({Guion().pausa(300).S("+OK\r\n").C("USER pepe").pausa(200).S("+OK\r\n").C("PASS secreta")
                                     .S("+OK\r\n").stat(2).top(1, "Tarde", "Bea").pausa(300).top(2, "Luego", "Bea").quit()});
            ServidorGuion bueno({Guion::entrada().stat(1).top(1, "Hola", "Ana").quit()});
            ServidorGuion clave({Guion().S("+OK\r\n").C("USER pepe").S("+OK\r\n").C("PASS mala").S("-ERR no\r\n").quit()});
            c->c.simultaneos = simultaneos;
            buzon(*c, "Muerto", muerto.puerto());
            buzon(*c, "Lento", lento.puerto());
            buzon(*c, "Rechaza", cerrado);
            buzon(*c, "Bueno", bueno.puerto());
            c->buzones.agregar("Clave", "127.0.0.1", "pepe", "mala", true, {Seguridad::Ninguna, clave.puerto(), {}});
            c->mensajes.setActuales(3, 7);
            const ResultadoChequeo r = c->c.CheckMail();
            return r;
        };
        Ciclo uno(0, 1);
        Ciclo todos(0, 1);
        const ResultadoChequeo a = ciclo(1, &uno);
        const ResultadoChequeo b = ciclo(kMaxBuzones, &todos);
        QCOMPARE(todos.lineas(), uno.lineas());
        QCOMPARE(todos.p.hechos, uno.p.hechos);
        QCOMPARE(b.fallidos, a.fallidos);
        QCOMPARE(b.cuentas, a.cuentas);
        QCOMPARE(b.estado, a.estado);
        for (int i = 1; i <= 5; ++i)
            QCOMPARE(todos.buzones.conError(i), uno.buzones.conError(i));
        QCOMPARE(uno.lineas(), (QStringList{"Lento => Tarde: Bea", "Lento => Luego: Bea", "Bueno => Hola: Ana"}));
        QCOMPARE(uno.p.cajas(), (QStringList{"error: Muerto: el servidor 127.0.0.1 no responde",
                                            "dialogo: Muerto: el servidor 127.0.0.1 no responde ().",
                                            "error: 127.0.0.1: Conexion rechazada",
                                            "dialogo: Clave: Clave incorrecta "}));
        QCOMPARE(a.fallidos, (QList<int>{1, 3, 5}));
    }

    // A mailbox whose server greets only once another mailbox's server has been spoken to:
    // one after another it would wait in vain.
    void losBuzonesSeSolapan()
    {
        ServidorGuion segundo({Guion::entrada().stat(0).quit()});
        ServidorGuion primero({Guion().cita(segundo, 1).S("+OK\r\n").C("USER pepe").S("+OK\r\n").C("PASS secreta")
                                   .S("+OK\r\n").stat(0).quit()});
        Ciclo ciclo(0, 5);
        buzon(ciclo, "Uno", primero.puerto());
        buzon(ciclo, "Dos", segundo.puerto());
        QCOMPARE(ciclo.c.CheckMail().fallidos, QList<int>());
        TRANSCRIPCION_LIMPIA(primero);
        TRANSCRIPCION_LIMPIA(segundo);
        QCOMPARE(ciclo.p.cajas(), QStringList());
    }

    // The program quits while its sessions wait: each ends at once with its QUIT, and
    // nothing more is shown.
    void salidaDuranteUnCiclo()
    {
        ServidorGuion mudo({Guion().escucha()});
        ServidorGuion lento({Guion().pausa(1000).escucha()});
        Ciclo ciclo(0, 30);
        buzon(ciclo, "Mudo", mudo.puerto());
        buzon(ciclo, "Lento", lento.puerto());
        QTimer::singleShot(300, [] { QCoreApplication::exit(0); });
        const ResultadoChequeo r = ciclo.c.CheckMail();
        // The quit is spent; later waits of this process must wait again.
        QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
        QVERIFY(r.hecho);
        QVERIFY(!ciclo.c.chequeando());
        QCOMPARE(ciclo.p.hechos, QStringList());
        QVERIFY(mudo.termina() && lento.termina());
        QCOMPARE(mudo.recibidas(), QStringList{"1: QUIT"});
    }

    // The second mailbox runs ahead of the first and fails on a TOP whose line the first
    // leaves no room for: one after another that TOP would not have gone out, so the user
    // hears nothing of it.
    void loQueNoCabeNoSeCuenta()
    {
        ServidorGuion dos({Guion::entrada().stat(3).top(1, "m1", "r").C("TOP 2 1").escucha()});
        Guion g = Guion().cita(dos, 6).S("+OK\r\n").C("USER pepe").S("+OK\r\n").C("PASS secreta").S("+OK\r\n").stat(254);
        for (int k = 1; k <= 254; ++k)
            g.top(k, "m" + QByteArray::number(k), "r");
        ServidorGuion uno({g.quit()});
        Ciclo ciclo(0, 1);
        buzon(ciclo, "Uno", uno.puerto());
        buzon(ciclo, "Dos", dos.puerto());
        const ResultadoChequeo r = ciclo.c.CheckMail();
        TRANSCRIPCION_LIMPIA(uno);
        QCOMPARE(ciclo.mensajes.numCabeceras(), 255);
        QCOMPARE(ciclo.lineas().last(), QStringLiteral("Dos => m1: r"));
        QCOMPARE(ciclo.p.cajas(), QStringList());
        QCOMPARE(r.fallidos, QList<int>());
        QCOMPARE(r.cuentas.mid(0, 2), (QList<int>{254, 3}));
        QVERIFY(!ciclo.buzones.conError(2));
    }
};

QTEST_GUILESS_MAIN(TestRondas)
#include "test_rondas.moc"
