#include "clave.h"

namespace pirel {
namespace {

constexpr char kClaveFija[] = "RoVaLuN&QtZ482QtZ&RoVaLuN482";
constexpr qsizetype kLargoClaveFija = sizeof kClaveFija - 1;
constexpr char kHex[] = "0123456789ABCDEF";

// Past its 28th character the key starts again, so every password short enough to have
// been stored before scrambles exactly as it always did.
unsigned char mezcla(qsizetype i)
{
    return static_cast<unsigned char>(kClaveFija[i % kLargoClaveFija]);
}

int digito(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}

QByteArray CodificaClave(const QByteArray& clave)
{
    QByteArray codigo;
    codigo.reserve(clave.size() * 2);
    for (qsizetype i = 0; i < clave.size(); ++i) {
        const unsigned b = static_cast<unsigned char>(clave[i]) ^ mezcla(i);
        codigo.append(kHex[b >> 4]).append(kHex[b & 0x0F]);
    }
    return codigo;
}

QByteArray DecodificaClave(const QByteArray& codigo)
{
    QByteArray clave;
    const qsizetype n = codigo.size() / 2;
    clave.reserve(n);
    for (qsizetype i = 0; i < n; ++i) {
        // A character that is not a digit counts as -1, as stored texts have always been read.
        const int v = (digito(codigo[2 * i]) * 16 + digito(codigo[2 * i + 1])) & 0xFF;
        clave.append(static_cast<char>(v ^ mezcla(i)));
    }
    return clave;
}

}
