#pragma once
// Everything the check shows the user goes through here, so the engine runs the same
// behind the tray program, the command-line checker and the tests.
#include "sockets.h"

#include <QString>
#include <QStringList>

namespace pirel {

enum class Bandera { bandera0, bandera1, Bandera2, Bandera5 };

class Presentacion : public AvisosSocket {
public:
    // Modal error box titled "Ludaren Electrónico".
    virtual void cajaError(const QString& texto) = 0;
    // Modal plain message dialog with the application's title.
    virtual void dialogo(const QString& texto) = 0;
    virtual void icono(Bandera bandera) = 0;
    virtual void consejo(const QString& texto) = 0;
    // Opens the notice if it is closed; a compact notice takes the count text as its
    // caption, a widened one rebuilds its list; then it is shown in front.
    virtual void muestraAviso(const QString& textoCuenta, const QStringList& cabeceras) = 0;
    virtual void pitido() = 0;
    // Starts playing and returns at once.
    virtual void reproduce(const QByteArray& ficheroWav) = 0;
};

}
