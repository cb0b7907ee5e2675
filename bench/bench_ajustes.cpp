// Saving and loading a full table of 20 mailboxes through the registry file, and
// loading a registry file as big as the store accepts.
#include "ajustes.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace pirel;

namespace {

const QString kPrograma = QStringLiteral("/usr/bin/pirel");

double mediana(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// One key of another program holding many values, and a long binary value wrapped over
// many lines, beside the program's own settings, up to `tope` bytes.
QByteArray ficheroGrande(const QByteArray& propio, qsizetype tope)
{
    QByteArray r = propio + "[HKEY_CURRENT_USER\\Software\\Otro\\Grande]\n\"Binario\"=hex:";
    for (int i = 0; i < 64 * 1024; ++i)
        r += i % 25 == 24 ? "00,\\\n  " : "00,";
    r += "00\n";
    const QByteArray relleno(240, 'x');
    for (int i = 0; r.size() + 300 < tope; ++i)
        r += "\"valor" + QByteArray::number(i) + "\"=\"" + relleno + "\"\n";
    return r;
}

}

// Argument: the size of the big file in MiB (16, just under what the store accepts).
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    const double mib = argc > 1 ? std::atof(argv[1]) : 16;
    // The folder where the settings really live decides what an fsync costs: use it.
    QTemporaryDir dir(QDir::homePath() + QStringLiteral("/.pirel-bench-XXXXXX"));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
    const QString fichero = dir.filePath(QStringLiteral("Ludaren/registro.reg"));
    Registro registro(fichero);
    TBuzon tabla, copia;
    for (int i = 1; i <= kMaxBuzones; ++i)
        copia.agregar("Buzon " + QByteArray::number(i), "pop.ejemplo" + QByteArray::number(i) + ".es",
                      "usuario" + QByteArray::number(i), "clave" + QByteArray::number(i), true);
    TOpciones opciones;
    EleccionDialogo eleccion;
    eleccion.beep = true;
    eleccion.animacion = true;

    std::vector<double> guardados, cargas;
    int reemplazos = 0;
    constexpr int kVueltas = 9;
    for (int vuelta = 0; vuelta < kVueltas; ++vuelta) {
        eleccion.frecuencia = 10 + vuelta; // every save changes something
        const int antes = registro.reemplazos();
        QElapsedTimer t;
        t.start();
        (void)Guarda(registro, opciones, tabla, copia, eleccion, 0, {}, kPrograma);
        guardados.push_back(t.nsecsElapsed() / 1e6);
        reemplazos = registro.reemplazos() - antes;
        TBuzon leida;
        TOpciones leidas;
        t.restart();
        CargaAjustes(registro, leida, leidas, kPrograma);
        cargas.push_back(t.nsecsElapsed() / 1e6);
    }
    std::printf("reemplazos del fichero por guardado: %d\n", reemplazos);
    std::printf("guardar 20 buzones: %.1f ms (mediana de %d)\n", mediana(guardados), kVueltas);
    std::printf("cargar 20 buzones: %.1f ms (mediana de %d)\n", mediana(cargas), kVueltas);

    QFile propio(fichero);
    if (!propio.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray grande = ficheroGrande(propio.readAll(), static_cast<qsizetype>(mib * 1048576) - 4096);
    propio.close();
    QFile f(fichero);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(grande) != grande.size())
        return 1;
    f.close();
    TBuzon leida;
    TOpciones leidas;
    QElapsedTimer t;
    t.start();
    CargaAjustes(registro, leida, leidas, kPrograma);
    std::printf("cargar un fichero de %.1f MiB: %.0f ms (%d buzones)\n", grande.size() / 1048576.0,
                t.nsecsElapsed() / 1e6, leida.numBuzones());
    eleccion.frecuencia = 30;
    t.restart();
    (void)Guarda(registro, opciones, tabla, copia, eleccion, 0, {}, kPrograma);
    std::printf("guardar 20 buzones en ese fichero: %.0f ms\n", t.nsecsElapsed() / 1e6);
    return 0;
}
