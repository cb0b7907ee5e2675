#include "ciclo_prueba.h"
#include "servidor_guion.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

using namespace pirel;
using pirel::prueba::Ciclo;
using pirel::prueba::Guion;
using pirel::prueba::PresentacionGrabada;
using pirel::prueba::ServidorGuion;

Q_DECLARE_METATYPE(pirel::prueba::Guion)

class TestCiclo : public QObject {
    Q_OBJECT
private slots:
    void conversacionCompletaConDosBuzones()
    {
        // A server each: the two conversations may meet their servers in either order.
        ServidorGuion casa({Guion::entrada().stat(2).top(1, "Hola", "Ana <ana@x.es>").top(2, "Factura", "luis@y.es").quit()});
        ServidorGuion trabajo({Guion::entrada("luis", "otra", "+OK listo <1896.697170952@dbc.mtview.ca.us>\r\n")
                                   .stat(1).top(1, "Cena", "\"Eva\" <eva@z.es>").quit()});
        Ciclo ciclo(0);
        ciclo.c.puerto.clear();
        ciclo.buzones.agregar("Casa", "127.0.0.1", "pepe", "secreta", true, {Seguridad::Ninguna, casa.puerto(), {}});
        ciclo.buzones.agregar("Trabajo", "127.0.0.1", "luis", "otra", true, {Seguridad::Ninguna, trabajo.puerto(), {}});
        const ResultadoChequeo r = ciclo.c.CheckMail();
        TRANSCRIPCION_LIMPIA(casa);
        TRANSCRIPCION_LIMPIA(trabajo);
        QVERIFY(r.hecho && r.nuevos && r.estado == EstadoBandeja::Mensajes);
        QCOMPARE(r.cabeceras, 3);
        QCOMPARE(r.cuentas, (QList<int>{2, 1}));
        QCOMPARE(r.fallidos, QList<int>());
        QCOMPARE(ciclo.lineas(), (QStringList{"Casa => Hola: Ana", "Casa => Factura: luis@y.es",
                                             "Trabajo => Cena: Eva"}));
        QCOMPARE(ciclo.mensajes.actuales(1), 2);
        QCOMPARE(ciclo.mensajes.actuales(2), 1);
        QCOMPARE(ciclo.p.cajas(), QStringList());
        QCOMPARE(ciclo.p.ultimoConsejo, QStringLiteral("3 Mensajes"));
        QCOMPARE(ciclo.c.sello(), QByteArray("<1896.697170952@dbc.mtview.ca.us>"));
        QVERIFY2(ciclo.p.ultimoIcono == Bandera::Bandera5, "the last greeting offered a time stamp");
        QVERIFY(!ciclo.c.chequeando());
        QCOMPARE(ciclo.mensajes.anteriores(1), 2);
    }

    void respuestasTroceadasLentasYRechazadas()
    {
        ServidorGuion servidor({Guion()
                                    .goteo("+ok listo\r\n", 5)
                                    .C("USER pepe").S("-ERR da igual\r\n")
                                    .C("PASS secreta").S("+OK\r\n")
                                    .C("STAT").S("+OK 4").pausa(100).S(" 900\r\n")
                                    .C("TOP 1 1").S("+OK\r\nSubj").pausa(100).S("ect: Tro").pausa(100)
                                    .S("zos\r\nFrom: Ana\r\n\r\n..linea con punto\r\n").pausa(100).S(".\r\n")
                                    .C("TOP 2 1").S("-ERR no existe\r\n")
                                    .C("TOP 3 1").S("+OK\nSubject: Solo LF\nFrom: Bea\n.\n")
                                    .C("TOP 4 1").S("+OK\r\nSubject: x\r\n.\r\n+OK sobrante\r\n")
                                    .quit()});
        Ciclo ciclo(servidor.puerto(), 5);
        ciclo.buzon("Casa");
        QElapsedTimer t;
        t.start();
        ciclo.c.CheckMail();
        QVERIFY2(t.elapsed() < 3000, "an -ERR answer to TOP must not cost a time-out");
        TRANSCRIPCION_LIMPIA(servidor);
        QCOMPARE(ciclo.lineas(), (QStringList{"Casa => Trozos: Ana", "Casa => Sin Asunto: Sin remitente",
                                             "Casa => Solo LF: Bea", "Casa => x: Sin remitente"}));
        QCOMPARE(ciclo.p.cajas(), QStringList());
    }

    void saludosQueNoEmpiezanPorOK()
    {
        ServidorGuion servidor({Guion().S("+OK sin CR\n").quit(), Guion().S("-ERR ocupado\r\n").quit()});
        Ciclo ciclo(servidor.puerto());
        ciclo.buzon("Casa");
        ciclo.c.CheckMail();
        ciclo.c.CheckMail();
        TRANSCRIPCION_LIMPIA(servidor);
        QCOMPARE(ciclo.p.cajas(), (QStringList{"dialogo: Casa: el servidor 127.0.0.1 no responde ().",
                                              "dialogo: Casa: el servidor 127.0.0.1 no responde (-ERR ocupado)."}));
        QVERIFY2(!ciclo.buzones.conError(1), "a bad greeting does not mark the mailbox");
        QCOMPARE(ciclo.p.ultimoConsejo, QStringLiteral("No Hay Mensajes"));
    }

    void claveRechazadaCierraUnaVez()
    {
        ServidorGuion servidor({Guion().S("+OK\r\n").C("USER pepe").S("+OK\r\n").C("PASS secreta")
                                    .S("-err clave mala\r\n").C("QUIT").S("+OK\r\n")});
        Ciclo ciclo(servidor.puerto());
        ciclo.buzon("Casa");
        ciclo.mensajes.setActuales(1, 4);
        ciclo.mensajes.recibe();
        ciclo.c.CheckMail();
        TRANSCRIPCION_LIMPIA(servidor);
        QCOMPARE(ciclo.p.cajas(), QStringList{"dialogo: Casa: Clave incorrecta "});
        QVERIFY(ciclo.p.hechos.contains("consejo: Clave incorrecta"));
        QCOMPARE(ciclo.mensajes.actuales(1), 4);
        QVERIFY(!ciclo.buzones.conError(1));
        // The count kept from before is positive: the tooltip counts this cycle's lines.
        QCOMPARE(ciclo.p.ultimoConsejo, QStringLiteral("0 Mensajes"));
    }

    void cuentaIlegible()
    {
        ServidorGuion servidor({Guion::entrada().C("STAT").S("+OK 3\r\n").quit()});
        Ciclo ciclo(servidor.puerto());
        ciclo.buzon("Casa");
        ciclo.c.CheckMail();
        TRANSCRIPCION_LIMPIA(servidor);
        QCOMPARE(ciclo.mensajes.actuales(1), -1);
        QCOMPARE(ciclo.p.cajas(), QStringList{"dialogo: Protocol erroneo: Contacte con el autor. y enviele por mail "
                                              "el siguiente mensaje:\r+OK 3"});
    }

    void inalcanzableSeAvisaUnaVezHastaQueResponda()
    {
        const quint16 cerrado = prueba::PuertoCerrado();
        Ciclo ciclo(cerrado);
        ciclo.buzon("Casa");
        ciclo.buzon("Lejos", "no-existe.invalid");
        for (int i = 0; i < 3; ++i)
            QCOMPARE(ciclo.c.CheckMail().fallidos, (QList<int>{1, 2}));
        QVERIFY2(ciclo.c.ultimoResultado().estado == EstadoBandeja::ErrorConexion, "the dialog reads this, not the tooltip");
        QCOMPARE(ciclo.p.cajas(), (QStringList{"error: 127.0.0.1: Conexion rechazada",
                                              "error: Lejos: el servidor no-existe.invalid no responde"}));
        QCOMPARE(ciclo.p.ultimoConsejo, QStringLiteral("Error en Conexion"));
        QVERIFY(ciclo.p.ultimoIcono == Bandera::Bandera2);

        ServidorGuion servidor({Guion::entrada().stat(0).quit()});
        ciclo.c.puerto = QByteArray::number(servidor.puerto());
        QCOMPARE(ciclo.c.CheckMail().fallidos, QList<int>{2});
        TRANSCRIPCION_LIMPIA(servidor);
        QVERIFY(!ciclo.buzones.conError(1));
        QVERIFY(ciclo.c.ultimoResultado().estado == EstadoBandeja::SinMensajes);
        QCOMPARE(ciclo.p.ultimoConsejo, QStringLiteral("No Hay Mensajes"));
        ciclo.p.hechos.clear();
        ciclo.c.puerto = QByteArray::number(cerrado);
        ciclo.c.CheckMail();
        QCOMPARE(ciclo.p.cajas(), QStringList{"error: 127.0.0.1: Conexion rechazada"});
    }

    void buzonesQueNoSeChequean()
    {
        Ciclo ciclo(prueba::PuertoCerrado());
        ciclo.buzones.agregar("SinHost", "", "u", "c", true);
        ciclo.buzones.agregar("Apagado", "127.0.0.1", "u", "c", false);
        ciclo.mensajes.setActuales(1, 3);
        ciclo.buzones.setConError(1, true);
        ciclo.c.CheckMail();
        QCOMPARE(ciclo.p.cajas(), QStringList());
        QCOMPARE(ciclo.mensajes.actuales(1), 3);
        QVERIFY(ciclo.buzones.conError(1));
    }

    void servidorMudoAgotaElTiempo()
    {
        ServidorGuion servidor({Guion().pausa(1800)});
        Ciclo ciclo(servidor.puerto());
        ciclo.buzon("Casa");
        ciclo.mensajes.setActuales(1, 5);
        QElapsedTimer t;
        t.start();
        ciclo.c.CheckMail();
        QVERIFY2(t.elapsed() < 1800, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(ciclo.p.cajas(), (QStringList{"error: Casa: el servidor 127.0.0.1 no responde",
                                              "dialogo: Casa: el servidor 127.0.0.1 no responde ()."}));
        QCOMPARE(ciclo.mensajes.actuales(1), 0);
        QVERIFY(ciclo.buzones.conError(1));
        QCOMPARE(ciclo.p.ultimoConsejo, QStringLiteral("Error en Conexion"));
    }

    void tiempoAgotadoEnUnTopDejaLasLineas()
    {
        ServidorGuion servidor({Guion::entrada().stat(3).top(1, "Uno", "Ana").C("TOP 2 1").pausa(1600)
                                    .C("TOP 3 1").C("QUIT")});
        Ciclo ciclo(servidor.puerto());
        ciclo.buzon("Casa");
        ciclo.c.CheckMail();
        TRANSCRIPCION_LIMPIA(servidor);
        QCOMPARE(ciclo.lineas(), (QStringList{"Casa => Uno: Ana", "Casa => Sin Asunto: Sin remitente",
                                             "Casa => Sin Asunto: Sin remitente"}));
        QCOMPARE(ciclo.p.cajas(), QStringList{"error: Casa: el servidor 127.0.0.1 no responde"});
        QCOMPARE(ciclo.mensajes.actuales(1), 0);
    }

    void respuestaSinFinAcotadaEnTiempo()
    {
        QByteArray mucho = "+OK\r\nSubject: a\r\n";
        mucho += QByteArray(200, 'x') + "\r\n";
        ServidorGuion servidor({Guion::entrada().stat(1).C("TOP 1 1").goteo(mucho, 10).cierra()});
        Ciclo ciclo(servidor.puerto());
        ciclo.buzon("Casa");
        QElapsedTimer t;
        t.start();
        ciclo.c.CheckMail();
        QVERIFY2(t.elapsed() < 2000, "one answer may take the time-out in all, however it trickles");
        QCOMPARE(ciclo.lineas(), QStringList{"Casa => a: Sin remitente"});
        QCOMPARE(ciclo.p.cajas(), QStringList{"error: Casa: el servidor 127.0.0.1 no responde"});
    }

    void llamadaAnidadaSeRechaza()
    {
        ServidorGuion servidor({Guion().pausa(300).S("+OK\r\n").C("USER pepe").S("+OK\r\n").C("PASS secreta")
                                    .S("+OK\r\n").stat(1).top(1, "a", "b").quit()});
        Ciclo ciclo(servidor.puerto(), 3);
        ciclo.buzon("Casa");
        int cabecerasDurante = -1;
        qsizetype hechosDurante = -1;
        QTimer::singleShot(100, [&] {
            QVERIFY(ciclo.c.chequeando());
            const qsizetype antes = ciclo.p.hechos.size();
            QVERIFY2(!ciclo.c.CheckMail().hecho, "a nested call does nothing and says so");
            cabecerasDurante = ciclo.mensajes.numCabeceras();
            hechosDurante = ciclo.p.hechos.size() - antes;
        });
        ciclo.c.CheckMail();
        TRANSCRIPCION_LIMPIA(servidor);
        QCOMPARE(cabecerasDurante, 0);
        QCOMPARE(hechosDurante, 0);
        QCOMPARE(servidor.conexiones(), 1);
        QCOMPARE(ciclo.lineas(), QStringList{"Casa => a: b"});
    }

    // Servers that add lines nobody asked for, end lines with CR alone, or put control
    // characters where the user reads them.
    void servidoresDescuidados_data()
    {
        QTest::addColumn<Guion>("guion");
        QTest::addColumn<QStringList>("lineas");
        QTest::addColumn<QStringList>("cajas");
        QTest::addColumn<int>("actuales");
        QTest::addColumn<QList<int>>("fallidos");
        const QStringList dos{"Casa => Uno: Ana", "Casa => Dos: Bea"};
        QTest::newRow("línea de más tras el saludo")
            << Guion().S("+OK hola\r\n-ERR de mas\r\n").C("USER pepe").S("+OK\r\n").C("PASS secreta")
                   .S("-ERR mala\r\n").quit()
            << QStringList() << QStringList{"dialogo: Casa: Clave incorrecta "} << 0 << QList<int>{1};
        QTest::newRow("línea de más tras STAT")
            << Guion::entrada().C("STAT").S("+OK 2 100\r\n* de mas\r\n").top(1, "Uno", "Ana").top(2, "Dos", "Bea").quit()
            << dos << QStringList() << 2 << QList<int>();
        QTest::newRow("línea de más tras TOP")
            << Guion::entrada().stat(2).top(1, "Uno", "Ana", "* de mas\r\n").top(2, "Dos", "Bea").quit()
            << dos << QStringList() << 2 << QList<int>();
        QTest::newRow("líneas acabadas en CR solo")
            << Guion().S("+OK listo\r").C("USER pepe").S("+OK\r").C("PASS secreta").S("+OK\r").C("STAT")
                   .S("+OK 1 100\r").C("TOP 1 1").S("+OK\rSubject: Solo CR\rFrom: Ana\r\r.\r").C("QUIT").S("+OK\r")
            << QStringList{"Casa => Solo CR: Ana"} << QStringList() << 1 << QList<int>();
        QTest::newRow("CR y LF en lecturas distintas")
            << Guion::entrada().C("STAT").S("+OK 1 100\r").pausa(100).S("\n").C("TOP 1 1")
                   .S("+OK\r\nSubject: Partido\r").pausa(100).S("\nFrom: Ana\r\n.\r").pausa(100).S("\n").quit()
            << QStringList{"Casa => Partido: Ana"} << QStringList() << 1 << QList<int>();
        QTest::newRow("saludo con caracteres de control")
            << Guion().S(QByteArray("-ERR \x1b]0;x\x07y\0z\x9d\r\n", 17)).quit() << QStringList()
            << QStringList{"dialogo: Casa: el servidor 127.0.0.1 no responde (-ERR  ]0;x y z )."} << 0 << QList<int>{1};
        QTest::newRow("STAT con caracteres de control")
            << Guion::entrada().C("STAT").S("+OK \x1b[2J\x81\r\n").quit() << QStringList()
            << QStringList{"dialogo: Protocol erroneo: Contacte con el autor. y enviele por mail el siguiente mensaje:\r"
                           "+OK  [2J "}
            << -1 << QList<int>{1};
    }
    void servidoresDescuidados()
    {
        QFETCH(Guion, guion);
        QFETCH(QStringList, lineas);
        QFETCH(QStringList, cajas);
        QFETCH(int, actuales);
        QFETCH(QList<int>, fallidos);
        ServidorGuion servidor({guion});
        Ciclo ciclo(servidor.puerto(), 3);
        ciclo.buzon("Casa");
        const ResultadoChequeo r = ciclo.c.CheckMail();
        TRANSCRIPCION_LIMPIA(servidor);
        QCOMPARE(ciclo.lineas(), lineas);
        QCOMPARE(ciclo.p.cajas(), cajas);
        QCOMPARE(ciclo.mensajes.actuales(1), actuales);
        QCOMPARE(r.fallidos, fallidos);
        QVERIFY(!ciclo.buzones.conError(1));
    }

    void masDe255Mensajes()
    {
        Guion g = Guion::entrada().stat(300);
        for (int k = 1; k <= 255; ++k)
            g.top(k, "m" + QByteArray::number(k), "r");
        ServidorGuion servidor({g.quit()});
        Ciclo ciclo(servidor.puerto());
        ciclo.buzon("Casa");
        ciclo.c.CheckMail();
        TRANSCRIPCION_LIMPIA(servidor);
        QCOMPARE(ciclo.mensajes.numCabeceras(), 255);
        QCOMPARE(ciclo.mensajes.actuales(1), 300);
        QCOMPARE(ciclo.p.ultimoConsejo, QStringLiteral("255 Mensajes"));
    }
};

QTEST_GUILESS_MAIN(TestCiclo)
#include "test_ciclo.moc"
