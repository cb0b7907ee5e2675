#pragma once
#include <QByteArray>
#include <QString>

namespace pirel {

enum class Sonido { Ninguno, Pitido, Wave };

// The options, typed; the store converts its texts where it reads and writes them.
struct TOpciones {
    int frecuencia = 5; // minutes between checks, as stored
    // Why the stored interval could not be read; empty when it could.
    QString frecuenciaError;
    // Nothing stored at all: the start-up then checks every minute.
    bool frecuenciaFalta = false;
    Sonido sonido = Sonido::Ninguno;
    QByteArray ficheroWav; // Windows-1252, as the fields of the mailbox table
    QByteArray gestorCorreo;
    bool animacion = false;
    bool ejecutarSiempre = false;
};

}
