// Against a real POP3 server: a private Dovecot instance that the test starts itself.
#include "chequeo.h"
#include "presentacion_grabada.h"
#include "servidor_dovecot.h"
#include "servidor_guion.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace pirel;
using pirel::prueba::MensajePrueba;
using pirel::prueba::PresentacionGrabada;
using pirel::prueba::ServidorDovecot;
using pirel::prueba::Guion;
using pirel::prueba::ServidorGuion;

namespace {

struct Salida {
    int estado = -1;
    QStringList salida, errores;
};

// One of the two programs, run to its end.
Salida ejecuta(const QString& programa, const QStringList& argumentos, const QByteArray& entrada = {},
              const QString& configuracion = {})
{
    QProcess p;
    auto entorno = QProcessEnvironment::systemEnvironment();
    if (!configuracion.isEmpty())
        entorno.insert(QStringLiteral("XDG_CONFIG_HOME"), configuracion);
    p.setProcessEnvironment(entorno);
    p.start(QCoreApplication::applicationDirPath() + "/" + programa, argumentos);
    p.write(entrada);
    p.closeWriteChannel();
    if (!p.waitForFinished(30000))
        return {-1, {"(no terminó)"}, {}};
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts),
            QString::fromUtf8(p.readAllStandardError()).split(u'\n', Qt::SkipEmptyParts)};
}

}

class TestDovecot : public QObject {
    Q_OBJECT

    ServidorDovecot servidor_;

    QStringList ejecutaChequeo(const QByteArray& buzones, int* estado, QStringList* errores,
                               const QString& configuracion = QString())
    {
        QStringList argumentos{"--puerto", QString::number(servidor_.puerto()), "--espera", "10"};
        if (configuracion.isEmpty())
            argumentos << "--buzones" << "-";
        const Salida s = ejecuta(QStringLiteral("pirel-chequeo"), argumentos, buzones, configuracion);
        *estado = s.estado;
        *errores = s.errores;
        return s.salida;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(ServidorDovecot::disponible(), "dovecot-pop3d is missing: run tools/instalar");
        QList<MensajePrueba> tres{
            {"Reunión del lunes", "Ana Pérez <ana@ejemplo.org>"},
            {"Factura", "facturas@ejemplo.org"},
            {},
        };
        tres[2].sinAsunto = true;
        tres[2].remitente = "<solo@direccion.org>";
        QList<MensajePrueba> cien;
        for (int i = 1; i <= 100; ++i)
            cien.append({"Mensaje " + QByteArray::number(i), "Robot <r@ejemplo.org>"});
        servidor_.agregaUsuario("ana", "secreta", tres);
        servidor_.agregaUsuario("vacio", "nada", {});
        servidor_.agregaUsuario("lleno", "mucho", cien);
        // Subjects and senders as today's mail encodes them.
        servidor_.agregaUsuario("mundo", "todo", {
            {"=?koi8-r?B?8NLJ18XU?=", "=?ISO-8859-1?Q?Jos=E9?= <j@ejemplo.org>"},
            {"=?gb2312?B?xOO6ww==?= =?utf-8?B?8J+Y?=\r\n =?utf-8?B?gA==?=", "\"P\xC3\xA9rez, Ana\" <a@ejemplo.org>"},
        });
        QString error;
        QVERIFY2(servidor_.arranca(&error), qPrintable(error + "\n" + servidor_.registro()));
    }

    void cicloContraDovecot()
    {
        PresentacionGrabada p;
        TSockets s(nullptr, &p);
        TBuzon buzones;
        TMensaje mensajes(buzones);
        TOpciones opciones;
        opciones.animacion = true;
        opciones.sonido = Sonido::Pitido;
        Chequeo c(s, buzones, mensajes, opciones, p);
        c.puerto = QByteArray::number(servidor_.puerto());
        c.espera = 10;
        buzones.agregar("Casa", "127.0.0.1", "ana", "secreta", true);
        buzones.agregar("Vacio", "localhost", "vacio", "nada", true);
        buzones.agregar("Lleno", "127.0.0.1", "lleno", "mucho", true);
        c.CheckMail();
        QCOMPARE(p.cajas(), QStringList());
        QCOMPARE(mensajes.actuales(1), 3);
        QCOMPARE(mensajes.actuales(2), 0);
        QCOMPARE(mensajes.actuales(3), 100);
        QCOMPARE(mensajes.numCabeceras(), 103);
        QCOMPARE(mensajes.cabecera(1), QStringLiteral("Casa => Reunión del lunes: Ana Pérez"));
        QCOMPARE(mensajes.cabecera(2), QStringLiteral("Casa => Factura: facturas@ejemplo.org"));
        QCOMPARE(mensajes.cabecera(3), QStringLiteral("Casa => Sin Asunto: Sin Remitente"));
        QCOMPARE(mensajes.cabecera(103), QStringLiteral("Lleno => Mensaje 100: Robot"));
        QCOMPARE(p.hechos.first(), QStringLiteral("aviso: 103 Mensajes"));
        QCOMPARE(p.ultimoConsejo, QStringLiteral("103 Mensajes"));

        // The notice is still open: the same counts are announced again until it is dismissed.
        p.hechos.clear();
        c.CheckMail();
        QCOMPARE(p.hechos.first(), QStringLiteral("aviso: 103 Mensajes"));
        mensajes.recibe();
        p.hechos.clear();
        c.CheckMail();
        QCOMPARE(p.hechos, (QStringList{"consejo: 103 Mensajes", "icono: bandera1"}));
    }

    void programaDeConsola()
    {
        int estado = -1;
        QStringList errores;
        QStringList salida = ejecutaChequeo("Casa\t127.0.0.1\tana\tsecreta\n", &estado, &errores);
        QCOMPARE(salida, (QStringList{"Casa => Reunión del lunes: Ana Pérez", "Casa => Factura: facturas@ejemplo.org",
                                      "Casa => Sin Asunto: Sin Remitente", "3 Mensajes"}));
        QCOMPARE(errores, QStringList());
        QCOMPARE(estado, 0);

        salida = ejecutaChequeo("Mundo\t127.0.0.1\tmundo\ttodo\n", &estado, &errores);
        QCOMPARE(salida, (QStringList{"Mundo => Привет: José", "Mundo => 你好😀: Pérez, Ana", "2 Mensajes"}));

        salida = ejecutaChequeo("# sin correo\nVacío\t127.0.0.1\tvacio\tnada\n", &estado, &errores);
        QCOMPARE(salida, QStringList{"No Hay Mensajes"});
        QCOMPARE(estado, 1);

        salida = ejecutaChequeo("Casa\t127.0.0.1\tana\tmala\n", &estado, &errores);
        QCOMPARE(errores, QStringList{"Casa: Clave incorrecta "});
        QVERIFY2(!errores.join(u' ').contains(u"mala"), "a password never reaches standard error");
        QCOMPARE(salida, QStringList{"No Hay Mensajes"});
        QCOMPARE(estado, 1);

        salida = ejecutaChequeo("Casa\tno-existe.invalid\tana\tsecreta\n", &estado, &errores);
        QCOMPARE(errores, QStringList{"Casa: el servidor no-existe.invalid no responde"});
        QCOMPARE(salida, QStringList{"Error en Conexion"});
        QCOMPARE(estado, 2);

        salida = ejecutaChequeo("Casa\t127.0.0.1\tana\n", &estado, &errores);
        QCOMPARE(estado, 3);
        QCOMPARE(errores.size(), 1);
        QVERIFY(errores[0].contains(u"línea 1"));
        QVERIFY(salida.isEmpty());
    }

    void lineaDeOrdenes_data()
    {
        QTest::addColumn<QString>("programa");
        QTest::addColumn<QStringList>("argumentos");
        QTest::addColumn<int>("estado");
        QTest::addColumn<QString>("primeraSalida");
        QTest::addColumn<int>("lineasDeError");
        QTest::newRow("--help") << "pirel-chequeo" << QStringList{"--help"} << 0
                                << "Uso: pirel-chequeo [--buzones FICHERO] [--puerto N] [--espera SEGUNDOS] | --help | --version"
                                << 0;
        QTest::newRow("-h after another option") << "pirel-chequeo" << QStringList{"--espera", "5", "-h"} << 0
                                                 << "Uso: pirel-chequeo [--buzones FICHERO] [--puerto N] [--espera "
                                                    "SEGUNDOS] | --help | --version"
                                                 << 0;
        QTest::newRow("--version") << "pirel-chequeo" << QStringList{"--version"} << 0
                                   << "pirel-chequeo (Ludaren Electrónico) 2.0" << 0;
        QTest::newRow("pirel --version, no display needed") << "pirel" << QStringList{"--version"} << 0
                                                            << "pirel (Ludaren Electrónico) 2.0" << 0;
        QTest::newRow("unknown option") << "pirel-chequeo" << QStringList{"--nada", "x"} << 3 << QString() << 3;
    }
    void lineaDeOrdenes()
    {
        QFETCH(QString, programa);
        QFETCH(QStringList, argumentos);
        QFETCH(int, estado);
        QFETCH(QString, primeraSalida);
        QFETCH(int, lineasDeError);
        const Salida s = ejecuta(programa, argumentos);
        QCOMPARE(s.estado, estado);
        QCOMPARE(s.salida.value(0), primeraSalida);
        QCOMPARE(s.errores.size(), lineasDeError);
    }

    // What a server says reaches the terminal with its control characters made blanks.
    void sinControlesEnLaTerminal()
    {
        ServidorGuion servidor({Guion().S(QByteArray("-ERR \x1b]0;x\x07y\0z\r\n", 16)).quit()});
        const Salida s = ejecuta("pirel-chequeo", {"--puerto", QString::number(servidor.puerto()), "--buzones", "-"},
                                 "Casa\x1b[2J\t127.0.0.1\tpepe\tsecreta\n");
        QVERIFY(servidor.termina());
        QCOMPARE(s.errores, QStringList{"Casa [2J: el servidor 127.0.0.1 no responde (-ERR  ]0;x y z)."});
        QCOMPARE(s.salida, QStringList{"No Hay Mensajes"});
        QCOMPARE(s.estado, 1);
    }

    // A settings file written by hand with the single-mailbox layout of old versions.
    void configuracionAntiguaMigradaYChequeada()
    {
        QTemporaryDir dir;
        QDir().mkpath(dir.filePath(QStringLiteral("Ludaren")));
        QFile f(dir.filePath(QStringLiteral("Ludaren/registro.reg")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        // "secreta" scrambled with the program's key.
        f.write("Windows Registry Editor Version 5.00\r\n\r\n"
                "[HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion]\r\n"
                "\"Host\"=\"127.0.0.1\"\r\n\"usuario\"=\"ana\"\r\n\"Codigo\"=\"210A351329012F\"\r\n"
                "\"frecuencia\"=\"5\"\r\n\r\n"
                "[HKEY_CURRENT_USER\\Software\\Ludaren\\Version]\r\n\"Numero\"=\"1.0\"\r\n");
        f.close();
        int estado = -1;
        QStringList errores;
        const QStringList salida = ejecutaChequeo({}, &estado, &errores, dir.path());
        QCOMPARE(errores, QStringList());
        QCOMPARE(salida, (QStringList{"Buzon 1 => Reunión del lunes: Ana Pérez", "Buzon 1 => Factura: facturas@ejemplo.org",
                                      "Buzon 1 => Sin Asunto: Sin Remitente", "3 Mensajes"}));
        QCOMPARE(estado, 0);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray migrado = f.readAll();
        QVERIFY2(migrado.contains("\"nBuzon\"=\"1\"") && migrado.contains("\"Numero\"=\"2.0\"")
                     && !migrado.contains("\"Host\"="),
                 migrado.constData());
        QVERIFY2(!QFile::exists(dir.filePath(QStringLiteral("autostart"))), "the checker adds no log-on entry");
    }

    void configuracionIlegible()
    {
        QTemporaryDir dir;
        QDir().mkpath(dir.filePath(QStringLiteral("Ludaren")));
        QFile f(dir.filePath(QStringLiteral("Ludaren/registro.reg")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("esto no es un registro\n");
        f.close();
        int estado = -1;
        QStringList errores;
        QStringList salida = ejecutaChequeo({}, &estado, &errores, dir.path());
        QCOMPARE(estado, 3);
        QCOMPARE(errores.size(), 1);
        QVERIFY2(errores[0].contains(u"línea 1"), qPrintable(errores[0]));
        QVERIFY(salida.isEmpty());

        QTemporaryDir vacio;
        salida = ejecutaChequeo({}, &estado, &errores, vacio.path());
        QCOMPARE(estado, 3);
        QVERIFY(!QFile::exists(vacio.filePath(QStringLiteral("autostart"))));
        QCOMPARE(errores.size(), 1);
        QVERIFY2(errores[0].contains(u"no está configurado"), qPrintable(errores[0]));
    }
};

QTEST_GUILESS_MAIN(TestDovecot)
#include "test_dovecot.moc"
