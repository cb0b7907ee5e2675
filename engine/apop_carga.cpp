#include "apop_carga.h"

#include "textos.h"

#include <dlfcn.h>

namespace pirel {

BibliotecaAPOP::~BibliotecaAPOP()
{
    if (manejadorAPOP_)
        ::dlclose(manejadorAPOP_);
}

BibliotecaAPOP::Resultado BibliotecaAPOP::carga(Presentacion& presentacion, const char* nombre)
{
    // dlopen is called from here, inside the program, so the program's RUNPATH is searched.
    manejadorAPOP_ = ::dlopen(nombre, RTLD_NOW | RTLD_LOCAL);
    if (!manejadorAPOP_) {
        presentacion.dialogo(textos::kSinAPOP);
        return Resultado::SinBiblioteca;
    }
    funcionMDString_ = reinterpret_cast<FuncionMDString>(::dlsym(manejadorAPOP_, "MDString"));
    if (!funcionMDString_) {
        presentacion.dialogo(textos::kSinMDString);
        return Resultado::SinFuncion;
    }
    return Resultado::Cargada;
}

}
