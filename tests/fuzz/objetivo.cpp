// The libFuzzer entry of one target; PIREL_FUZZ_ENTRADA names its function in entradas.h.
#include "entradas.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* datos, std::size_t tamano)
{
    pirel::fuzz::PIREL_FUZZ_ENTRADA(datos, tamano);
    return 0;
}
