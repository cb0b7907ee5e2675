// Replays every input kept for the fuzz targets: the seeds and the crashes once found.
#include "entradas.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace pirel::fuzz;

namespace {

using Entrada = void (*)(const std::uint8_t*, std::size_t);

const QString kCarpeta = QStringLiteral(PIREL_FUZZ_DIR);

QFileInfoList guardados(const QString& carpeta, const QString& objetivo)
{
    QFileInfoList r;
    // Hidden files and the READMEs only keep the folders in the repository.
    for (const QFileInfo& f : QDir(kCarpeta + u'/' + carpeta + u'/' + objetivo).entryInfoList(QDir::Files, QDir::Name))
        if (!f.fileName().startsWith(u"README"))
            r << f;
    return r;
}

void filas(const QString& objetivo)
{
    QTest::addColumn<QString>("fichero");
    for (const char* carpeta : {"corpus", "regresiones"})
        for (const QFileInfo& f : guardados(QString::fromLatin1(carpeta), objetivo))
            QTest::newRow(qPrintable(carpeta + (u'/' + f.fileName()))) << f.filePath();
}

void reproduce(Entrada entrada)
{
    QFETCH(QString, fichero);
    QFile f(fichero);
    QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(fichero));
    const QByteArray datos = f.readAll();
    entrada(reinterpret_cast<const std::uint8_t*>(datos.constData()), static_cast<std::size_t>(datos.size()));
}

}

class TestFuzz : public QObject {
    Q_OBJECT
private slots:
    void cadaObjetivoTieneCorpus()
    {
        for (const char* objetivo : {"respuestas", "sello", "cabecera", "clave", "registro"})
            QVERIFY2(!guardados(QStringLiteral("corpus"), QString::fromLatin1(objetivo)).isEmpty(), objetivo);
    }

    void respuestas_data() { filas(QStringLiteral("respuestas")); }
    void respuestas() { reproduce(&fuzzRespuestas); }
    void sello_data() { filas(QStringLiteral("sello")); }
    void sello() { reproduce(&fuzzSello); }
    void cabecera_data() { filas(QStringLiteral("cabecera")); }
    void cabecera() { reproduce(&fuzzCabecera); }
    void clave_data() { filas(QStringLiteral("clave")); }
    void clave() { reproduce(&fuzzClave); }
    void registro_data() { filas(QStringLiteral("registro")); }
    void registro() { reproduce(&fuzzRegistro); }
};

QTEST_GUILESS_MAIN(TestFuzz)
#include "test_fuzz.moc"
