// Saving and loading a full table of 20 mailboxes through the registry file.
#include "ajustes.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

using namespace pirel;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The folder where the settings really live decides what an fsync costs: use it.
    QTemporaryDir dir(QDir::homePath() + QStringLiteral("/.pirel-bench-XXXXXX"));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
    Registro registro(dir.filePath(QStringLiteral("Ludaren/registro.reg")));
    TBuzon tabla, copia;
    for (int i = 1; i <= kMaxBuzones; ++i)
        copia.agregar("Buzon " + QByteArray::number(i), "pop.ejemplo" + QByteArray::number(i) + ".es",
                      "usuario" + QByteArray::number(i), "clave" + QByteArray::number(i), true);
    TMensaje mensajes(tabla);
    TOpciones opciones;
    EleccionDialogo eleccion;
    eleccion.beep = true;
    eleccion.animacion = true;
    eleccion.frecuencia = 10;
    int intervalo = 0;

    QElapsedTimer t;
    t.start();
    (void)Guarda(registro, opciones, tabla, mensajes, copia, eleccion, intervalo, {}, QStringLiteral("/usr/bin/pirel"));
    const double guardar = t.nsecsElapsed() / 1e6;
    t.restart();
    TBuzon leida;
    TOpciones leidas;
    CargaAjustes(registro, leida, leidas, QStringLiteral("/usr/bin/pirel"));
    const double cargar = t.nsecsElapsed() / 1e6;
    std::printf("guardar 20 buzones: %.1f ms\ncargar 20 buzones: %.1f ms (%d buzones)\n", guardar, cargar,
                leida.numBuzones());
    return 0;
}
