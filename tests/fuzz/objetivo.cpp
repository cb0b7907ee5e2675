// The libFuzzer entry of one target; PIREL_FUZZ_ENTRADA names its function in entradas.h.
#include "entradas.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* datos, std::size_t tamano)
{
    pirel::fuzz::PIREL_FUZZ_ENTRADA(QByteArray(reinterpret_cast<const char*>(datos), static_cast<qsizetype>(tamano)));
    return 0;
}
