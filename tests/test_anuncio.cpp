#include "anuncio.h"
#include "presentacion_grabada.h"

#include <QTest>

using namespace pirel;
using pirel::prueba::PresentacionGrabada;

class TestAnuncio : public QObject {
    Q_OBJECT
private slots:
    void decisiones_data()
    {
        QTest::addColumn<QList<int>>("anteriores");
        QTest::addColumn<QList<int>>("actuales");
        QTest::addColumn<QList<bool>>("errores");
        QTest::addColumn<bool>("animacion");
        QTest::addColumn<int>("sonido");
        QTest::addColumn<QByteArray>("sello");
        QTest::addColumn<QStringList>("hechos");
        QTest::addColumn<bool>("reconocido");

        const QList<bool> sinErrores{false, false};
        QTest::newRow("new mail with animation opens the notice and beeps")
            << QList<int>{0, 0} << QList<int>{2, 1} << sinErrores << true << int(Sonido::Pitido)
            << QByteArray() << QStringList{"aviso: 3 Mensajes", "pitido", "consejo: 3 Mensajes", "icono: bandera1"}
            << false;
        QTest::newRow("animation off acknowledges at once and plays the wave")
            << QList<int>{0, 0} << QList<int>{2, 0} << sinErrores << false << int(Sonido::Wave)
            << QByteArray("<1.2@h>")
            << QStringList{"reproduce: spirel.wav", "consejo: 3 Mensajes", "icono: Bandera5"} << true;
        QTest::newRow("a count that fell from 5 to 2 is new mail")
            << QList<int>{5, 0} << QList<int>{2, 0} << sinErrores << true << int(Sonido::Ninguno)
            << QByteArray() << QStringList{"aviso: 3 Mensajes", "consejo: 3 Mensajes", "icono: bandera1"} << false;
        QTest::newRow("same counts stay silent")
            << QList<int>{2, 1} << QList<int>{2, 1} << sinErrores << true << int(Sonido::Pitido)
            << QByteArray() << QStringList{"consejo: 3 Mensajes", "icono: bandera1"} << true;
        QTest::newRow("every checked mailbox failing")
            << QList<int>{0, 0} << QList<int>{0, 0} << QList<bool>{true, true} << true
            << int(Sonido::Pitido) << QByteArray() << QStringList{"consejo: Error en Conexion", "icono: Bandera2"}
            << true;
        QTest::newRow("one failing, no mail")
            << QList<int>{0, 0} << QList<int>{0, 0} << QList<bool>{true, false} << true
            << int(Sonido::Pitido) << QByteArray() << QStringList{"consejo: No Hay Mensajes", "icono: bandera0"}
            << true;
    }
    void decisiones()
    {
        QFETCH(QList<int>, anteriores);
        QFETCH(QList<int>, actuales);
        QFETCH(QList<bool>, errores);
        QFETCH(bool, animacion);
        QFETCH(int, sonido);
        QFETCH(QByteArray, sello);
        QFETCH(QStringList, hechos);
        QFETCH(bool, reconocido);

        TBuzon buzones;
        buzones.agregar("A", "h", "u", "c", true);
        buzones.agregar("B", "h", "u", "c", true);
        TMensaje mensajes(buzones);
        for (int i = 1; i <= 2; ++i) {
            mensajes.setActuales(i, anteriores[i - 1]);
            buzones.setConError(i, errores[i - 1]);
        }
        mensajes.recibe();
        for (int i = 1; i <= 2; ++i)
            mensajes.setActuales(i, actuales[i - 1]);
        for (const char* l : {"A => a: x", "A => b: y", "B => c: z"})
            mensajes.AgregaCab(l);
        TOpciones opciones;
        opciones.animacion = animacion;
        opciones.sonido = static_cast<Sonido>(sonido);
        opciones.ficheroWav = "spirel.wav";
        PresentacionGrabada p;
        Anuncia(mensajes, buzones, opciones, sello, p);
        QCOMPARE(p.hechos, hechos);
        QCOMPARE(!mensajes.HayNuevos(), reconocido);
        if (p.hechos.first().startsWith(u"aviso"))
            QCOMPARE(p.lineasAviso, (QStringList{"A => a: x", "A => b: y", "B => c: z"}));
    }

    void tablaVacia()
    {
        TBuzon buzones;
        TMensaje mensajes(buzones);
        PresentacionGrabada p;
        Anuncia(mensajes, buzones, TOpciones{}, {}, p);
        QCOMPARE(p.hechos, (QStringList{"consejo: No Hay Mensajes", "icono: bandera0"}));
    }
};

QTEST_GUILESS_MAIN(TestAnuncio)
#include "test_anuncio.moc"
