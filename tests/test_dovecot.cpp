// Against a real POP3 server: a private Dovecot instance that the test starts itself.
#include "chequeo.h"
#include "presentacion_grabada.h"
#include "servidor_dovecot.h"

#include <QProcess>
#include <QTest>

using namespace pirel;
using pirel::prueba::MensajePrueba;
using pirel::prueba::PresentacionGrabada;
using pirel::prueba::ServidorDovecot;

class TestDovecot : public QObject {
    Q_OBJECT

    ServidorDovecot servidor_;

    QStringList ejecutaChequeo(const QByteArray& buzones, int* estado, QStringList* errores)
    {
        QProcess p;
        p.start(QCoreApplication::applicationDirPath() + "/pirel-chequeo",
                {"--buzones", "-", "--puerto", QString::number(servidor_.puerto()), "--espera", "10"});
        p.write(buzones);
        p.closeWriteChannel();
        if (!p.waitForFinished(30000))
            return {"(no terminó)"};
        *estado = p.exitCode();
        *errores = QString::fromUtf8(p.readAllStandardError()).split(u'\n', Qt::SkipEmptyParts);
        return QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
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
        opciones.animacion = "Si";
        opciones.hacerSonido = "Beep";
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
        QCOMPARE(mensajes.cabecera(1), QByteArray("Casa => Reuni\xF3n del lunes: Ana P\xE9rez"));
        QCOMPARE(mensajes.cabecera(2), QByteArray("Casa => Factura: facturas@ejemplo.org"));
        QCOMPARE(mensajes.cabecera(3), QByteArray("Casa => Sin Asunto: Sin Remitente"));
        QCOMPARE(mensajes.cabecera(103), QByteArray("Lleno => Mensaje 100: Robot"));
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

        salida = ejecutaChequeo("# sin correo\nVacío\t127.0.0.1\tvacio\tnada\n", &estado, &errores);
        QCOMPARE(salida, QStringList{"No Hay Mensajes"});
        QCOMPARE(estado, 1);

        salida = ejecutaChequeo("Casa\t127.0.0.1\tana\tmala\n", &estado, &errores);
        QCOMPARE(errores, QStringList{"Casa: Clave incorrecta "});
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
};

QTEST_GUILESS_MAIN(TestDovecot)
#include "test_dovecot.moc"
