#include "ansi.h"
#include "lectura.h"

#include <QTest>

using namespace pirel;

class TestLectura : public QObject {
    Q_OBJECT
private slots:
    void cuenta_data()
    {
        QTest::addColumn<QByteArray>("linea");
        QTest::addColumn<int>("cuenta");
        QTest::newRow("count and size") << QByteArray("+OK 3 12000") << 3;
        QTest::newRow("zero with a size") << QByteArray("+OK 0 0") << 0;
        QTest::newRow("two blanks before the count") << QByteArray("+OK  7 12000") << 7;
        QTest::newRow("count without a size") << QByteArray("+OK 3") << -1;
        QTest::newRow("empty") << QByteArray() << -1;
        QTest::newRow("-ERR") << QByteArray("-ERR no") << -1;
        QTest::newRow("largest 32-bit") << QByteArray("+OK 2147483647 1") << 2147483647;
        QTest::newRow("past 32 bits") << QByteArray("+OK 4294967400 1") << -1;
        QTest::newRow("digits then letters") << QByteArray("+OK 12ab 1") << -1;
        QTest::newRow("negative is not a count") << QByteArray("+OK -5 1") << -1;
        QTest::newRow("digit at position 4 is skipped") << QByteArray("+OK9 8 1") << 8;
        QTest::newRow("digit past 255") << QByteArray("+OK" + QByteArray(260, 'x') + " 5 1") << -1;
    }
    void cuenta()
    {
        QFETCH(QByteArray, linea);
        QFETCH(int, cuenta);
        QCOMPARE(LeeCuenta(linea), cuenta);
    }

    void sello_data()
    {
        QTest::addColumn<QByteArray>("saludo");
        QTest::addColumn<QByteArray>("sello");
        QTest::newRow("stamp at the end") << QByteArray("+OK POP3 listo <1896.697170952@dbc.mtview.ca.us>")
                                          << QByteArray("<1896.697170952@dbc.mtview.ca.us>");
        QTest::newRow("text after the stamp") << QByteArray("+OK <1.2@host> mas") << QByteArray();
        QTest::newRow("no stamp") << QByteArray("+OK listo") << QByteArray();
        QTest::newRow("< last") << QByteArray("+OK <") << QByteArray();
        QTest::newRow("no dot") << QByteArray("+OK <12@host>") << QByteArray();
        QTest::newRow("no @") << QByteArray("+OK <1.2host>") << QByteArray();
        QTest::newRow("no >") << QByteArray("+OK <1.2@host") << QByteArray();
        QTest::newRow("blank inside") << QByteArray("+OK <1.2@ho st>") << QByteArray();
        QTest::newRow("whole line without <") << QByteArray("1.2@host>") << QByteArray("1.2@host>");
        QTest::newRow("empty") << QByteArray() << QByteArray();
    }
    void sello()
    {
        QFETCH(QByteArray, saludo);
        QFETCH(QByteArray, sello);
        QCOMPARE(ExtraeSello(saludo), sello);
    }

    void cabeceras_data()
    {
        QTest::addColumn<QByteArray>("respuesta");
        QTest::addColumn<QByteArray>("linea");
        const QByteArray ok = "+OK\r\n";
        QTest::newRow("name and address") << QByteArray(ok + "Subject: Hola\r\nFrom: Ana Pérez <ana@x.es>\r\n\r\n.\r\n")
                                          << QByteArray("Casa => Hola: Ana P\xE9rez");
        QTest::newRow("no blank after the colon loses a character")
            << QByteArray(ok + "Subject:Hola\r\nFrom:ana@x.es\r\n") << QByteArray("Casa => ola: ana@x.es");
        QTest::newRow("address alone in brackets")
            << QByteArray(ok + "Subject: a\r\nFrom: <ana@x.es>\r\n") << QByteArray("Casa => a: Sin Remitente");
        QTest::newRow("missing headers") << QByteArray(ok + "To: x\r\n") << QByteArray("Casa => Sin Asunto: Sin remitente");
        QTest::newRow("nothing arrived") << QByteArray() << QByteArray("Casa => Sin Asunto: Sin remitente");
        QTest::newRow("subject of 126 characters fits")
            << QByteArray(ok + "Subject: " + QByteArray(125, 's') + "\r\nFrom: a\r\n")
            << QByteArray("Casa => " + QByteArray(125, 's') + ": a");
        QTest::newRow("subject of 127 with its CR is dropped")
            << QByteArray(ok + "Subject: " + QByteArray(126, 's') + "\r\nFrom: a\r\n") << QByteArray("Casa => Sin Asunto: a");
        QTest::newRow("letter case of the name matters")
            << QByteArray(ok + "subject: a\r\nFROM: b\r\n") << QByteArray("Casa => Sin Asunto: Sin remitente");
        QTest::newRow("blanks only") << QByteArray(ok + "Subject:  \t \r\nFrom:   \r\n")
                                     << QByteArray("Casa => Sin Asunto: Sin Remitente");
        QTest::newRow("bare LF lines") << QByteArray("+OK\nSubject: a\nFrom: b\n.\n") << QByteArray("Casa => a: b");
        QTest::newRow("UTF-8 header bytes become Windows-1252")
            << QByteArray(ok + "Subject: Reuni\xC3\xB3n \xE2\x82\xAC \xE6\xBC\xA2\r\nFrom: b\r\n") << QByteArray("Casa => Reuni\xF3n \x80 ?: b");
        QTest::newRow("Latin-1 header bytes stay as they are")
            << QByteArray(ok + "Subject: Reuni\xF3n\r\nFrom: b\r\n") << QByteArray("Casa => Reuni\xF3n: b");
        QTest::newRow("control characters inside become blanks")
            << ok + QByteArray("Subject: a\x1b[2Jb\x00" "c\r\nFrom: b\r\n", 28) << QByteArray("Casa => a [2Jb c: b");
        QTest::newRow("C1 characters become blanks once converted")
            << QByteArray(ok + "Subject: \xC2\x9D a\xC2\x81\xC3\xB1 \xC2\x8F\r\nFrom: b\r\n") << QByteArray("Casa => a \xF1: b");
    }
    void cabeceras()
    {
        QFETCH(QByteArray, respuesta);
        QFETCH(QByteArray, linea);
        QCOMPARE(LineaCabecera("Casa", respuesta), linea);
    }

    // The one cleaning step for server text, on bytes and on Unicode alike.
    void legible_data()
    {
        QTest::addColumn<QByteArray>("texto");
        QTest::addColumn<QByteArray>("limpio");
        QTest::newRow("C0 and DEL") << QByteArray("a\x1b[2J\x07\x7f\r\n\tb\0c", 13) << QByteArray("a [2J     b c");
        QTest::newRow("the five bytes that stay C1") << QByteArray("\x81\x8d\x8f\x90\x9d") << QByteArray(5, ' ');
        QTest::newRow("printable Windows-1252 stays")
            << QByteArray("\x80\x9b\x9f\xa0\xf1\xff ~") << QByteArray("\x80\x9b\x9f\xa0\xf1\xff ~");
    }
    void legible()
    {
        QFETCH(QByteArray, texto);
        QFETCH(QByteArray, limpio);
        QCOMPARE(Legible(texto), limpio);
        QCOMPARE(Legible(ansi::aTexto(texto)), ansi::aTexto(limpio));
        QCOMPARE(Legible(QStringLiteral("x\u0085y\u009bz\u2028")), QStringLiteral("x y z\u2028"));
    }

    void primeraLinea()
    {
        QCOMPARE(PrimeraLinea("+OK hola\r\n"), QByteArray("+OK hola"));
        QVERIFY2(PrimeraLinea("+OK hola\n").isEmpty(), "a reply without CR is the empty line");
        QVERIFY(EmpiezaPor("+ok", "+OK"));
        QVERIFY(EmpiezaPor("-eRr x", "-ERR"));
        QVERIFY(!EmpiezaPor("+O", "+OK"));
    }
};

QTEST_GUILESS_MAIN(TestLectura)
#include "test_lectura.moc"
