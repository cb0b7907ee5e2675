// The sounds through the real libcanberra, played into a file by a private ALSA
// configuration, and the choice of the file to play.
#include "escritorio_grabado.h"
#include "anuncio.h"
#include "pirel.h"
#include "recursos.h"
#include "sonido.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace pirel;
using namespace pirel::prueba;

namespace {

// Passes everything on to libcanberra and keeps what was asked.
struct AltavozEspia final : Altavoz {
    AltavozCanberra& real;
    QStringList* hechos;
    AltavozEspia(AltavozCanberra& r, QStringList* h) : real(r), hechos(h) {}
    bool evento(const char* id) override
    {
        *hechos << QStringLiteral("evento: ") + QLatin1String(id);
        return real.evento(id);
    }
    bool fichero(const QString& ruta) override
    {
        *hechos << "fichero: " + ruta;
        return real.fichero(ruta);
    }
};

}

class TestSonido : public QObject {
    Q_OBJECT

    QTemporaryDir casa_;
    QString salida_;

    qint64 escritos() const { return QFileInfo(salida_).size(); }
    // Waits for the sound to end, then for what it wrote.
    bool suena(AltavozCanberra& altavoz) const
    {
        return QTest::qWaitFor([&] { return !altavoz.sonando(); }, 15000) &&
               QTest::qWaitFor([this] { return escritos() > 0; }, 5000);
    }

private slots:
    void initTestCase()
    {
        // ALSA reads the user's configuration once, when the first sound opens a device.
        salida_ = casa_.filePath(QStringLiteral("out.raw"));
        QFile asoundrc(casa_.filePath(QStringLiteral(".asoundrc")));
        QVERIFY(asoundrc.open(QIODevice::WriteOnly));
        asoundrc.write("pcm.!default { type file; slave.pcm \"null\"; file \"" + QFile::encodeName(salida_) +
                       "\"; format \"raw\" }\n");
        asoundrc.close();
        qputenv("HOME", QFile::encodeName(casa_.path()));
        QVERIFY2(QFile::exists(DirectorioDatos() + QStringLiteral("/spirel.wav")), "the build made the chime");
    }

    void init() { QFile::remove(salida_); }

    void elFicheroSuena()
    {
        AltavozCanberra altavoz;
        const QString wav = DirectorioDatos() + QStringLiteral("/spirel.wav");
        QVERIFY2(altavoz.fichero(wav), qPrintable(QString::number(altavoz.ultimoError())));
        QVERIFY(suena(altavoz));
        // 16-bit mono samples of a chime under 1.5 s, all of it played.
        const qint64 datos = QFileInfo(wav).size() - 44;
        QTRY_COMPARE_WITH_TIMEOUT(escritos(), datos, 5000);
        QVERIFY(datos < 22050 * 2 * 3 / 2);
    }

    void laCampanaDelEscritorio()
    {
        if (!QFile::exists(QStringLiteral("/usr/share/sounds/freedesktop/stereo/bell.oga")))
            QSKIP("the freedesktop sound theme is not installed: run tools/instalar");
        AltavozCanberra altavoz;
        QVERIFY2(altavoz.evento("bell"), qPrintable(QString::number(altavoz.ultimoError())));
        QVERIFY(suena(altavoz));
        QVERIFY(Pitido(altavoz));
        QTRY_VERIFY_WITH_TIMEOUT(!altavoz.sonando(), 15000);
    }

    void loQueNoExisteNoSuena()
    {
        AltavozCanberra altavoz;
        QVERIFY(!altavoz.fichero(casa_.filePath(QStringLiteral("no-existe.wav"))));
        QCOMPARE(altavoz.ultimoError(), -9);
        QVERIFY(!altavoz.evento("ludaren-no-existe"));
        QCOMPARE(altavoz.ultimoError(), -9);
        QVERIFY(!altavoz.sonando());
        // Without the bell the windowing system's beep stands in.
        AltavozGrabado mudo(nullptr, false);
        QVERIFY(!Pitido(mudo));
        Reproduce(mudo, "spirel.wav", DirectorioDatos());
        QVERIFY(!QFile::exists(salida_));
    }

    void laRutaDelFichero()
    {
        const QString datos = DirectorioDatos();
        QCOMPARE(RutaSonido("", datos), QString());
        QCOMPARE(RutaSonido("/x/y.wav", datos), QStringLiteral("/x/y.wav"));
        QCOMPARE(RutaSonido("spirel.wav", datos), QDir(datos).absoluteFilePath(QStringLiteral("spirel.wav")));
        QTemporaryDir aqui;
        QFile propio(aqui.filePath(QStringLiteral("spirel.wav")));
        QVERIFY(propio.open(QIODevice::WriteOnly));
        propio.close();
        const QString antes = QDir::currentPath();
        QVERIFY(QDir::setCurrent(aqui.path()));
        const QString hallado = RutaSonido("spirel.wav", datos);
        QVERIFY(QDir::setCurrent(antes));
        QCOMPARE(QFileInfo(hallado).canonicalFilePath(), QFileInfo(propio.fileName()).canonicalFilePath());
        // Windows-1252 names reach the file system as text.
        QCOMPARE(QFileInfo(RutaSonido("campa\xF1" "a.wav", datos)).fileName(), QStringLiteral("campaña.wav"));
    }

    void elAnuncioSuena_data()
    {
        QTest::addColumn<int>("sonido");
        QTest::addColumn<QString>("hecho");
        QTest::newRow("Wave") << int(Sonido::Wave) << "fichero: " + DirectorioDatos() + QStringLiteral("/spirel.wav");
        QTest::newRow("Beep") << int(Sonido::Pitido) << QStringLiteral("evento: bell");
        QTest::newRow("nothing") << int(Sonido::Ninguno) << QString();
    }
    void elAnuncioSuena()
    {
        QFETCH(int, sonido);
        QFETCH(QString, hecho);
        if (sonido == int(Sonido::Pitido) && !QFile::exists(QStringLiteral("/usr/share/sounds/freedesktop/stereo/bell.oga")))
            QSKIP("the freedesktop sound theme is not installed: run tools/instalar");
        AltavozCanberra real;
        QStringList hechos;
        QTemporaryDir dir;
        TPirel::Piezas piezas;
        piezas.area = std::make_unique<AreaGrabada>();
        piezas.registro = dir.filePath(QStringLiteral("registro.reg"));
        piezas.altavoz = std::make_unique<AltavozEspia>(real, &hechos);
        TPirel p(std::move(piezas));
        QVERIFY(p.FormCreate());
        p.buzones->agregar("Casa", "h", "u", "c", true);
        p.mensajes->setActuales(1, 1);
        p.mensajes->AgregaCab("Casa => Hola: Ana");
        p.opciones.animacion = false;
        p.opciones.sonido = static_cast<Sonido>(sonido);
        p.opciones.ficheroWav = "spirel.wav";
        Anuncia(*p.mensajes, *p.buzones, p.opciones, {}, p);
        QCOMPARE(hechos, hecho.isEmpty() ? QStringList() : QStringList{hecho});
        if (!hecho.isEmpty()) {
            QCOMPARE(real.ultimoError(), 0);
            QVERIFY(suena(real));
        }
    }
};

QTEST_MAIN(TestSonido)
#include "test_sonido.moc"
