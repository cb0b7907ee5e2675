#pragma once
// The check cycle as the program runs it, recorded, aimed at a loopback port with a short
// time-out.
#include "chequeo.h"
#include "presentacion_grabada.h"

#include <QTest>

// The scripted server ran its whole script and heard every line it expected.
#define TRANSCRIPCION_LIMPIA(servidor) QCOMPARE((servidor).termina() ? (servidor).fallos() : QStringList{"sin terminar"}, QStringList())

namespace pirel::prueba {

struct Ciclo {
    PresentacionGrabada p;
    TSockets s{nullptr, &p};
    TBuzon buzones;
    TMensaje mensajes{buzones};
    TOpciones opciones;
    Chequeo c{s, buzones, mensajes, opciones, p};

    // Port 0: each mailbox's own.
    explicit Ciclo(quint16 puerto, int espera = 1)
    {
        c.puerto = puerto ? QByteArray::number(puerto) : QByteArray();
        c.espera = espera;
    }
    void buzon(const QByteArray& nombre, quint16 propio = 0, const QByteArray& host = "127.0.0.1", const QByteArray& clave = "secreta")
    {
        buzones.agregar(nombre, host, "pepe", clave, true, {Seguridad::Ninguna, propio, {}});
    }
    QStringList lineas() const
    {
        QStringList r;
        for (int n = 1; n <= mensajes.numCabeceras(); ++n)
            r << mensajes.cabecera(n);
        return r;
    }
};

}
