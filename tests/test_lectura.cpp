// What the engine reads and decides without a server: counts, stamps, header lines, the
// mailbox table, the remembered headers and the APOP digest.
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

class TestLectura : public QObject {
    Q_OBJECT
private slots:
    // A STAT answer's count, or a greeting's APOP stamp.
    void lineas_data()
    {
        QTest::addColumn<QByteArray>("linea");
        QTest::addColumn<int>("cuenta");
        QTest::addColumn<QByteArray>("sello");
        const auto fila = [](const char* n, const QByteArray& linea, int cuenta, const QByteArray& sello = {}) {
            QTest::newRow(n) << linea << cuenta << sello;
        };
        fila("count and size", "+OK 3 12000", 3);
        fila("count without a size", "+OK 3", -1);
        fila("largest 32-bit", "+OK 2147483647 1", 2147483647);
        fila("2^31", "+OK 2147483648 1", -1);
        fila("digit at position 4 is skipped", "+OK9 8 1", 8);
        fila("stamp at the end", "+OK listo <1896.697@dbc.mtview.ca.us>", -1, "<1896.697@dbc.mtview.ca.us>");
        fila("stamp without a dot", "+OK <1-2@host>", -1);
        fila("whole line without <", "1.2@host>", -1, "1.2@host>");
    }
    void lineas()
    {
        QFETCH(QByteArray, linea);
        QTEST(LeeCuenta(linea), "cuenta");
        QTEST(ExtraeSello(linea), "sello");
    }

    void cabeceras_data()
    {
        QTest::addColumn<QByteArray>("respuesta");
        QTest::addColumn<QString>("linea");
        const auto fila = [&](const char* nombre, const QByteArray& cabeceras, const QByteArray& linea) {
            QTest::newRow(nombre) << QByteArray("+OK\r\n" + cabeceras + "\r\n\r\n.\r\n") << QString::fromUtf8("Casa => " + linea);
        };
        const QByteArray s126(126, 's');
        fila("name and address", "Subject: Hola\r\nFrom: Ana <ana@x.es>", "Hola: Ana");
        fila("no blank after the colon loses a character", "Subject:Hola\r\nFrom:ana@x.es", "ola: ana@x.es");
        fila("address alone in brackets, blanks only", "Subject: \t \r\nFrom: <ana@x.es>", "Sin Asunto: Sin Remitente");
        fila("subject of 127 with its CR is dropped", "Subject: " + s126 + "\r\nFrom: a", "Sin Asunto: a");
        QTest::newRow("bare LF: 127 fits") << "+OK\nSubject: " + s126 + "\n.\n" << "Casa => " + QString(126, u's') + ": Sin remitente";
        fila("the window counts decoded characters", "Subject: =?utf-8?B?" + QByteArray("\xC3\xA9").repeated(100).toBase64() + "?=",
             QString(100, u'é').toUtf8() + ": Sin remitente");
        fila("raw UTF-8 and Windows-1252", "Subject: Reuni\xC3\xB3n \xF0\x9F\x98\x80\r\nFrom: \xF3 \x80", "Reunión 😀: ó €");
        fila("control characters become blanks", QByteArray("Subject: a\x1b[2Jb\x00" "c\x7f\r\nFrom: b", 27), "a [2Jb c: b");
        fila("C1 characters become blanks once converted", "Subject: \xC2\x9D a\xC2\x81\xC3\xB1 \xC2\x8F\r\nFrom: b", "a ñ: b");
        fila("rfc blank and folding between words go", "Subject: (=?utf-8?Q?a?= =?utf-8?Q?b?=\r\n =?utf-8?Q?c?= d)", "(abc d): Sin remitente");
        fila("rfc underscore in Q, not in B", "Subject: =?ISO-8859-1?Q?a_b?= =?utf-8?B?YV9i?=", "a ba_b: Sin remitente");
        fila("rfc charsets differ", "Subject: (=?ISO-8859-1?Q?=B1?= =?ISO-8859-2?Q?=B1_b?=)", "(±ą b): Sin remitente");
        fila("character split over two words", "Subject: [SPAM]=?utf-8?B?8J+Y?= =?utf-8?B?gA==?=!", "[SPAM]😀!: Sin remitente");
        fila("unknown charset, UTF-8 bytes", "Subject: =?x-raro?Q?caf=C3=A9?=\r\nFrom: =?x-raro?Q?caf=E9?=", "café: café");
        fila("malformed words stay as written", "Subject: =?utf-8?B?%%%?= =?utf-8?X?a?=", "=?utf-8?B?%%%?= =?utf-8?X?a?=: Sin remitente");
        fila("CR LF and ESC inside a word", "Subject: =?utf-8?Q?a=0D=0Ab=1B[2J?=", "a  b [2J: Sin remitente");
        fila("quoted name, escaped quote", "Subject: x\r\nFrom: \"P\xC3\xA9rez, Ana \\\"la jefa\\\"\" <a@x>", "x: Pérez, Ana \"la jefa\"");
    }
    void cabeceras()
    {
        QFETCH(QByteArray, respuesta);
        QTEST(LineaCabecera("Casa", respuesta), "linea");
    }

    // A notice line is cut at 255 characters, an emoji being one.
    void corte()
    {
        const auto l = LineaCabecera(QByteArray(131, 'n'), "+OK\r\nSubject: " + QByteArray("=?utf-8?B?8J+YgA==?= ").repeated(120) + "\r\n");
        QCOMPARE(l.toUcs4().size(), 255);
        QVERIFY(l.endsWith(QStringLiteral("\U0001F600")));
    }

    void tabla()
    {
        TBuzon t;
        QVERIFY(t.agregar(QByteArray(16, 'n'), QByteArray(256, 'h'), QByteArray(256, 'u'), QByteArray(129, 'c'), true));
        QVERIFY(t.nombre(1).size() == 15 && t.host(1).size() == 255 && t.usuario(1).size() == 255 && t.clave(1).size() == 128);
        for (int i = 2; i <= 20; ++i)
            QVERIFY(t.agregar(QByteArray(1, char('A' + i)), "h", "u", "c", i != 5));
        QVERIFY2(!t.agregar("21", "h", "u", "c", true), "a 21st mailbox must be refused");
        t.setConError(3, true);
        t.borrar(2);
        t.borrar(19);
        QCOMPARE(t.nombre(2) + t.nombre(3) + t.nombre(18) + t.nombre(19), QByteArray("DET"));
        QVERIFY2(t.numBuzones() == 18 && t.conError(3) && !t.chequear(4), "error flags stay at their positions");
        for (int i = 1; i <= 18; ++i)
            t.setConError(i, i != 4);
        QVERIFY2(t.TodosconError(), "an unchecked mailbox without error is ignored");
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
        QTest::newRow("one byte changed") << QByteArray(bueno).replace("Uno", "Unx") << false;
        QTest::newRow("another version") << QByteArray(bueno).replace("cabeceras 1", "cabeceras 2") << false;
        QTest::newRow("larger than any written here") << bueno + QByteArray(RecuerdoCabeceras::kFicheroMax, '\n') << false;
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
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(contenido) == contenido.size() && f.flush());
        RecuerdoCabeceras r;
        QCOMPARE(r.carga(fichero), leido);
        const QString largo = contenido.contains("zzz") ? " [2J" + QString(119, u'z') : QString();
        QCOMPARE(r.de("x 110 y 0").value("a").asunto, leido ? "Uno" + largo : QString());
        r.pon("otro 110 z 0", {{"c", {"Tres", "Eva"}}});
        QVERIFY(r.guarda(fichero));
        struct stat st {};
        QVERIFY(::stat(QFile::encodeName(fichero).constData(), &st) == 0 && (st.st_mode & 0777) == 0600);
        RecuerdoCabeceras otra;
        QVERIFY(otra.carga(fichero) && otra.buzones() == (leido ? 2 : 1));
        QCOMPARE(otra.de("otro 110 z 0").value("c"), (Partes{"Tres", "Eva"}));
        // A pipe in its place would keep the check waiting for a writer: it is not opened.
        QVERIFY(::mkfifo(QFile::encodeName(dir.filePath("tubo")).constData(), 0600) == 0 && !otra.carga(dir.filePath("tubo")));
    }

    void apop()
    {
        prueba::PresentacionGrabada p;
        BibliotecaAPOP apop, sin, vacia;
        QCOMPARE(apop.carga(p), BibliotecaAPOP::Resultado::Cargada);
        // The APOP example: time stamp followed by the shared secret.
        char resultado[34];
        std::fill_n(resultado, 34, 'x');
        apop.funcionMDString()("<1896.697170952@dbc.mtview.ca.us>tanstaaf", resultado);
        QCOMPARE(QByteArray(resultado), QByteArray("c4c9334bac560ecc979e58001b3e22fb"));
        QCOMPARE(sin.carga(p, "libNoEsta.so"), BibliotecaAPOP::Resultado::SinBiblioteca);
        // Any library without the entry will do; the C library is always there.
        QVERIFY(vacia.carga(p, "libc.so.6") == BibliotecaAPOP::Resultado::SinFuncion && !vacia.funcionMDString());
        QCOMPARE(p.hechos,
                 (QStringList{"dialogo: No se encuentra libreria APOP.DLL", "dialogo: Funcion no enlazada. Esta la DLL cargada?"}));
    }
};

QTEST_GUILESS_MAIN(TestLectura)
#include "test_lectura.moc"
