#include "apop_carga.h"
#include "presentacion_grabada.h"

#include <QTest>

using namespace pirel;
using pirel::prueba::PresentacionGrabada;

class TestApop : public QObject {
    Q_OBJECT
private slots:
    void vectoresDeRfc1321()
    {
        PresentacionGrabada p;
        BibliotecaAPOP apop;
        QCOMPARE(apop.carga(p), BibliotecaAPOP::Resultado::Cargada);
        QVERIFY(p.hechos.isEmpty());
        const std::pair<const char*, const char*> vectores[] = {
            {"", "d41d8cd98f00b204e9800998ecf8427e"},
            {"a", "0cc175b9c0f1b6a831c399e269772661"},
            {"abc", "900150983cd24fb0d6963f7d28e17f72"},
            {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
            {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
            {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
            {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
             "57edf4a22be3c955ac49da2e2107b67a"},
            // The APOP example: time stamp followed by the shared secret.
            {"<1896.697170952@dbc.mtview.ca.us>tanstaaf", "c4c9334bac560ecc979e58001b3e22fb"},
        };
        for (const auto& [texto, digest] : vectores) {
            char resultado[33] = {};
            apop.funcionMDString()(texto, resultado);
            QCOMPARE(QByteArray(resultado), QByteArray(digest));
        }
    }

    void bibliotecaAusente()
    {
        PresentacionGrabada p;
        BibliotecaAPOP apop;
        QCOMPARE(apop.carga(p, "libNoEsta.so"), BibliotecaAPOP::Resultado::SinBiblioteca);
        QCOMPARE(p.hechos, QStringList{"dialogo: No se encuentra libreria APOP.DLL"});
    }

    void funcionAusente()
    {
        // Any library without the entry will do; the C library is always there.
        PresentacionGrabada p;
        BibliotecaAPOP apop;
        QCOMPARE(apop.carga(p, "libc.so.6"), BibliotecaAPOP::Resultado::SinFuncion);
        QCOMPARE(p.hechos, QStringList{"dialogo: Funcion no enlazada. Esta la DLL cargada?"});
        QVERIFY(!apop.funcionMDString());
    }
};

QTEST_GUILESS_MAIN(TestApop)
#include "test_apop.moc"
