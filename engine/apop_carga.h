#pragma once
// Loading the digest library at start-up; the program cannot start without it.
#include "presentacion.h"

namespace pirel {

class BibliotecaAPOP {
public:
    using FuncionMDString = void (*)(const char* texto, char* resultado);

    BibliotecaAPOP() = default;
    ~BibliotecaAPOP();
    BibliotecaAPOP(const BibliotecaAPOP&) = delete;
    BibliotecaAPOP& operator=(const BibliotecaAPOP&) = delete;

    enum class Resultado { Cargada, SinBiblioteca, SinFuncion };
    // Loads `nombre` by the usual search (beside the program through its RUNPATH),
    // telling the user through `presentacion` when the library or its entry is missing.
    [[nodiscard]] Resultado carga(Presentacion& presentacion, const char* nombre = "libAPOP.so");

    FuncionMDString funcionMDString() const { return funcionMDString_; }

private:
    void* manejadorAPOP_ = nullptr;
    FuncionMDString funcionMDString_ = nullptr;
};

}
