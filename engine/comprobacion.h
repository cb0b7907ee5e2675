#pragma once
// The test of one mailbox while it is being set up: connect as its mode says, log in,
// STAT, QUIT. Nothing is shown: the result says what a check would have told.
#include "buzon.h"

#include <QByteArray>
#include <QString>

namespace pirel {

struct Comprobacion {
    // Logged in and counted.
    bool correcta = false;
    int cuenta = 0;
    // What went wrong, in the words a check would have used; empty when correcta.
    QString fallo;
    // The server certificate's SHA-256, 64 upper-case hex digits, given only when its
    // authority (unknown, or the certificate itself) was its one fault: the case a person
    // may settle by trusting that certificate for the mailbox.
    QByteArray huella;
};

// An empty server is not tried. Waits in the caller's event loop like any check.
[[nodiscard]] Comprobacion CompruebaBuzon(const QByteArray& nombre, const QByteArray& host, const QByteArray& usuario,
                                          const QByteArray& clave, const Conexion& conexion, int espera = 60);

}
