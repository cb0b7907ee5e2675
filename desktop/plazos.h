#pragma once
// The waits of the desktop services, in milliseconds.
#include <QByteArray>
#include <QList>

namespace pirel::plazos {

// PIREL_PLAZOS_MS, for tests only: "asentar reciente bandeja" in milliseconds, so that a
// test need not sit through the real waits; a missing or unreadable number keeps its default.
inline int plazo(int indice, int defecto)
{
    const QList<QByteArray> valores = qgetenv("PIREL_PLAZOS_MS").simplified().split(' ');
    bool bien = false;
    const int ms = valores.value(indice).toInt(&bien);
    return bien && ms > 0 ? ms : defecto;
}

// After a resume or the network's return, the time the network is given to settle.
inline int asentar() { return plazo(0, 10000); }
// A check this recent makes the one after a resume or the network's return needless.
inline int reciente() { return plazo(1, 60000); }
// How long a desktop may take to bring up its D-Bus notification area at log-on.
inline int bandeja() { return plazo(2, 30000); }

}
