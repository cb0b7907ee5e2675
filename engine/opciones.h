#pragma once
#include <QByteArray>

namespace pirel {

// The options as the registry stores them: texts (Windows-1252), compared exactly.
struct TOpciones {
    QByteArray frecuencia = "5";
    QByteArray hacerSonido;
    QByteArray ficheroWav;
    QByteArray gestorCorreo;
    QByteArray animacion;
    bool ejecutarSiempre = false;
};

}
