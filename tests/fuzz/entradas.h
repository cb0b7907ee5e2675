#pragma once
// What each fuzz target does with one input, kept apart from libFuzzer so that the
// replay test runs the same code over the kept inputs in any build.
#include <QByteArray>

namespace pirel::fuzz {

// A whole check cycle against a server whose bytes are the input.
void fuzzRespuestas(const QByteArray& entrada);
// The readers of single reply lines and TOP answers: counts, stamps, encoded words, folded lines, raw 8-bit bytes.
void fuzzCabecera(const QByteArray& entrada);
void fuzzClave(const QByteArray& entrada);
void fuzzRegistro(const QByteArray& entrada);

}
