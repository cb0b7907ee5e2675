// What the engine reads and decides without a server: counts, stamps, header lines, the
// mailbox table, the announcement, the remembered headers and the APOP digest.
#include "ansi.h"
#include "anuncio.h"
#include "apop_carga.h"
#include "lectura.h"
#include "presentacion_grabada.h"
#include "recuerdo.h"

#include <QCryptographicHash>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace pirel;

Q_DECLARE_METATYPE(pirel::Conexion)

class TestLectura : public QObject {
    Q_OBJECT
private slots:
    void cuenta_data()
    {
        QTest::addColumn<QByteArray>("linea");
        QTest::addColumn<int>("cuenta");
        QTest::newRow("count and size") << QByteArray("+OK 3 12000") << 3;
        QTest::newRow("two blanks before the count") << QByteArray("+OK  0 12000") << 0;
        QTest::newRow("count without a size") << QByteArray("+OK 3") << -1;
        QTest::newRow("-ERR") << QByteArray("-ERR no") << -1;
        QTest::newRow("largest 32-bit") << QByteArray("+OK 2147483647 1") << 2147483647;
        QTest::newRow("2^31") << QByteArray("+OK 2147483648 1") << -1;
        QTest::newRow("digits then letters") << QByteArray("+OK 12ab 1") << -1;
        QTest::newRow("negative") << QByteArray("+OK -5 1") << -1;
        QTest::newRow("digit at position 4 is skipped") << QByteArray("+OK9 8 1") << 8;
        QTest::newRow("digit past 255") << QByteArray("+OK" + QByteArray(260, 'x') + " 5 1") << -1;
    }
    void cuenta()
    {
        QFETCH(QByteArray, linea);
        QTEST(LeeCuenta(linea), "cuenta");
    }

    void sello_data()
    {
        QTest::addColumn<QByteArray>("saludo");
        QTest::addColumn<QByteArray>("sello");
        QTest::newRow("at the end") << QByteArray("+OK listo <1896.697@dbc.mtview.ca.us>") << QByteArray("<1896.697@dbc.mtview.ca.us>");
        QTest::newRow("text after it") << QByteArray("+OK <1.2@host> mas") << QByteArray();
        QTest::newRow("< last") << QByteArray("+OK <") << QByteArray();
        QTest::newRow("no dot") << QByteArray("+OK <1-2@host>") << QByteArray();
        QTest::newRow("no @") << QByteArray("+OK <1.2host>") << QByteArray();
        QTest::newRow("no >") << QByteArray("+OK <1.2@host") << QByteArray();
        QTest::newRow("blank inside") << QByteArray("+OK <1.2@ho st>") << QByteArray();
        QTest::newRow("whole line without <") << QByteArray("1.2@host>") << QByteArray("1.2@host>");
    }
    void sello()
    {
        QFETCH(QByteArray, saludo);
        QTEST(ExtraeSello(saludo), "sello");
    }

    void cabeceras_data()
    {
        QTest::addColumn<QByteArray>("respuesta");
        QTest::addColumn<QString>("linea");
        const auto fila = [&](const char* nombre, const QByteArray& cabeceras, const QByteArray& linea) {
            QTest::newRow(nombre) << QByteArray("+OK\r\n" + cabeceras + "\r\n\r\n.\r\n") << QString::fromUtf8("Casa => " + linea);
        };
        fila("name and address", "Subject: Hola\r\nFrom: Ana <ana@x.es>", "Hola: Ana");
        fila("no blank after the colon loses a character", "Subject:Hola\r\nFrom:ana@x.es", "ola: ana@x.es");
        fila("address alone in brackets", "Subject: a\r\nFrom: <ana@x.es>", "a: Sin Remitente");
        fila("missing headers", "To: x", "Sin Asunto: Sin remitente");
        fila("subject of 126 characters fits", "Subject: " + QByteArray(125, 's') + "\r\nFrom: a", QByteArray(125, 's') + ": a");
        fila("subject of 127 with its CR is dropped", "Subject: " + QByteArray(126, 's') + "\r\nFrom: a", "Sin Asunto: a");
        QTest::newRow("bare LF: 127 without a CR fits")
            << QByteArray("+OK\nSubject: " + QByteArray(126, 's') + "\n.\n") << "Casa => " + QString(126, u's') + ": Sin remitente";
        fila("the window counts decoded characters", "Subject: =?utf-8?B?" + QByteArray("\xC3\xA9").repeated(100).toBase64() + "?=",
             QString(100, u'é').toUtf8() + ": Sin remitente");
        fila("too many decoded characters", "Subject: =?utf-8?B?" + QByteArray("\xC3\xA9").repeated(130).toBase64() + "?=",
             "Sin Asunto: Sin remitente");
        fila("blanks only", "Subject:  \t \r\nFrom:   ", "Sin Asunto: Sin Remitente");
        fila("raw UTF-8 kept whole, raw Latin-1 read as Windows-1252", "Subject: Reuni\xC3\xB3n \xE6\xBC\xA2 \xF0\x9F\x98\x80\r\nFrom: \xF3 \x80",
             "Reunión 漢 😀: ó €");
        fila("control characters become blanks", QByteArray("Subject: a\x1b[2Jb\x00" "c\x7f\r\nFrom: b", 27), "a [2Jb c: b");
        fila("C1 characters become blanks once converted", "Subject: \xC2\x9D a\xC2\x81\xC3\xB1 \xC2\x8F\r\nFrom: b", "a ñ: b");
        fila("rfc word and text", "Subject: (=?ISO-8859-1?Q?a?= b)", "(a b): Sin remitente");
        fila("rfc blank and folding between words go", "Subject: (=?ISO-8859-1?Q?a?= =?ISO-8859-1?Q?b?=\r\n =?ISO-8859-1?Q?c?=)",
             "(abc): Sin remitente");
        fila("rfc underscore in Q", "Subject: (=?ISO-8859-1?Q?a_b?=)", "(a b): Sin remitente");
        fila("rfc charsets differ", "Subject: (=?ISO-8859-1?Q?=B1?= =?ISO-8859-2?Q?=B1_b?=)", "(±ą b): Sin remitente");
        fila("underscore in B stays", "Subject: =?utf-8?B?YV9i?=", "a_b: Sin remitente");
        fila("character split over two words", "Subject: =?utf-8?B?8J+Y?= =?utf-8?B?gA==?=!", "😀!: Sin remitente");
        fila("word with no blank before it", "Subject: [SPAM]=?utf-8?B?wqFIb2xhIQ==?=", "[SPAM]¡Hola!: Sin remitente");
        fila("unknown charset, UTF-8 bytes", "Subject: =?x-raro?Q?caf=C3=A9?=\r\nFrom: =?x-raro?Q?caf=E9?=", "café: café");
        fila("malformed words stay as written", "Subject: =?utf-8?B?%%%?= =?utf-8?X?a?= =?utf-8?Q?=ZZ?= =?utf-8?Q?a",
             "=?utf-8?B?%%%?= =?utf-8?X?a?= =?utf-8?Q?=ZZ?= =?utf-8?Q?a: Sin remitente");
        fila("folded over three lines", "Subject: uno\r\n dos\r\n\ttres\r\nFrom: b", "uno dos tres: b");
        fila("CR LF and ESC inside a word", "Subject: =?utf-8?Q?a=0D=0Ab=1B[2J?=", "a  b [2J: Sin remitente");
        fila("quoted name with an escaped quote", "Subject: x\r\nFrom: \"P\xC3\xA9rez, Ana \\\"la jefa\\\"\" <a@x>", "x: Pérez, Ana \"la jefa\"");
    }
    void cabeceras()
    {
        QFETCH(QByteArray, respuesta);
        QTEST(LineaCabecera("Casa", respuesta), "linea");
    }

    void legibleYCortes()
    {
        const QByteArray sucio("a\x1b[2J\x07\x7f\r\n\tb\0c\x81\x8d\x8f\x90\x9d\x80\x9b\xa0\xf1 ~", 24);
        const QByteArray limpio("a [2J     b c     \x80\x9b\xa0\xf1 ~");
        QCOMPARE(Legible(sucio), limpio);
        QCOMPARE(Legible(ansi::aTexto(sucio)), ansi::aTexto(limpio));
        QCOMPARE(Legible(QStringLiteral("x\u0085y\u009bz\u2028")), QStringLiteral("x y z\u2028"));
        QCOMPARE(ansi::deTexto(QStringLiteral("Electrónico €‘’ 漢")), QByteArray("Electr\xF3nico \x80\x91\x92 ?"));
        // A notice line is cut at 255 characters, an emoji being one.
        const QString linea = LineaCabecera(QByteArray(131, 'n'), "+OK\r\nSubject: " + QByteArray("=?utf-8?B?8J+YgA==?= ").repeated(120) + "\r\n");
        QCOMPARE(linea.toUcs4().size(), 255);
        QVERIFY(linea.endsWith(QStringLiteral("\U0001F600")));
    }

    void tabla()
    {
        TBuzon t;
        QVERIFY(t.agregar(QByteArray(16, 'n'), QByteArray(256, 'h'), QByteArray(256, 'u'), QByteArray(129, 'c'), true));
        QCOMPARE(QList<qsizetype>({t.nombre(1).size(), t.host(1).size(), t.usuario(1).size(), t.clave(1).size()}),
                 QList<qsizetype>({15, 255, 255, 128}));
        for (int i = 2; i <= 20; ++i)
            QVERIFY(t.agregar(QByteArray(1, char('A' + i)), "h", "u", "c", i != 5));
        QVERIFY2(!t.agregar("21", "h", "u", "c", true), "a 21st mailbox must be refused");
        t.setConError(3, true);
        t.borrar(2);
        t.borrar(19);
        QCOMPARE(t.numBuzones(), 18);
        QCOMPARE(t.nombre(2) + t.nombre(3) + t.nombre(18), QByteArray("DET"));
        QVERIFY2(t.conError(3) && !t.chequear(4) && t.nombre(19).isEmpty(), "error flags stay at their positions");
        QCOMPARE(t.Existebuzon("h", "u"), 2);
        QCOMPARE(t.Existebuzon("H", "u"), 0);
        TBuzon copia;
        copia.copiar(t);
        QVERIFY2(!copia.conError(3) && copia.nombre(18) == "T", "error flags are not copied");
        QVERIFY(!copia.TodosconError());
        for (int i = 1; i <= 18; ++i)
            copia.setConError(i, i != 4);
        QVERIFY2(copia.TodosconError(), "an unchecked mailbox without error is ignored");
        TMensaje m(t);
        for (int i = 1; i <= 300; ++i)
            m.AgregaCab(i == 1 ? QString(254, u'x') + QStringLiteral("\U0001F600\U0001F600") : QString::number(i));
        QCOMPARE(m.numCabeceras(), 255);
        QCOMPARE(m.cabecera(1), QString(254, u'x') + QStringLiteral("\U0001F600"));
    }

    void conexiones_data()
    {
        const QByteArray pin(64, 'a'), PIN(64, 'A');
        QTest::addColumn<Conexion>("dada");
        QTest::addColumn<Conexion>("guardada");
        QTest::newRow("none given: plain on 110") << Conexion{} << Conexion{};
        QTest::newRow("SSL without a port takes 995") << Conexion{Seguridad::SSL, 0, {}} << Conexion{Seguridad::SSL, 995, {}};
        QTest::newRow("STLS out of range takes 110") << Conexion{Seguridad::STLS, 70000, {}} << Conexion{Seguridad::STLS, 110, {}};
        QTest::newRow("a port of its own is kept") << Conexion{Seguridad::SSL, 1995, pin} << Conexion{Seguridad::SSL, 1995, PIN};
        QTest::newRow("a pin written with colons")
            << Conexion{Seguridad::SSL, 995, QByteArray("a:").repeated(32) + QByteArray(32, 'b')} << Conexion{Seguridad::SSL, 995, QByteArray(32, 'A') + QByteArray(32, 'B')};
        QTest::newRow("a pin of 63 digits is dropped") << Conexion{Seguridad::SSL, 995, pin.left(63)} << Conexion{Seguridad::SSL, 995, {}};
        QTest::newRow("a pin with a letter past F is dropped") << Conexion{Seguridad::SSL, 995, pin.left(63) + 'g'} << Conexion{Seguridad::SSL, 995, {}};
    }
    void conexiones()
    {
        QFETCH(Conexion, dada);
        QFETCH(Conexion, guardada);
        TBuzon t;
        QVERIFY(t.agregar("A", "pop.x.org", "u", "c", true, dada) && t.agregar("B", "h", "u", "c", true));
        t.modificar(1, "A2", "pop.x.org", "u2", "c2", false);
        QVERIFY2(t.conexion(1) == guardada, "editing name, user or password keeps the connection");
        t.modificar(1, "A2", "pop.otro.org", "u2", "c2", false);
        QVERIFY2(t.conexion(1) == (Conexion{guardada.seguridad, guardada.puerto, {}}), "another server drops the pin");
        t.setConexion(2, dada);
        t.borrar(1);
        QVERIFY(t.conexion(1) == guardada && t.conexion(2) == Conexion{});
    }

    // Two mailboxes, their counts before and now, and what the user is shown.
    void anuncio_data()
    {
        QTest::addColumn<QList<int>>("cuentas"); // before A, before B, now A, now B
        QTest::addColumn<QList<bool>>("errores");
        QTest::addColumn<bool>("animacion");
        QTest::addColumn<int>("sonido");
        QTest::addColumn<QByteArray>("sello");
        QTest::addColumn<QStringList>("hechos");
        QTest::addColumn<bool>("reconocido");
        const QList<bool> sin{false, false};
        QTest::newRow("new mail with animation opens the notice and beeps")
            << QList<int>{0, 0, 2, 1} << sin << true << int(Sonido::Pitido) << QByteArray()
            << QStringList{"aviso: 3 Mensajes", "pitido", "consejo: 3 Mensajes", "icono: bandera1"} << false;
        QTest::newRow("animation off acknowledges at once and plays the wave")
            << QList<int>{0, 0, 2, 0} << sin << false << int(Sonido::Wave) << QByteArray("<1.2@h>")
            << QStringList{"reproduce: spirel.wav", "consejo: 3 Mensajes", "icono: Bandera5"} << true;
        QTest::newRow("a count that fell from 5 to 2 is new mail") << QList<int>{5, 0, 2, 0} << sin << true << int(Sonido::Ninguno)
            << QByteArray() << QStringList{"aviso: 3 Mensajes", "consejo: 3 Mensajes", "icono: bandera1"} << false;
        QTest::newRow("a count that fell to 0 is not") << QList<int>{3, 1, 0, 1} << sin << true << int(Sonido::Pitido)
            << QByteArray() << QStringList{"consejo: 3 Mensajes", "icono: bandera1"} << true;
        QTest::newRow("every checked mailbox failing") << QList<int>{0, 0, 0, 0} << QList<bool>{true, true} << true
            << int(Sonido::Pitido) << QByteArray() << QStringList{"consejo: Error en Conexion", "icono: Bandera2"} << true;
        QTest::newRow("one failing, no mail") << QList<int>{4, 0, 0, 0} << QList<bool>{true, false} << true << int(Sonido::Pitido)
            << QByteArray() << QStringList{"consejo: No Hay Mensajes", "icono: bandera0"} << true;
    }
    void anuncio()
    {
        QFETCH(QList<int>, cuentas);
        QFETCH(QList<bool>, errores);
        TBuzon buzones;
        TMensaje mensajes(buzones);
        for (int i = 1; i <= 2; ++i) {
            buzones.agregar("AB" + QByteArray::number(i), "h", "u", "c", true);
            mensajes.setActuales(i, cuentas[i - 1]);
            buzones.setConError(i, errores[i - 1]);
        }
        mensajes.recibe();
        for (int i = 1; i <= 2; ++i)
            mensajes.setActuales(i, cuentas[i + 1]);
        for (const char* l : {"A => a: x", "A => b: y", "B => c: z"})
            mensajes.AgregaCab(l);
        TOpciones opciones;
        QFETCH(bool, animacion);
        QFETCH(int, sonido);
        QFETCH(QByteArray, sello);
        QFETCH(bool, reconocido);
        opciones.animacion = animacion;
        opciones.sonido = static_cast<Sonido>(sonido);
        opciones.ficheroWav = "spirel.wav";
        prueba::PresentacionGrabada p;
        Anuncia(mensajes, buzones, opciones, sello, p);
        QTEST(p.hechos, "hechos");
        QCOMPARE(!mensajes.HayNuevos(), reconocido);
        QCOMPARE(p.lineasAviso, animacion && !reconocido ? QStringList({"A => a: x", "A => b: y", "B => c: z"}) : QStringList());
    }

    // A file that is not what this program wrote is ignored whole and written anew.
    void recuerdo_data()
    {
        QTest::addColumn<QByteArray>("contenido");
        QTest::addColumn<bool>("leido");
        RecuerdoCabeceras r;
        r.pon(RecuerdoCabeceras::Identidad("x", "110", "y", Seguridad::Ninguna), {{"a", {"Uno", "Ana"}}, {"b", {"Dos", "Luis"}}});
        const QByteArray bueno = r.texto();
        // Crafted by someone who knows the format: the check of its sum holds.
        const auto firmado = [](const QByteArray& cuerpo) {
            return "Ludaren cabeceras 1 " + QCryptographicHash::hash(cuerpo, QCryptographicHash::Sha256).toHex() + '\n' + cuerpo;
        };
        QTest::newRow("as written") << bueno << true;
        QTest::newRow("cut short") << bueno.chopped(1) << false;
        QTest::newRow("one byte changed") << QByteArray(bueno).replace("Uno", "Unx") << false;
        QTest::newRow("another program's") << QByteArray("[General]\nclave=valor\n") << false;
        QTest::newRow("another version") << QByteArray(bueno).replace("cabeceras 1", "cabeceras 2") << false;
        QTest::newRow("larger than any written here") << bueno + QByteArray(RecuerdoCabeceras::kFicheroMax, '\n') << false;
        QTest::newRow("signed, but a header before its mailbox") << firmado("M\ta\tUno\tAna\n") << false;
        QTest::newRow("signed, but an id of 71 characters") << firmado("B\tx 110 y 0\nM\t" + QByteArray(71, 'i') + "\tUno\tAna\n") << false;
        QTest::newRow("signed, control characters and a long subject read as plain short text")
            << firmado("B\tx 110 y 0\nM\ta\tUno\x1b[2J" + QByteArray(300, 'z') + "\tAna\n") << true;
    }
    void recuerdo()
    {
        QFETCH(QByteArray, contenido);
        QFETCH(bool, leido);
        QTemporaryDir dir;
        const QString fichero = dir.filePath(QStringLiteral("Ludaren/cabeceras"));
        QFile f((QDir().mkpath(dir.filePath(QStringLiteral("Ludaren"))), fichero));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(contenido) == contenido.size());
        f.close();
        RecuerdoCabeceras r;
        QCOMPARE(r.carga(fichero), leido);
        QCOMPARE(r.buzones(), leido ? 1 : 0);
        const QString largo = contenido.contains("zzz") ? " [2J" + QString(119, u'z') : QString();
        QCOMPARE(r.de("x 110 y 0").value("a").asunto, leido ? "Uno" + largo : QString());
        r.pon("otro 110 z 0", {{"c", {"Tres", "Eva"}}});
        QVERIFY(r.guarda(fichero));
        struct stat st {};
        QVERIFY(::stat(QFile::encodeName(fichero).constData(), &st) == 0 && (st.st_mode & 0777) == 0600);
        RecuerdoCabeceras otra;
        QVERIFY(otra.carga(fichero));
        QCOMPARE(otra.de("otro 110 z 0").value("c"), (Partes{"Tres", "Eva"}));
        // A pipe in its place would keep the check waiting for a writer: it is not opened.
        QVERIFY(::mkfifo(QFile::encodeName(dir.filePath("tubo")).constData(), 0600) == 0 && !otra.carga(dir.filePath("tubo")));
    }

    void apop()
    {
        prueba::PresentacionGrabada p;
        BibliotecaAPOP apop, sin, vacia;
        QCOMPARE(apop.carga(p), BibliotecaAPOP::Resultado::Cargada);
        const std::pair<const char*, const char*> vectores[] = {
            {"", "d41d8cd98f00b204e9800998ecf8427e"},
            {"abc", "900150983cd24fb0d6963f7d28e17f72"},
            {"12345678901234567890123456789012345678901234567890123456789012345678901234567890", "57edf4a22be3c955ac49da2e2107b67a"},
            // The APOP example: time stamp followed by the shared secret.
            {"<1896.697170952@dbc.mtview.ca.us>tanstaaf", "c4c9334bac560ecc979e58001b3e22fb"},
        };
        for (const auto& [texto, digest] : vectores) {
            char resultado[34];
            std::fill_n(resultado, 34, 'x');
            apop.funcionMDString()(texto, resultado);
            QCOMPARE(QByteArray(resultado), QByteArray(digest));
        }
        QCOMPARE(sin.carga(p, "libNoEsta.so"), BibliotecaAPOP::Resultado::SinBiblioteca);
        // Any library without the entry will do; the C library is always there.
        QCOMPARE(vacia.carga(p, "libc.so.6"), BibliotecaAPOP::Resultado::SinFuncion);
        QVERIFY(!vacia.funcionMDString());
        QCOMPARE(p.hechos, (QStringList{"dialogo: No se encuentra libreria APOP.DLL", "dialogo: Funcion no enlazada. Esta la DLL cargada?"}));
    }
};

QTEST_GUILESS_MAIN(TestLectura)
#include "test_lectura.moc"
