// Writes the default new-mail chime: two bell-like notes, rising a fourth, that fade
// out within 1.3 s (16-bit mono PCM, 22050 Hz).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int kFrecuencia = 22050;
constexpr double kDuracion = 1.3;
constexpr double kPi = 3.14159265358979323846;

struct Nota {
    double inicio, hercios, volumen;
};

void pon16(std::vector<unsigned char>& b, std::uint16_t v)
{
    b.push_back(static_cast<unsigned char>(v & 0xff));
    b.push_back(static_cast<unsigned char>(v >> 8));
}

void pon32(std::vector<unsigned char>& b, std::uint32_t v)
{
    pon16(b, static_cast<std::uint16_t>(v & 0xffff));
    pon16(b, static_cast<std::uint16_t>(v >> 16));
}

}

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "uso: %s FICHERO.wav\n", argv[0]);
        return 2;
    }
    const Nota notas[] = {{0.0, 1174.66, 0.8}, {0.16, 1567.98, 1.0}}; // D6, G6
    // Partials of a small bell: the slightly sharp octave and twelfth keep it soft, not tinny.
    const struct {
        double razon, peso, caida;
    } parciales[] = {{1.0, 1.0, 0.42}, {2.01, 0.35, 0.22}, {3.02, 0.12, 0.12}, {0.5, 0.10, 0.55}};

    const int total = static_cast<int>(kDuracion * kFrecuencia);
    std::vector<double> onda(static_cast<std::size_t>(total), 0.0);
    for (const Nota& n : notas) {
        for (int i = static_cast<int>(n.inicio * kFrecuencia); i < total; ++i) {
            const double t = static_cast<double>(i) / kFrecuencia - n.inicio;
            const double ataque = std::min(1.0, t / 0.004); // no click at the onset
            double s = 0;
            for (const auto& p : parciales)
                s += p.peso * std::exp(-t / p.caida) * std::sin(2 * kPi * n.hercios * p.razon * t);
            onda[static_cast<std::size_t>(i)] += n.volumen * ataque * s;
        }
    }
    double pico = 0;
    for (double s : onda)
        pico = std::max(pico, std::abs(s));
    const int cola = kFrecuencia / 20; // the last 50 ms fade to silence
    std::vector<unsigned char> datos;
    for (int i = 0; i < total; ++i) {
        double s = onda[static_cast<std::size_t>(i)] / pico * 0.6;
        if (i > total - cola)
            s *= static_cast<double>(total - i) / cola;
        pon16(datos, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(s * 32767))));
    }

    std::vector<unsigned char> wav = {'R', 'I', 'F', 'F'};
    pon32(wav, static_cast<std::uint32_t>(36 + datos.size()));
    for (char c : {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '})
        wav.push_back(static_cast<unsigned char>(c));
    pon32(wav, 16);
    pon16(wav, 1); // PCM
    pon16(wav, 1); // mono
    pon32(wav, kFrecuencia);
    pon32(wav, kFrecuencia * 2);
    pon16(wav, 2);
    pon16(wav, 16);
    for (char c : {'d', 'a', 't', 'a'})
        wav.push_back(static_cast<unsigned char>(c));
    pon32(wav, static_cast<std::uint32_t>(datos.size()));
    wav.insert(wav.end(), datos.begin(), datos.end());

    std::FILE* f = std::fopen(argv[1], "wb");
    if (!f || std::fwrite(wav.data(), 1, wav.size(), f) != wav.size() || std::fclose(f) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
