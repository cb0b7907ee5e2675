#include "archivo_registro.h"

#include "ansi.h"
#include "error_almacen.h"

#include <QStringDecoder>

#include <algorithm>

namespace pirel {
namespace {

const QString kCabecera5 = QStringLiteral("Windows Registry Editor Version 5.00");
const QString kCabecera4 = QStringLiteral("REGEDIT4");

bool mismoNombre(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

class Lector {
public:
    Lector(const QString& fichero) : fichero_(fichero) {}

    [[noreturn]] void falla(int linea, const QString& motivo) const
    {
        throw ErrorAlmacen(QStringLiteral("El fichero de configuración %1 está dañado (línea %2): %3. "
                                          "No se ha modificado.")
                               .arg(fichero_)
                               .arg(linea)
                               .arg(motivo));
    }

    QStringList lineas(const QByteArray& bytes)
    {
        QString texto;
        if (bytes.startsWith("\xFF\xFE")) {
            if (bytes.size() % 2 != 0)
                falla(1, QStringLiteral("el texto UTF-16 tiene un número impar de bytes"));
            QStringDecoder utf16(QStringDecoder::Utf16LE, QStringDecoder::Flag::Stateless);
            texto = utf16.decode(bytes.mid(2));
            // The decoder lets unpaired surrogates through; written back they would turn into '?'.
            if (utf16.hasError() || !texto.isValidUtf16())
                falla(1, QStringLiteral("el texto UTF-16 no es válido"));
            return partes(texto);
        }
        const QByteArray cuerpo = bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes;
        // REGEDIT4 files are in the Windows code page; everything else is UTF-8.
        const bool ansi = cuerpo.startsWith(kCabecera4.toLatin1());
        QStringList resultado;
        int numero = 0;
        for (const QByteArray& linea : cuerpo.split('\n')) {
            ++numero;
            if (ansi) {
                resultado << ansi::aTexto(linea);
                continue;
            }
            QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            resultado << utf8.decode(linea);
            if (utf8.hasError())
                falla(numero, QStringLiteral("el texto no es UTF-8 válido"));
        }
        return limpiaFinales(resultado);
    }

private:
    static QStringList limpiaFinales(QStringList l)
    {
        for (QString& s : l)
            if (s.endsWith(u'\r'))
                s.chop(1);
        return l;
    }
    static QStringList partes(const QString& texto) { return limpiaFinales(texto.split(u'\n')); }

    QString fichero_;
};

int valorHex(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// A quoted text starting at `i` (on the opening quote); `i` ends past the closing quote.
bool leeComillas(const QString& s, qsizetype& i, QString* texto)
{
    texto->clear();
    for (++i; i < s.size(); ++i) {
        const QChar c = s[i];
        if (c == u'"') {
            ++i;
            return true;
        }
        if (c == u'\\' && i + 1 < s.size() && (s[i + 1] == u'\\' || s[i + 1] == u'"'))
            ++i;
        texto->append(s[i]);
    }
    return false;
}

QString conComillas(const QString& texto)
{
    QString r = QStringLiteral("\"");
    for (const QChar c : texto) {
        if (c == u'\\' || c == u'"')
            r += u'\\';
        r += c;
    }
    return r + u'"';
}

QByteArray utf16(const QByteArray& ansiTexto)
{
    const QString t = ansi::aTexto(ansiTexto);
    QByteArray r;
    for (const QChar c : t)
        r.append(static_cast<char>(c.unicode() & 0xFF)).append(static_cast<char>(c.unicode() >> 8));
    return r + QByteArray(2, '\0');
}

// A text value's data as the program sees them: they end at the first zero.
QByteArray textoDeDatos(const QByteArray& datos, bool anchos)
{
    if (!anchos)
        return datos.left(datos.indexOf('\0') < 0 ? datos.size() : datos.indexOf('\0'));
    QString t;
    for (qsizetype i = 0; i + 1 < datos.size(); i += 2) {
        const char16_t u = static_cast<unsigned char>(datos[i]) | static_cast<unsigned char>(datos[i + 1]) << 8;
        if (u == 0)
            break;
        t.append(QChar(u));
    }
    return ansi::deTexto(t);
}

QString lineaHex(const QString& prefijo, const QByteArray& datos)
{
    QString r = prefijo;
    qsizetype columna = r.size();
    for (qsizetype i = 0; i < datos.size(); ++i) {
        const QString par = QStringLiteral("%1").arg(static_cast<unsigned char>(datos[i]), 2, 16, QChar(u'0'));
        r += par;
        columna += 2;
        if (i + 1 < datos.size()) {
            r += u',';
            ++columna;
            // Wrapped as the registry editor wraps long binary values.
            if (columna > 76) {
                r += QStringLiteral("\\\n  ");
                columna = 2;
            }
        }
    }
    return r;
}

// Paths sort as a tree: a key comes right before its subkeys.
bool antesEnArbol(const ClaveRegistro& a, const ClaveRegistro& b)
{
    const QStringList pa = a.ruta.split(u'\\'), pb = b.ruta.split(u'\\');
    for (qsizetype i = 0; i < qMin(pa.size(), pb.size()); ++i) {
        const int c = pa[i].compare(pb[i], Qt::CaseInsensitive);
        if (c != 0)
            return c < 0;
    }
    return pa.size() < pb.size();
}

}

ValorRegistro* ClaveRegistro::valor(const QString& nombre)
{
    for (ValorRegistro& v : valores)
        if (mismoNombre(v.nombre, nombre))
            return &v;
    return nullptr;
}

void ClaveRegistro::pon(const ValorRegistro& v)
{
    if (ValorRegistro* actual = valor(v.nombre)) {
        actual->tipo = v.tipo;
        actual->datos = v.datos;
    } else {
        valores.append(v);
    }
}

bool ClaveRegistro::quita(const QString& nombre)
{
    return valores.removeIf([&](const ValorRegistro& v) { return mismoNombre(v.nombre, nombre); }) > 0;
}

ClaveRegistro* ArchivoRegistro::busca(const QString& ruta)
{
    for (ClaveRegistro& c : claves_)
        if (mismoNombre(c.ruta, ruta))
            return &c;
    return nullptr;
}

const ClaveRegistro* ArchivoRegistro::busca(const QString& ruta) const
{
    return const_cast<ArchivoRegistro*>(this)->busca(ruta);
}

bool ArchivoRegistro::crea(const QString& ruta)
{
    bool creada = false;
    const QStringList partes = ruta.split(u'\\', Qt::SkipEmptyParts);
    QString camino;
    for (const QString& parte : partes) {
        const bool raiz = camino.isEmpty();
        camino += (raiz ? QString() : QStringLiteral("\\")) + parte;
        // A root is listed only when it holds values itself, as in the editor's exports.
        if ((!raiz || partes.size() == 1) && !busca(camino)) {
            claves_.append({camino, {}});
            creada = true;
        }
    }
    return creada;
}

bool ArchivoRegistro::borra(const QString& ruta)
{
    const QString prefijo = ruta + u'\\';
    return claves_.removeIf([&](const ClaveRegistro& c) {
        return mismoNombre(c.ruta, ruta) || c.ruta.startsWith(prefijo, Qt::CaseInsensitive);
    }) > 0;
}

ArchivoRegistro ArchivoRegistro::lee(const QByteArray& bytes, const QString& fichero)
{
    ArchivoRegistro archivo;
    if (bytes.isEmpty())
        return archivo;
    Lector lector(fichero);
    const QStringList lineas = lector.lineas(bytes);
    const QString cabecera = lineas.value(0).trimmed();
    if (cabecera != kCabecera5 && cabecera != kCabecera4)
        lector.falla(1, QStringLiteral("falta la cabecera \"%1\"").arg(kCabecera5));
    const bool anchos = cabecera == kCabecera5;

    QString actual;
    bool borrada = false;
    for (qsizetype n = 1; n < lineas.size(); ++n) {
        const int numero = static_cast<int>(n + 1);
        QString linea = lineas[n];
        // Long binary values go on over lines that end in a backslash.
        while (linea.trimmed().endsWith(u'\\') && !linea.trimmed().startsWith(u'[') && n + 1 < lineas.size())
            linea = linea.trimmed().chopped(1) + lineas[++n].trimmed();
        const QString t = linea.trimmed();
        if (t.isEmpty() || t.startsWith(u';'))
            continue;
        if (t.startsWith(u'[')) {
            if (!t.endsWith(u']') || t.size() < 3)
                lector.falla(numero, QStringLiteral("clave mal cerrada"));
            actual = t.mid(1, t.size() - 2);
            borrada = actual.startsWith(u'-');
            if (borrada) {
                archivo.borra(actual.mid(1));
                continue;
            }
            if (actual.split(u'\\', Qt::SkipEmptyParts).join(u'\\') != actual)
                lector.falla(numero, QStringLiteral("nombre de clave no válido"));
            archivo.crea(actual);
            continue;
        }
        if (actual.isEmpty())
            lector.falla(numero, QStringLiteral("un valor fuera de toda clave"));
        qsizetype i = 0;
        ValorRegistro v;
        if (t.startsWith(u'@')) {
            i = 1;
        } else if (!t.startsWith(u'"') || !leeComillas(t, i, &v.nombre)) {
            lector.falla(numero, QStringLiteral("nombre de valor mal escrito"));
        }
        while (i < t.size() && t[i].isSpace())
            ++i;
        if (i >= t.size() || t[i] != u'=')
            lector.falla(numero, QStringLiteral("falta \"=\""));
        QString dato = t.mid(i + 1).trimmed();
        if (borrada)
            continue;
        ClaveRegistro* clave = archivo.busca(actual);
        if (dato == u"-") {
            clave->quita(v.nombre);
            continue;
        }
        if (dato.startsWith(u'"')) {
            qsizetype j = 0;
            QString texto;
            if (!leeComillas(dato, j, &texto) || j != dato.size())
                lector.falla(numero, QStringLiteral("texto mal cerrado"));
            v.tipo = REG_SZ;
            // Ends at a zero as the same text written in hex does, so it reads back the same.
            v.datos = textoDeDatos(ansi::deTexto(texto), false);
        } else if (dato.startsWith(u"dword:", Qt::CaseInsensitive)) {
            bool ok = false;
            const QString cifras = dato.mid(6);
            const uint numeroDword = cifras.toUInt(&ok, 16);
            if (!ok || cifras.isEmpty() || cifras.size() > 8)
                lector.falla(numero, QStringLiteral("dword mal escrito"));
            v.tipo = REG_DWORD;
            for (int b = 0; b < 4; ++b)
                v.datos.append(static_cast<char>((numeroDword >> (8 * b)) & 0xFF));
        } else if (dato.startsWith(u"hex", Qt::CaseInsensitive)) {
            const qsizetype dosPuntos = dato.indexOf(u':');
            if (dosPuntos < 0)
                lector.falla(numero, QStringLiteral("falta \":\" tras hex"));
            const QString tipo = dato.mid(3, dosPuntos - 3);
            v.tipo = REG_BINARY;
            if (!tipo.isEmpty()) {
                bool ok = false;
                v.tipo = static_cast<int>(tipo.mid(1, tipo.size() - 2).toUInt(&ok, 16));
                if (!ok || !tipo.startsWith(u'(') || !tipo.endsWith(u')'))
                    lector.falla(numero, QStringLiteral("tipo hex mal escrito"));
            }
            const QString lista = dato.mid(dosPuntos + 1).remove(u' ');
            if (!lista.isEmpty()) {
                for (const QString& par : lista.split(u',')) {
                    if (par.size() != 2 || valorHex(par[0]) < 0 || valorHex(par[1]) < 0)
                        lector.falla(numero, QStringLiteral("byte hexadecimal mal escrito"));
                    v.datos.append(static_cast<char>(valorHex(par[0]) * 16 + valorHex(par[1])));
                }
            }
            if (v.tipo == REG_SZ || v.tipo == REG_EXPAND_SZ)
                v.datos = textoDeDatos(v.datos, anchos);
        } else {
            lector.falla(numero, QStringLiteral("dato de valor desconocido"));
        }
        clave->pon(v);
    }
    return archivo;
}

QByteArray ArchivoRegistro::escribe() const
{
    QList<ClaveRegistro> ordenadas = claves_;
    std::stable_sort(ordenadas.begin(), ordenadas.end(), antesEnArbol);
    QString r = kCabecera5 + QStringLiteral("\n\n");
    for (const ClaveRegistro& c : ordenadas) {
        r += u'[' + c.ruta + QStringLiteral("]\n");
        for (const ValorRegistro& v : c.valores) {
            const QString nombre = (v.nombre.isEmpty() ? QStringLiteral("@") : conComillas(v.nombre)) + u'=';
            const bool textoSimple = v.tipo == REG_SZ && !v.datos.contains('\0') && !v.datos.contains('\n')
                && !v.datos.contains('\r');
            if (textoSimple)
                r += nombre + conComillas(ansi::aTexto(v.datos));
            else if (v.tipo == REG_SZ || v.tipo == REG_EXPAND_SZ)
                r += lineaHex(nombre + QStringLiteral("hex(%1):").arg(v.tipo), utf16(v.datos));
            else if (v.tipo == REG_DWORD && v.datos.size() == 4)
                r += nombre + QStringLiteral("dword:%1").arg(
                    static_cast<uint>(static_cast<unsigned char>(v.datos[0]) | static_cast<unsigned char>(v.datos[1]) << 8
                                      | static_cast<unsigned char>(v.datos[2]) << 16
                                      | static_cast<uint>(static_cast<unsigned char>(v.datos[3])) << 24),
                    8, 16, QChar(u'0'));
            else if (v.tipo == REG_BINARY)
                r += lineaHex(nombre + QStringLiteral("hex:"), v.datos);
            else
                // The type is a DWORD: one past 7fffffff is written as the file has it, not negative.
                r += lineaHex(nombre + QStringLiteral("hex(%1):").arg(static_cast<uint>(v.tipo), 0, 16), v.datos);
            r += u'\n';
        }
        r += u'\n';
    }
    return r.toUtf8();
}

}
