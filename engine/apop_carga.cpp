#include "apop_carga.h"

#include "textos.h"

#include <dlfcn.h>

#include <cstring>
#include <string>
#include <vector>

namespace pirel {
namespace {

// The loader searches the RUNPATH of whoever calls dlopen, and a sanitizer's wrapper
// around dlopen is not the program: so the program's own search list is walked too.
void* abreJuntoAlPrograma(const char* nombre)
{
    if (void* h = ::dlopen(nombre, RTLD_NOW | RTLD_LOCAL))
        return h;
    if (std::strchr(nombre, '/'))
        return nullptr;
    void* programa = ::dlopen(nullptr, RTLD_NOW);
    Dl_serinfo tamano;
    if (!programa || ::dlinfo(programa, RTLD_DI_SERINFOSIZE, &tamano) != 0)
        return nullptr;
    std::vector<char> memoria(tamano.dls_size);
    auto* info = reinterpret_cast<Dl_serinfo*>(memoria.data());
    *info = tamano;
    void* h = nullptr;
    if (::dlinfo(programa, RTLD_DI_SERINFO, info) == 0) {
        for (unsigned i = 0; i < info->dls_cnt && !h; ++i)
            h = ::dlopen((std::string(info->dls_serpath[i].dls_name) + '/' + nombre).c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    ::dlclose(programa);
    return h;
}

}

BibliotecaAPOP::~BibliotecaAPOP()
{
    if (manejadorAPOP_)
        ::dlclose(manejadorAPOP_);
}

BibliotecaAPOP::Resultado BibliotecaAPOP::carga(Presentacion& presentacion, const char* nombre)
{
    manejadorAPOP_ = abreJuntoAlPrograma(nombre);
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
