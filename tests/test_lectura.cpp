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
        QTest::addColumn<QString>("linea");
        const QByteArray ok = "+OK\r\n";
        const auto fila = [&](const char* nombre, const QByteArray& cabeceras, const QByteArray& linea) {
            QTest::newRow(nombre) << QByteArray(ok + cabeceras + "\r\n\r\n.\r\n") << QString::fromUtf8(linea);
        };
        fila("name and address", "Subject: Hola\r\nFrom: Ana <ana@x.es>", "Casa => Hola: Ana");
        fila("no blank after the colon loses a character", "Subject:Hola\r\nFrom:ana@x.es", "Casa => ola: ana@x.es");
        fila("address alone in brackets", "Subject: a\r\nFrom: <ana@x.es>", "Casa => a: Sin Remitente");
        fila("missing headers", "To: x", "Casa => Sin Asunto: Sin remitente");
        QTest::newRow("nothing arrived") << QByteArray() << QStringLiteral("Casa => Sin Asunto: Sin remitente");
        fila("subject of 126 characters fits", "Subject: " + QByteArray(125, 's') + "\r\nFrom: a",
             "Casa => " + QByteArray(125, 's') + ": a");
        fila("subject of 127 with its CR is dropped", "Subject: " + QByteArray(126, 's') + "\r\nFrom: a", "Casa => Sin Asunto: a");
        // The window counts decoded characters: 100 of them fit, 130 do not.
        fila("long encoded subject fits", "Subject: =?utf-8?B?" + QByteArray("\xC3\xA9").repeated(100).toBase64() + "?=",
             "Casa => " + QString(100, u'é').toUtf8() + ": Sin remitente");
        fila("too many decoded characters", "Subject: =?utf-8?B?" + QByteArray("\xC3\xA9").repeated(130).toBase64() + "?=",
             "Casa => Sin Asunto: Sin remitente");
        fila("letter case of the name matters", "subject: a\r\nFROM: b", "Casa => Sin Asunto: Sin remitente");
        fila("blanks only", "Subject:  \t \r\nFrom:   ", "Casa => Sin Asunto: Sin Remitente");
        QTest::newRow("bare LF lines") << QByteArray("+OK\nSubject: a\nFrom: b\n.\n") << QStringLiteral("Casa => a: b");
        fila("raw UTF-8 kept whole", "Subject: Reuni\xC3\xB3n \xE2\x82\xAC \xE6\xBC\xA2 \xF0\x9F\x98\x80\r\nFrom: b",
             "Casa => Reunión € 漢 😀: b");
        fila("raw Latin-1 read as Windows-1252", "Subject: Reuni\xF3n \x80\r\nFrom: b", "Casa => Reunión €: b");
        fila("control characters inside become blanks", QByteArray("Subject: a\x1b[2Jb\x00" "c\r\nFrom: b", 26),
             "Casa => a [2Jb c: b");
        fila("C1 characters become blanks once converted", "Subject: \xC2\x9D a\xC2\x81\xC3\xB1 \xC2\x8F\r\nFrom: b",
             "Casa => a ñ: b");
        // RFC 2047, section 8.
        fila("rfc one word", "Subject: (=?ISO-8859-1?Q?a?=)", "Casa => (a): Sin remitente");
        fila("rfc word and text", "Subject: (=?ISO-8859-1?Q?a?= b)", "Casa => (a b): Sin remitente");
        fila("rfc blank between words goes", "Subject: (=?ISO-8859-1?Q?a?= =?ISO-8859-1?Q?b?=)", "Casa => (ab): Sin remitente");
        fila("rfc folding between words goes", "Subject: (=?ISO-8859-1?Q?a?=\r\n   =?ISO-8859-1?Q?b?=)",
             "Casa => (ab): Sin remitente");
        fila("rfc underscore in Q", "Subject: (=?ISO-8859-1?Q?a_b?=)", "Casa => (a b): Sin remitente");
        fila("rfc charsets differ", "Subject: (=?ISO-8859-1?Q?a?= =?ISO-8859-2?Q?_b?=)", "Casa => (a b): Sin remitente");
        fila("rfc sender", "Subject: x\r\nFrom: =?US-ASCII?Q?Keith_Moore?= <moore@cs.utk.edu>", "Casa => x: Keith Moore");
        fila("underscore in B stays", "Subject: =?utf-8?B?YV9i?=", "Casa => a_b: Sin remitente");
        fila("character split over two words", "Subject: =?utf-8?B?8J+Y?= =?utf-8?B?gA==?=!", "Casa => 😀!: Sin remitente");
        fila("word with no blank before it", "Subject: [SPAM]=?utf-8?B?wqFIb2xhIQ==?=", "Casa => [SPAM]¡Hola!: Sin remitente");
        fila("unknown charset, UTF-8 bytes", "Subject: =?x-raro?Q?caf=C3=A9?=", "Casa => café: Sin remitente");
        fila("unknown charset, Latin-1 bytes", "Subject: =?x-raro?Q?caf=E9?=", "Casa => café: Sin remitente");
        fila("language suffix", "Subject: =?utf-8*es?Q?ma=C3=B1ana?=", "Casa => mañana: Sin remitente");
        fila("malformed words stay as written", "Subject: =?utf-8?B?%%%?= =?utf-8?X?a?= =?utf-8?Q?=ZZ?= =?utf-8?Q?a",
             "Casa => =?utf-8?B?%%%?= =?utf-8?X?a?= =?utf-8?Q?=ZZ?= =?utf-8?Q?a: Sin remitente");
        fila("folded over three lines", "Subject: uno\r\n dos\r\n\ttres\r\nFrom: b", "Casa => uno dos tres: b");
        fila("CR LF and ESC inside a word", "Subject: =?utf-8?Q?a=0D=0Ab=1B[2J?=", "Casa => a  b [2J: Sin remitente");
        fila("quoted name with an escaped quote", "Subject: x\r\nFrom: \"P\xC3\xA9rez, Ana \\\"la jefa\\\"\" <a@x>",
             "Casa => x: Pérez, Ana \"la jefa\"");
        fila("encoded name inside quotes", "Subject: x\r\nFrom: \"=?utf-8?Q?P=C3=A9rez?=\" <a@x>", "Casa => x: Pérez");
        fila("Cyrillic, Chinese and Japanese",
             "Subject: =?koi8-r?B?8NLJ18XU?= =?gb2312?B?xOO6ww==?= =?iso-2022-jp?B?GyRCJDMkcyRLJEEkTxsoQg==?=",
             "Casa => Привет你好こんにちは: Sin remitente");
    }
    void cabeceras()
    {
        QFETCH(QByteArray, respuesta);
        QFETCH(QString, linea);
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

    // The line is cut at 255 characters, an emoji being one.
    void lineaLarga()
    {
        const QByteArray emoji = "=?utf-8?B?8J+YgA==?=";
        QByteArray asunto;
        for (int i = 0; i < 120; ++i)
            asunto += emoji + " ";
        const QString linea = LineaCabecera(QByteArray(131, 'n'), "+OK\r\nFrom: a\r\nSubject: " + asunto + "\r\n");
        QCOMPARE(linea.toUcs4().size(), 255);
        QVERIFY(linea.endsWith(QStringLiteral("\U0001F600")));
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
