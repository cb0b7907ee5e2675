#pragma once
// What each fuzz target does with one input, kept apart from libFuzzer so that the
// replay test runs the same code over the kept inputs in any build.
#include <cstddef>
#include <cstdint>

namespace pirel::fuzz {

// A whole check cycle against a server whose bytes are the input.
void fuzzRespuestas(const std::uint8_t* datos, std::size_t tamano);
// The readers of single reply lines and TOP answers.
void fuzzSello(const std::uint8_t* datos, std::size_t tamano);
// Subject and From as encoded words, folded lines and raw 8-bit bytes.
void fuzzCabecera(const std::uint8_t* datos, std::size_t tamano);
void fuzzClave(const std::uint8_t* datos, std::size_t tamano);
void fuzzRegistro(const std::uint8_t* datos, std::size_t tamano);

}
