#include "lectura.h"

#include "ansi.h"
#include "mime.h"

#include <QHash>

#include <algorithm>
#include <optional>

namespace pirel {
namespace {

bool esDigito(char c) { return c >= '0' && c <= '9'; }

// Header values may run up to this far before their line end, counted in decoded
// characters with the closing CR; longer ones are dropped.
constexpr qsizetype kValorMax = 127;
// A folded header stops being read past this many bytes.
constexpr qsizetype kDesdobladoMax = 8192;
constexpr qsizetype kLineaMax = 255;

qsizetype caracteres(const QString& texto)
{
    qsizetype n = 0;
    for (qsizetype i = 0; i < texto.size(); ++i, ++n)
        if (texto[i].isHighSurrogate() && i + 1 < texto.size() && texto[i + 1].isLowSurrogate())
            ++i;
    return n;
}

// The decoded value of header `nombre`, `salto` characters after its colon; empty when
// it runs past the value window, nothing when the header is missing.
std::optional<QString> valorCabecera(const QByteArray& respuesta, const QByteArray& nombre, qsizetype salto,
                                     QByteArray (*parte)(const QByteArray&))
{
    const auto valor = mime::Desdobla(respuesta, nombre, kDesdobladoMax);
    if (!valor)
        return std::nullopt;
    const QByteArray bytes = valor->bytes.mid(salto);
    QString texto = mime::Decodifica(bytes);
    if (caracteres(texto) + (valor->cr ? 1 : 0) >= kValorMax)
        return QString();
    return parte ? mime::Decodifica(parte(bytes)) : texto;
}

// Trimmed of blanks and control characters at both ends; those inside become blanks,
// since the line goes to a terminal or a list as plain text.
QString limpia(const QString& valor)
{
    return Legible(valor).trimmed();
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

QString Asunto(const QByteArray& respuesta)
{
    const auto valor = valorCabecera(respuesta, "Subject", 1, nullptr);
    if (!valor)
        return QStringLiteral("Sin Asunto");
    const QString limpio = limpia(*valor);
    return limpio.isEmpty() ? QStringLiteral("Sin Asunto") : limpio;
}

QString Remitente(const QByteArray& respuesta)
{
    const auto valor = valorCabecera(respuesta, "From", 0, &mime::NombreVisible);
    if (!valor)
        return QStringLiteral("Sin remitente");
    const QString limpio = limpia(*valor);
    return limpio.isEmpty() ? QStringLiteral("Sin Remitente") : limpio;
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

QString LineaCabecera(const QByteArray& nombre, const QByteArray& respuesta)
{
    return LineaCabecera(nombre, Asunto(respuesta), Remitente(respuesta));
}

QString LineaCabecera(const QByteArray& nombre, const QString& asunto, const QString& remitente)
{
    return CortaCaracteres(ansi::aTexto(nombre) + QStringLiteral(" => ") + asunto + QStringLiteral(": ") + remitente,
                           kLineaMax);
}

Capacidades LeeCapacidades(const QByteArray& respuesta)
{
    Capacidades c;
    const QList<QByteArray> lineas = respuesta.split('\n');
    if (lineas.isEmpty() || !EmpiezaPor(lineas.first(), "+OK"))
        return c;
    for (qsizetype n = 1; n < lineas.size(); ++n) {
        // Capability names are compared without regard to case; what follows a name is its argument.
        const QByteArray nombre = lineas[n].trimmed().split(' ').first();
        if (nombre.compare("PIPELINING", Qt::CaseInsensitive) == 0)
            c.encadena = true;
        else if (nombre.compare("UIDL", Qt::CaseInsensitive) == 0)
            c.uidl = true;
    }
    return c;
}

QList<QByteArray> LeeUIDL(const QByteArray& respuesta, int mensajes)
{
    // Longer ids than RFC 1939 allows are not ids this check will trust.
    constexpr qsizetype kIdMax = 70;
    QList<QByteArray> ids(qMax(0, mensajes) + 1);
    if (mensajes <= 0 || !EmpiezaPor(respuesta, "+OK"))
        return ids;
    QList<bool> dudoso(ids.size(), false);
    QHash<QByteArray, int> dueno;
    qsizetype inicio = respuesta.indexOf('\n');
    while (inicio >= 0) {
        const qsizetype fin = respuesta.indexOf('\n', inicio + 1);
        if (fin < 0)
            break;
        const QList<QByteArray> campos = respuesta.mid(inicio + 1, fin - inicio - 1).trimmed().split(' ');
        inicio = fin;
        bool numero = false;
        const int k = campos.size() == 2 ? campos[0].toInt(&numero) : 0;
        if (!numero || k < 1 || k > mensajes || campos[0].startsWith('+'))
            continue;
        const QByteArray& id = campos[1];
        const bool valido = !id.isEmpty() && id.size() <= kIdMax
            && std::all_of(id.begin(), id.end(), [](char c) { return c >= '!' && c <= '~'; });
        if (!valido || !ids[k].isEmpty())
            dudoso[k] = true;
        if (!valido)
            continue;
        ids[k] = id;
        if (const auto otro = dueno.constFind(id); otro != dueno.constEnd() && *otro != k)
            dudoso[k] = dudoso[*otro] = true;
        dueno.insert(id, k);
    }
    for (qsizetype k = 1; k < ids.size(); ++k)
        if (dudoso[k])
            ids[k].clear();
    return ids;
}

QString CortaCaracteres(const QString& texto, qsizetype maximo)
{
    qsizetype i = 0;
    for (qsizetype n = 0; n < maximo && i < texto.size(); ++n)
        i += texto[i].isHighSurrogate() && i + 1 < texto.size() && texto[i + 1].isLowSurrogate() ? 2 : 1;
    return texto.left(i);
}

}
