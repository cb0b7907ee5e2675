#include "lectura.h"

#include "ansi.h"

#include <QStringDecoder>

#include <algorithm>
#include <optional>

namespace pirel {
namespace {

bool esDigito(char c) { return c >= '0' && c <= '9'; }

// Header values may run up to this far before their line end; longer ones are dropped.
constexpr qsizetype kValorMax = 127;

// The value of the first header `nombre` (LF, name, colon), starting `salto` bytes after
// the colon; nothing when the header is missing.
std::optional<QByteArray> valorCabecera(const QByteArray& respuesta, const QByteArray& nombre, qsizetype salto)
{
    const qsizetype donde = respuesta.indexOf("\n" + nombre + ":");
    if (donde < 0)
        return std::nullopt;
    const qsizetype inicio = donde + 1 + nombre.size() + 1 + salto;
    const qsizetype fin = respuesta.mid(inicio, kValorMax).indexOf('\n');
    QByteArray valor = fin < 0 ? QByteArray() : respuesta.mid(inicio, fin);
    if (valor.endsWith('\r'))
        valor.chop(1);
    return valor;
}

// Raw 8-bit headers are UTF-8 in today's mail; the program keeps Windows-1252.
QByteArray aAnsi(const QByteArray& valor)
{
    const bool ascii = std::all_of(valor.begin(), valor.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii)
        return valor;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString texto = utf8.decode(valor);
    return utf8.hasError() ? valor : ansi::deTexto(texto);
}

// Control characters become blanks, then blanks go from both ends.
QByteArray limpia(const QByteArray& valor)
{
    return Legible(aAnsi(valor)).trimmed();
}

}

QByteArray PrimeraLinea(const QByteArray& respuesta)
{
    const qsizetype cr = respuesta.indexOf('\r');
    return cr < 0 ? QByteArray() : respuesta.left(cr);
}

bool EmpiezaPor(const QByteArray& linea, const QByteArray& prefijo)
{
    return linea.size() >= prefijo.size() && linea.left(prefijo.size()).compare(prefijo, Qt::CaseInsensitive) == 0;
}

int LeeCuenta(const QByteArray& linea)
{
    // Positions counted from 1, as the STAT answer has always been read.
    qsizetype inicio = 256;
    for (qsizetype p = 5; p <= 255 && p <= linea.size(); ++p) {
        if (esDigito(linea[p - 1]) && linea[p - 2] == ' ') {
            inicio = p;
            break;
        }
    }
    const QByteArray trozo = linea.mid(inicio - 1, 255);
    const qsizetype blanco = trozo.indexOf(' ');
    if (blanco <= 0)
        return -1;
    const QByteArray texto = trozo.left(blanco);
    qsizetype i = (texto[0] == '-' || texto[0] == '+') ? 1 : 0;
    if (i == texto.size())
        return -1;
    qint64 valor = 0;
    for (; i < texto.size(); ++i) {
        if (!esDigito(texto[i]))
            return -1;
        valor = valor * 10 + (texto[i] - '0');
        if (valor > qint64(1) << 31)
            return -1;
    }
    if (texto[0] == '-')
        valor = -valor;
    if (valor > 2147483647 || valor < -2147483648LL)
        return -1;
    return static_cast<int>(valor);
}

QByteArray ExtraeSello(const QByteArray& linea)
{
    const qsizetype menor = linea.lastIndexOf('<');
    if (menor >= 0 && menor == linea.size() - 1)
        return {};
    qsizetype i = menor + 1;
    while (i < linea.size() && esDigito(linea[i]))
        ++i;
    if (i >= linea.size() || linea[i] != '.')
        return {};
    ++i;
    while (i < linea.size() && esDigito(linea[i]))
        ++i;
    if (i >= linea.size() || linea[i] != '@')
        return {};
    ++i;
    qsizetype fin = linea.indexOf(' ', i);
    if (fin < 0)
        fin = linea.size();
    if (fin != linea.size() || linea[fin - 1] != '>')
        return {};
    return linea.mid(qMax<qsizetype>(menor, 0));
}

QByteArray Asunto(const QByteArray& respuesta)
{
    const auto valor = valorCabecera(respuesta, "Subject", 1);
    if (!valor)
        return "Sin Asunto";
    const QByteArray limpio = limpia(*valor);
    return limpio.isEmpty() ? QByteArray("Sin Asunto") : limpio;
}

QByteArray Remitente(const QByteArray& respuesta)
{
    const auto encontrado = valorCabecera(respuesta, "From", 0);
    if (!encontrado)
        return "Sin remitente";
    QByteArray valor = *encontrado;
    const qsizetype menor = valor.indexOf('<');
    if (menor >= 0)
        valor.truncate(menor);
    const QByteArray limpio = limpia(valor);
    return limpio.isEmpty() ? QByteArray("Sin Remitente") : limpio;
}

QString Legible(QString texto)
{
    for (QChar& c : texto) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F))
            c = u' ';
    }
    return texto;
}

QByteArray Legible(const QByteArray& texto)
{
    return ansi::deTexto(Legible(ansi::aTexto(texto)));
}

QByteArray LineaCabecera(const QByteArray& nombre, const QByteArray& respuesta)
{
    return nombre + " => " + Asunto(respuesta) + ": " + Remitente(respuesta);
}

}
