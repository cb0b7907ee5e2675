#include "ansi.h"
#include "buzon.h"

#include <QTest>

using namespace pirel;

Q_DECLARE_METATYPE(pirel::Conexion)

namespace pirel {
char* toString(const Conexion& c)
{
    static const char* const kModos[] = {"Ninguna", "SSL", "STLS"};
    return QTest::toString(QByteArray(kModos[static_cast<int>(c.seguridad)]) + ' ' + QByteArray::number(c.puerto) + ' '
                           + c.huella);
}
}

class TestTabla : public QObject {
    Q_OBJECT

    static QByteArray nombres(const TBuzon& t)
    {
        QByteArray r;
        for (int i = 1; i <= t.numBuzones(); ++i)
            r += t.nombre(i);
        return r;
    }

private slots:
    void capacidadesCortanSinAviso()
    {
        TBuzon t;
        QVERIFY(t.agregar(QByteArray(16, 'n'), QByteArray(256, 'h'), QByteArray(256, 'u'), QByteArray(129, 'c'), true));
        QCOMPARE(t.nombre(1).size(), 15);
        QCOMPARE(t.host(1).size(), 255);
        QCOMPARE(t.usuario(1).size(), 255);
        QCOMPARE(t.clave(1).size(), 128);
        TMensaje m(t);
        m.AgregaCab(QString(300, u'x'));
        QCOMPARE(m.cabecera(1).size(), 255);
        // An emoji is one character, never cut in half.
        m.AgregaCab(QString(254, u'x') + QStringLiteral("\U0001F600\U0001F600"));
        QCOMPARE(m.cabecera(2), QString(254, u'x') + QStringLiteral("\U0001F600"));
    }

    void tablaLlenaYLineasDeMas()
    {
        TBuzon t;
        for (int i = 0; i < 20; ++i)
            QVERIFY(t.agregar("b" + QByteArray::number(i), "h", "u", "c", true));
        QVERIFY2(!t.agregar("21", "h", "u", "c", true), "a 21st mailbox must be refused");
        QCOMPARE(t.numBuzones(), 20);
        QCOMPARE(t.nombre(20), QByteArray("b19"));
        QVERIFY(t.nombre(21).isEmpty());
        t.setConError(21, true);
        QVERIFY(!t.conError(21));

        TMensaje m(t);
        for (int i = 1; i <= 300; ++i)
            m.AgregaCab(QString::number(i));
        QCOMPARE(m.numCabeceras(), 255);
        QCOMPARE(m.cabecera(255), QStringLiteral("255"));
        QVERIFY(m.cabecera(256).isEmpty());
        m.setActuales(21, 5);
        QCOMPARE(m.actuales(21), 0);
    }

    void borrarMueveLosDeDetras()
    {
        const auto cuatro = [] {
            TBuzon t;
            for (const char* n : {"A", "B", "C", "D"})
                t.agregar(n, "h", "u", "c", true);
            t.setConError(2, true);
            return t;
        };
        TBuzon t = cuatro();
        t.borrar(2);
        QCOMPARE(nombres(t), QByteArray("ACD"));
        QVERIFY2(t.conError(2), "error flags stay at their positions");
        QVERIFY(t.nombre(4).isEmpty());
        QVERIFY(!t.chequear(4));

        t = cuatro();
        t.borrar(4);
        QCOMPARE(nombres(t), QByteArray("ABC"));

        TBuzon uno;
        uno.agregar("A", "h", "u", "c", true);
        uno.borrar(1);
        QCOMPARE(uno.numBuzones(), 0);
        uno.borrar(1);
        uno.borrar(0);
        QCOMPARE(uno.numBuzones(), 0);
    }

    void existebuzonCopiarYErrores()
    {
        TBuzon t;
        t.agregar("A", "pop.ejemplo.org", "ana", "c", true);
        t.agregar("B", "POP.ejemplo.org", "ana", "c", false);
        QCOMPARE(t.Existebuzon("pop.ejemplo.org", "ana"), 1);
        QCOMPARE(t.Existebuzon("POP.ejemplo.org", "ana"), 2);
        QCOMPARE(t.Existebuzon("pop.ejemplo.org", "luis"), 0);

        TBuzon destino;
        for (const char* n : {"1", "2", "3", "4", "5"})
            destino.agregar(n, "h", "u", "c", true);
        destino.setConError(1, true);
        destino.copiar(t);
        QCOMPARE(destino.numBuzones(), 2);
        QCOMPARE(destino.nombre(2), QByteArray("B"));
        QVERIFY(!destino.chequear(2));
        QVERIFY2(destino.conError(1) && !destino.conError(2), "error flags are not copied");
        QCOMPARE(destino.nombre(3), QByteArray("3"));
    }

    void conexiones_data()
    {
        const QByteArray pin(64, 'a'), PIN(64, 'A');
        QTest::addColumn<Conexion>("dada");
        QTest::addColumn<Conexion>("guardada");
        QTest::newRow("none given: plain on 110, as every mailbox before") << Conexion{} << Conexion{};
        QTest::newRow("SSL without a port takes 995") << Conexion{Seguridad::SSL, 0, {}} << Conexion{Seguridad::SSL, 995, {}};
        QTest::newRow("STLS on a port out of range takes 110")
            << Conexion{Seguridad::STLS, 70000, {}} << Conexion{Seguridad::STLS, 110, {}};
        QTest::newRow("a port of its own is kept") << Conexion{Seguridad::SSL, 1995, {}} << Conexion{Seguridad::SSL, 1995, {}};
        QTest::newRow("a pin is kept upper-case") << Conexion{Seguridad::SSL, 995, pin} << Conexion{Seguridad::SSL, 995, PIN};
        QTest::newRow("a pin written with colons")
            << Conexion{Seguridad::SSL, 995, QByteArray(32, 'a').replace("a", "a:").chopped(1) + ':' + QByteArray(32, 'b')}
            << Conexion{Seguridad::SSL, 995, QByteArray(32, 'A') + QByteArray(32, 'B')};
        QTest::newRow("a pin of 63 digits is dropped") << Conexion{Seguridad::SSL, 995, pin.left(63)}
                                                       << Conexion{Seguridad::SSL, 995, {}};
        QTest::newRow("a pin with a letter past F is dropped")
            << Conexion{Seguridad::SSL, 995, pin.left(63) + 'g'} << Conexion{Seguridad::SSL, 995, {}};
    }
    void conexiones()
    {
        QFETCH(Conexion, dada);
        QFETCH(Conexion, guardada);
        TBuzon t;
        QVERIFY(t.agregar("A", "pop.ejemplo.org", "u", "c", true, dada));
        QCOMPARE(t.conexion(1), guardada);
        QCOMPARE(t.conexion(21), Conexion{});

        // Editing name, user or password keeps the connection; another server drops the pin.
        t.agregar("B", "h", "u", "c", true);
        t.modificar(1, "A2", "pop.ejemplo.org", "u2", "c2", false);
        QCOMPARE(t.conexion(1), guardada);
        t.modificar(1, "A2", "pop.otro.org", "u2", "c2", false);
        QCOMPARE(t.conexion(1), (Conexion{guardada.seguridad, guardada.puerto, {}}));
        t.modificar(1, "A", "h", "u", "c", true, dada);
        QCOMPARE(t.conexion(1), guardada);

        // Copying and removing carry it with the mailbox; the emptied slot is plain again.
        TBuzon copia;
        copia.copiar(t);
        QCOMPARE(copia.conexion(1), guardada);
        t.setConexion(2, dada);
        t.setConexion(1, {});
        t.borrar(1);
        QCOMPARE(t.conexion(1), guardada);
        QCOMPARE(t.conexion(2), Conexion{});
    }

    void todosConError()
    {
        TBuzon t;
        QVERIFY(!t.TodosconError());
        t.agregar("A", "h", "u", "c", false);
        QVERIFY2(!t.TodosconError(), "no mailbox to check");
        t.agregar("B", "h", "u", "c", true);
        t.agregar("C", "h", "u", "c", true);
        t.setConError(2, true);
        QVERIFY(!t.TodosconError());
        t.setConError(3, true);
        QVERIFY2(t.TodosconError(), "unchecked mailbox without error is ignored");
    }

    void tallies()
    {
        TBuzon t;
        t.agregar("A", "h", "u", "c", true);
        t.agregar("B", "h", "u", "c", true);
        TMensaje m(t);
        QVERIFY(!m.HayNuevos());
        QVERIFY(!m.HayMensajes());

        // previous 5, current 2: new mail; previous 3, current 0: none.
        m.setActuales(1, 5);
        m.recibe();
        m.setActuales(1, 2);
        QVERIFY(m.HayNuevos());
        m.setActuales(1, 3);
        m.recibe();
        m.setActuales(1, 0);
        QVERIFY(!m.HayNuevos());

        // current 0 and 4, previous 7 and 1.
        m.setActuales(1, 7);
        m.setActuales(2, 1);
        m.recibe();
        m.setActuales(1, 0);
        m.setActuales(2, 4);
        QVERIFY(m.HayMensajes());
        QCOMPARE(m.anteriores(1), 0);
        QCOMPARE(m.anteriores(2), 1);

        // The loops follow the live table, but Limpia clears all 20 slots.
        m.recibe();
        m.setActuales(20, 9);
        QVERIFY2(!m.HayNuevos(), "slot 20 lies outside a two-mailbox table");
        m.Limpia();
        QCOMPARE(m.actuales(20), 0);
        QCOMPARE(m.actuales(2), 0);

        TBuzon vacia;
        TMensaje sinBuzones(vacia);
        sinBuzones.setActuales(1, 3);
        QVERIFY(!sinBuzones.HayNuevos());
        QVERIFY(!sinBuzones.HayMensajes());
        sinBuzones.recibe();
        QCOMPARE(sinBuzones.anteriores(1), 0);
    }

    void textosWindows1252()
    {
        const QString texto = QStringLiteral("Ludaren Electrónico €‘’ 漢");
        const QByteArray bytes = ansi::deTexto(texto);
        QCOMPARE(bytes, QByteArray("Ludaren Electr\xF3nico \x80\x91\x92 ?"));
        QCOMPARE(ansi::aTexto(bytes), QStringLiteral("Ludaren Electrónico €‘’ ?"));
        QCOMPARE(ansi::aTexto("\x81\x9D"), QString(QChar(0x81)) + QChar(0x9D));
    }
};

QTEST_GUILESS_MAIN(TestTabla)
#include "test_tabla.moc"
