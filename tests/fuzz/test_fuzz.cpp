// Replays every input kept for the fuzz targets: the seeds and the crashes once found.
#include "entradas.h"

#include <QDir>
#include <QTest>

using namespace pirel::fuzz;

class TestFuzz : public QObject {
    Q_OBJECT
private slots:
    void reproduce_data()
    {
        QTest::addColumn<int>("objetivo");
        QTest::addColumn<QString>("fichero");
        const char* const kObjetivos[] = {"respuestas", "cabecera", "clave", "registro"};
        for (int o = 0; o < 4; ++o)
            for (const char* carpeta : {"corpus", "regresiones"}) {
                // Hidden files and the READMEs only keep the folders in the repository.
                const QDir dir(QStringLiteral(PIREL_FUZZ_DIR "/%1/%2").arg(carpeta, kObjetivos[o]));
                const QStringList ficheros = dir.entryList({QStringLiteral("[!R]*")}, QDir::Files);
                QVERIFY2(!ficheros.isEmpty() || carpeta[0] == 'r', kObjetivos[o]);
                for (const QString& f : ficheros)
                    QTest::newRow(qPrintable(dir.path() + u'/' + f)) << o << dir.filePath(f);
            }
    }
    void reproduce()
    {
        QFETCH(int, objetivo);
        QFETCH(QString, fichero);
        QFile f(fichero);
        QVERIFY(f.open(QIODevice::ReadOnly));
        using Entrada = void (*)(const QByteArray&);
        const Entrada entradas[] = {fuzzRespuestas, fuzzCabecera, fuzzClave, fuzzRegistro};
        entradas[objetivo](f.readAll());
    }
};

QTEST_GUILESS_MAIN(TestFuzz)
#include "test_fuzz.moc"
