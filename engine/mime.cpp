#include "mime.h"

#include "ansi.h"

#include <QStringDecoder>

#include <vector>

namespace pirel::mime {
namespace {

bool esBlanco(char c) { return c == ' ' || c == '\t'; }

// Charset names are short tokens; anything longer is not an encoded word.
constexpr qsizetype kCharsetMax = 64;

QString utf8OAnsi(const QByteArray& bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString texto = utf8.decode(bytes);
    return utf8.hasError() ? ansi::aTexto(bytes) : texto;
}

int hex(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::optional<QByteArray> decodificaQ(QByteArrayView texto)
{
    QByteArray bytes;
    bytes.reserve(texto.size());
    for (qsizetype i = 0; i < texto.size(); ++i) {
        const char c = texto[i];
        if (c == '_') {
            bytes.append(' ');
        } else if (c == '=') {
            if (i + 2 >= texto.size())
                return std::nullopt;
            const int alto = hex(texto[i + 1]), bajo = hex(texto[i + 2]);
            if (alto < 0 || bajo < 0)
                return std::nullopt;
            bytes.append(static_cast<char>(alto * 16 + bajo));
            i += 2;
        } else {
            bytes.append(c);
        }
    }
    return bytes;
}

std::optional<QByteArray> decodificaB(QByteArrayView texto)
{
    auto resultado = QByteArray::fromBase64Encoding(texto.toByteArray(), QByteArray::AbortOnBase64DecodingErrors);
    if (!resultado)
        return std::nullopt;
    return std::move(resultado.decoded);
}

// One encoded word starting at `inicio` ("=?"): its charset (language suffix dropped,
// lower case), its bytes, and where it ends. Nothing when it is malformed.
struct Palabra {
    QByteArray charset;
    QByteArray bytes;
    qsizetype fin = 0;
};

std::optional<Palabra> leePalabra(const QByteArray& valor, qsizetype inicio)
{
    const qsizetype c0 = inicio + 2;
    const qsizetype q1 = valor.indexOf('?', c0);
    if (q1 <= c0 || q1 - c0 > kCharsetMax || q1 + 2 >= valor.size() || valor[q1 + 2] != '?')
        return std::nullopt;
    QByteArray charset = valor.mid(c0, q1 - c0);
    for (const char c : charset)
        if (static_cast<unsigned char>(c) <= ' ' || static_cast<unsigned char>(c) >= 0x7F)
            return std::nullopt;
    const char codificacion = valor[q1 + 1];
    const qsizetype t0 = q1 + 3;
    const qsizetype fin = valor.indexOf("?=", t0);
    if (fin < 0)
        return std::nullopt;
    const QByteArrayView texto = QByteArrayView(valor).sliced(t0, fin - t0);
    for (const char c : texto)
        if (static_cast<unsigned char>(c) <= ' ' || static_cast<unsigned char>(c) >= 0x7F)
            return std::nullopt;
    std::optional<QByteArray> bytes;
    if (codificacion == 'B' || codificacion == 'b')
        bytes = decodificaB(texto);
    else if (codificacion == 'Q' || codificacion == 'q')
        bytes = decodificaQ(texto);
    if (!bytes)
        return std::nullopt;
    const qsizetype idioma = charset.indexOf('*');
    if (idioma >= 0)
        charset.truncate(idioma);
    if (charset.isEmpty())
        return std::nullopt;
    return Palabra{charset.toLower(), std::move(*bytes), fin + 2};
}

QString enCharset(const QByteArray& charset, const QByteArray& bytes)
{
    QStringDecoder decodificador(charset.constData());
    if (!decodificador.isValid())
        return utf8OAnsi(bytes);
    return decodificador.decode(bytes);
}

}

std::optional<Valor> Desdobla(const QByteArray& respuesta, const QByteArray& nombre, qsizetype tope)
{
    const qsizetype donde = respuesta.indexOf("\n" + nombre + ":");
    if (donde < 0)
        return std::nullopt;
    Valor valor;
    qsizetype inicio = donde + 1 + nombre.size() + 1;
    for (;;) {
        const qsizetype lf = respuesta.indexOf('\n', inicio);
        if (lf < 0 || valor.bytes.size() + (lf - inicio) > tope)
            return Valor{};
        valor.cr = lf > inicio && respuesta[lf - 1] == '\r';
        valor.bytes.append(QByteArrayView(respuesta).sliced(inicio, lf - inicio - (valor.cr ? 1 : 0)));
        // A line that starts with a blank continues the header; the line end goes.
        if (lf + 1 >= respuesta.size() || !esBlanco(respuesta[lf + 1]))
            return valor;
        inicio = lf + 1;
    }
}

QString Decodifica(const QByteArray& valor)
{
    QString texto;
    QByteArray llano;        // plain bytes not yet converted
    QByteArray charset;      // of the encoded bytes held back for joining
    QByteArray codificados;
    bool hayCodificados = false;
    bool soloBlancos = false;   // `llano` holds nothing but blanks since the last encoded word

    const auto vuelcaCodificados = [&] {
        if (hayCodificados)
            texto += enCharset(charset, codificados);
        hayCodificados = false;
        codificados.clear();
    };
    const auto vuelcaLlano = [&] {
        texto += utf8OAnsi(llano);
        llano.clear();
    };

    qsizetype i = 0;
    while (i < valor.size()) {
        if (valor[i] == '=' && i + 1 < valor.size() && valor[i + 1] == '?') {
            if (auto palabra = leePalabra(valor, i)) {
                // Blanks alone between two encoded words go.
                if (hayCodificados && soloBlancos)
                    llano.clear();
                if (!llano.isEmpty() || (hayCodificados && palabra->charset != charset)) {
                    vuelcaCodificados();
                    vuelcaLlano();
                }
                charset = palabra->charset;
                codificados += palabra->bytes;
                hayCodificados = true;
                soloBlancos = true;
                i = palabra->fin;
                continue;
            }
        }
        if (!esBlanco(valor[i]))
            soloBlancos = false;
        llano.append(valor[i]);
        ++i;
    }
    vuelcaCodificados();
    vuelcaLlano();
    return texto;
}

QByteArray NombreVisible(const QByteArray& valor)
{
    QByteArray nombre;
    bool entreComillas = false;
    for (qsizetype i = 0; i < valor.size(); ++i) {
        const char c = valor[i];
        if (entreComillas && c == '\\' && i + 1 < valor.size()) {
            nombre.append(valor[++i]);
        } else if (c == '"') {
            entreComillas = !entreComillas;
        } else if (c == '<' && !entreComillas) {
            break;
        } else {
            nombre.append(c);
        }
    }
    return nombre;
}

}
