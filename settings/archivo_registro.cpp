#include "archivo_registro.h"

#include "ansi.h"
#include "error_almacen.h"

#include <QHashFunctions>
#include <QStringDecoder>

#include <algorithm>
#include <cstring>

namespace pirel {
namespace {

const QString kCabecera5 = QStringLiteral("Windows Registry Editor Version 5.00");
// The registry's own limit on nesting; and, since a line can name hundreds of keys, bounds
// on keys and values that keep a hostile file's memory to a few hundred megabytes, far
// beyond what any real export holds.
constexpr qsizetype kNivelesMaximos = 512;
constexpr qsizetype kClavesMaximas = 100000;
constexpr qsizetype kValoresMaximos = 500000;
const QString kCabecera4 = QStringLiteral("REGEDIT4");

QString plegado(QStringView nombre) { return nombre.toString().toCaseFolded(); }
// Shares the text when folding changes nothing, as for most names.
QString plegado(const QString& nombre) { return nombre.toCaseFolded(); }

QByteArray enUtf16(QStringView texto)
{
    return QByteArray(reinterpret_cast<const char*>(texto.utf16()), texto.size() * 2);
}

class Lector {
public:
    explicit Lector(const QString& fichero) : fichero_(fichero) {}

    [[noreturn]] void falla(qsizetype linea, const QString& motivo) const
    {
        throw ErrorAlmacen(QStringLiteral("El fichero de configuración %1 está dañado (línea %2): %3. "
                                          "No se ha modificado.")
                               .arg(fichero_)
                               .arg(linea)
                               .arg(motivo));
    }

    // The whole text; `ansi` tells a REGEDIT4 file, whose binary texts are 8-bit.
    QString texto(const QByteArray& bytes, bool* ansi) const
    {
        *ansi = false;
        if (bytes.startsWith("\xFF\xFE")) {
            if (bytes.size() % 2 != 0)
                falla(1, QStringLiteral("el texto UTF-16 tiene un número impar de bytes"));
            QStringDecoder utf16(QStringDecoder::Utf16LE, QStringDecoder::Flag::Stateless);
            QString texto = utf16.decode(QByteArrayView(bytes).sliced(2));
            // The decoder lets unpaired surrogates through; written back they would turn into '?'.
            if (utf16.hasError() || !texto.isValidUtf16())
                falla(1, QStringLiteral("el texto UTF-16 no es válido"));
            return texto;
        }
        const QByteArrayView cuerpo = bytes.startsWith("\xEF\xBB\xBF") ? QByteArrayView(bytes).sliced(3) : QByteArrayView(bytes);
        // REGEDIT4 files are in the Windows code page; everything else is UTF-8.
        if (cuerpo.startsWith("REGEDIT4")) {
            *ansi = true;
            return ansi::aTexto(cuerpo.toByteArray());
        }
        // Marks opening a line are dropped line by line (see Lineas).
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
        QString texto = utf8.decode(cuerpo);
        if (utf8.hasError())
            falla(lineaNoUtf8(cuerpo), QStringLiteral("el texto no es UTF-8 válido"));
        return texto;
    }

private:
    // Only on failure: a sequence cannot span a line end, so each line is tried alone.
    static qsizetype lineaNoUtf8(QByteArrayView cuerpo)
    {
        qsizetype numero = 1;
        for (qsizetype inicio = 0;; ++numero) {
            qsizetype fin = cuerpo.indexOf('\n', inicio);
            if (fin < 0)
                fin = cuerpo.size();
            QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            const QString linea = utf8.decode(cuerpo.sliced(inicio, fin - inicio));
            if (utf8.hasError() || fin >= cuerpo.size())
                return numero;
            inicio = fin + 1;
        }
    }

    QString fichero_;
};

// The lines of a text, each without its line end.
class Lineas {
public:
    Lineas(const QString& texto, bool sinMarcas) : texto_(texto), sinMarcas_(sinMarcas) {}

    bool quedan() const { return inicio_ <= texto_.size(); }
    qsizetype numero() const { return numero_; }
    QStringView siguiente()
    {
        qsizetype fin = texto_.indexOf(u'\n', inicio_);
        if (fin < 0)
            fin = texto_.size();
        QStringView l = QStringView(texto_).mid(inicio_, fin - inicio_);
        inicio_ = fin + 1;
        ++numero_;
        if (l.endsWith(u'\r'))
            l.chop(1);
        // UTF-8 files were once decoded a line at a time, which drops a mark opening a line.
        if (sinMarcas_ && l.startsWith(QChar(0xFEFF)))
            l = l.mid(1);
        return l;
    }

private:
    const QString& texto_;
    bool sinMarcas_;
    qsizetype inicio_ = 0;
    qsizetype numero_ = 0;
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
bool leeComillas(QStringView s, qsizetype& i, QString* texto)
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

void conComillas(QString& r, QStringView texto)
{
    r += u'"';
    for (const QChar c : texto) {
        if (c == u'\\' || c == u'"')
            r += u'\\';
        r += c;
    }
    r += u'"';
}

// "hex:" data: pairs of digits separated by commas, blanks anywhere.
bool leeHex(QStringView lista, QByteArray* datos)
{
    int digitos = 0, alto = 0;
    bool vacia = true;
    for (const QChar c : lista) {
        if (c == u' ')
            continue;
        vacia = false;
        if (c == u',') {
            if (digitos != 2)
                return false;
            digitos = 0;
            continue;
        }
        const int v = valorHex(c);
        if (v < 0 || digitos == 2)
            return false;
        if (digitos++ == 0)
            alto = v;
        else
            datos->append(static_cast<char>(alto * 16 + v));
    }
    return vacia || digitos == 2;
}

// A text the file can hold between quotes: one closing zero, no line break, and UTF-16
// that UTF-8 can carry; anything else keeps its bytes through the hex(1) form.
std::optional<QString> textoSimple(const ValorRegistro& v)
{
    if (v.tipo != REG_SZ || v.datos.size() < 2 || v.datos.size() % 2 != 0)
        return std::nullopt;
    const qsizetype n = v.datos.size() / 2 - 1;
    QString t(n, Qt::Uninitialized);
    for (qsizetype i = 0; i <= n; ++i) {
        const char16_t u = static_cast<unsigned char>(v.datos[2 * i]) | static_cast<unsigned char>(v.datos[2 * i + 1]) << 8;
        if ((u == 0) != (i == n) || u == u'\n' || u == u'\r')
            return std::nullopt;
        if (i < n)
            t[i] = QChar(u);
    }
    if (!t.isValidUtf16())
        return std::nullopt;
    return t;
}

void lineaHex(QString& r, qsizetype columna, const QByteArray& datos)
{
    static constexpr char kCifras[] = "0123456789abcdef";
    for (qsizetype i = 0; i < datos.size(); ++i) {
        const auto b = static_cast<unsigned char>(datos[i]);
        r += QLatin1Char(kCifras[b >> 4]);
        r += QLatin1Char(kCifras[b & 0x0F]);
        columna += 2;
        if (i + 1 < datos.size()) {
            r += u',';
            ++columna;
            // Wrapped as the registry editor wraps long binary values.
            if (columna > 76) {
                r += QLatin1String("\\\n  ");
                columna = 2;
            }
        }
    }
}

void escribeValor(QString& r, const ValorRegistro& v)
{
    const qsizetype inicio = r.size();
    if (v.nombre.isEmpty())
        r += u'@';
    else
        conComillas(r, v.nombre);
    r += u'=';
    if (const auto texto = textoSimple(v)) {
        conComillas(r, *texto);
    } else if (v.tipo == REG_DWORD && v.datos.size() == 4) {
        const uint n = static_cast<unsigned char>(v.datos[0]) | static_cast<unsigned char>(v.datos[1]) << 8
            | static_cast<unsigned char>(v.datos[2]) << 16 | static_cast<uint>(static_cast<unsigned char>(v.datos[3])) << 24;
        r += QStringLiteral("dword:%1").arg(n, 8, 16, QChar(u'0'));
    } else {
        // The type is a DWORD: one past 7fffffff is written as the file has it, not negative.
        r += v.tipo == REG_BINARY ? QStringLiteral("hex:") : QStringLiteral("hex(%1):").arg(static_cast<uint>(v.tipo), 0, 16);
        lineaHex(r, r.size() - inicio, v.datos);
    }
    r += u'\n';
}

// A line's value data; `ansi`: binary texts of a REGEDIT4 file are 8-bit.
void leeDato(const Lector& lector, qsizetype numero, QStringView dato, bool ansi, ValorRegistro* v)
{
    if (dato.startsWith(u'"')) {
        qsizetype j = 0;
        QString texto;
        if (!leeComillas(dato, j, &texto) || j != dato.size())
            lector.falla(numero, QStringLiteral("texto mal cerrado"));
        *v = ValorRegistro::deTexto(std::move(v->nombre), texto);
    } else if (dato.startsWith(u"dword:", Qt::CaseInsensitive)) {
        bool ok = false;
        const QStringView cifras = dato.mid(6);
        const uint n = cifras.toUInt(&ok, 16);
        if (!ok || cifras.isEmpty() || cifras.size() > 8)
            lector.falla(numero, QStringLiteral("dword mal escrito"));
        v->tipo = REG_DWORD;
        for (int b = 0; b < 4; ++b)
            v->datos.append(static_cast<char>((n >> (8 * b)) & 0xFF));
    } else if (dato.startsWith(u"hex", Qt::CaseInsensitive)) {
        const qsizetype dosPuntos = dato.indexOf(u':');
        if (dosPuntos < 0)
            lector.falla(numero, QStringLiteral("falta \":\" tras hex"));
        const QStringView tipo = dato.mid(3, dosPuntos - 3);
        v->tipo = REG_BINARY;
        if (!tipo.isEmpty()) {
            bool ok = false;
            v->tipo = static_cast<int>(tipo.mid(1, tipo.size() - 2).toUInt(&ok, 16));
            if (!ok || !tipo.startsWith(u'(') || !tipo.endsWith(u')'))
                lector.falla(numero, QStringLiteral("tipo hex mal escrito"));
        }
        if (!leeHex(dato.mid(dosPuntos + 1), &v->datos))
            lector.falla(numero, QStringLiteral("byte hexadecimal mal escrito"));
        if (ansi && (v->esTexto() || v->tipo == REG_MULTI_SZ))
            v->datos = enUtf16(ansi::aTexto(v->datos));
    } else {
        lector.falla(numero, QStringLiteral("dato de valor desconocido"));
    }
}

}

std::size_t HashNombre::operator()(const QString& s) const noexcept
{
    return qHash(s);
}

ValorRegistro ValorRegistro::deTexto(QString nombre, QStringView texto)
{
    QByteArray datos(texto.size() * 2 + 2, '\0');
    if (!texto.isEmpty())
        std::memcpy(datos.data(), texto.utf16(), static_cast<std::size_t>(texto.size()) * 2);
    return {std::move(nombre), REG_SZ, std::move(datos)};
}

QString ValorRegistro::texto() const
{
    QString t;
    t.reserve(datos.size() / 2);
    for (qsizetype i = 0; i + 1 < datos.size(); i += 2) {
        const char16_t u = static_cast<unsigned char>(datos[i]) | static_cast<unsigned char>(datos[i + 1]) << 8;
        if (u == 0)
            break;
        t.append(QChar(u));
    }
    return t;
}

ClaveRegistro::~ClaveRegistro()
{
    std::vector<std::unique_ptr<ClaveRegistro>> pendientes;
    const auto suelta = [&](ClaveRegistro& c) {
        for (auto& [nombre, hija] : c.hijas_)
            pendientes.push_back(std::move(hija));
        c.hijas_.clear();
    };
    suelta(*this);
    while (!pendientes.empty()) {
        std::unique_ptr<ClaveRegistro> c = std::move(pendientes.back());
        pendientes.pop_back();
        suelta(*c);
    }
}

QString ClaveRegistro::ruta() const
{
    QStringList partes;
    for (const ClaveRegistro* c = this; c && c->padre_; c = c->padre_)
        partes.prepend(c->nombre_);
    return partes.join(u'\\');
}

const ValorRegistro* ClaveRegistro::valor(const QString& nombre) const
{
    const auto it = indice_.find(plegado(nombre));
    return it == indice_.end() ? nullptr : &*valores_[it->second];
}

bool ClaveRegistro::pon(ValorRegistro v)
{
    const auto [it, nuevo] = indice_.try_emplace(plegado(v.nombre), valores_.size());
    if (nuevo) {
        valores_.emplace_back(std::move(v));
        return true;
    }
    // The name keeps the case it was first written with.
    ValorRegistro& actual = *valores_[it->second];
    if (actual.tipo == v.tipo && actual.datos == v.datos)
        return false;
    actual.tipo = v.tipo;
    actual.datos = std::move(v.datos);
    return true;
}

bool ClaveRegistro::quita(const QString& nombre)
{
    const auto it = indice_.find(plegado(nombre));
    if (it == indice_.end())
        return false;
    valores_[it->second].reset();
    indice_.erase(it);
    // Holes are closed once they outnumber the values.
    if (valores_.size() > 2 * indice_.size() + 16) {
        std::erase_if(valores_, [](const auto& v) { return !v; });
        for (std::size_t i = 0; i < valores_.size(); ++i)
            indice_[plegado(valores_[i]->nombre)] = i;
    }
    return true;
}

QList<ValorRegistro> ClaveRegistro::valores() const
{
    QList<ValorRegistro> r;
    r.reserve(numValores());
    for (const auto& v : valores_)
        if (v)
            r.append(*v);
    return r;
}

ClaveRegistro* ArchivoRegistro::busca(const QString& ruta)
{
    ClaveRegistro* c = raiz_.get();
    for (const QStringView parte : QStringView(ruta).tokenize(u'\\')) {
        const auto it = c->hijas_.find(plegado(parte));
        if (it == c->hijas_.end())
            return nullptr;
        c = it->second.get();
    }
    return c != raiz_.get() && c->listada_ ? c : nullptr;
}

const ClaveRegistro* ArchivoRegistro::busca(const QString& ruta) const
{
    return const_cast<ArchivoRegistro*>(this)->busca(ruta);
}

ClaveRegistro* ArchivoRegistro::crea(const QString& ruta, bool* creada)
{
    if (creada)
        *creada = false;
    const QStringList partes = ruta.split(u'\\', Qt::SkipEmptyParts);
    ClaveRegistro* c = raiz_.get();
    for (const QString& parte : partes) {
        const bool raiz = c == raiz_.get();
        auto& hija = c->hijas_[plegado(parte)];
        if (!hija) {
            hija = std::make_unique<ClaveRegistro>(parte, c);
            ++creadas_;
        }
        c = hija.get();
        // A root is listed only when it holds values itself, as in the editor's exports.
        if ((!raiz || partes.size() == 1) && !c->listada_) {
            c->listada_ = true;
            if (creada)
                *creada = true;
        }
    }
    return c == raiz_.get() ? nullptr : c;
}

bool ArchivoRegistro::borra(const QString& ruta)
{
    ClaveRegistro* padre = raiz_.get();
    const QList<QStringView> partes = QStringView(ruta).split(u'\\');
    for (qsizetype i = 0; i + 1 < partes.size(); ++i) {
        const auto it = padre->hijas_.find(plegado(partes[i]));
        if (it == padre->hijas_.end())
            return false;
        padre = it->second.get();
    }
    const auto it = padre->hijas_.find(plegado(partes.last()));
    if (it == padre->hijas_.end())
        return false;
    std::vector<const ClaveRegistro*> pendientes{it->second.get()};
    bool listada = false;
    while (!pendientes.empty() && !listada) {
        const ClaveRegistro* c = pendientes.back();
        pendientes.pop_back();
        listada = c->listada_;
        for (const auto& [nombre, hija] : c->hijas_)
            pendientes.push_back(hija.get());
    }
    padre->hijas_.erase(it);
    return listada;
}

QList<const ClaveRegistro*> ArchivoRegistro::claves() const
{
    QList<const ClaveRegistro*> r;
    std::vector<const ClaveRegistro*> pendientes{raiz_.get()};
    while (!pendientes.empty()) {
        const ClaveRegistro* c = pendientes.back();
        pendientes.pop_back();
        if (c->listada_)
            r.append(c);
        // Siblings sort without regard to case; the stack takes them last first.
        std::vector<const ClaveRegistro*> hijas;
        for (const auto& [plegada, hija] : c->hijas_)
            hijas.push_back(hija.get());
        std::sort(hijas.begin(), hijas.end(), [](const ClaveRegistro* a, const ClaveRegistro* b) {
            return a->nombre_.compare(b->nombre_, Qt::CaseInsensitive) > 0;
        });
        pendientes.insert(pendientes.end(), hijas.begin(), hijas.end());
    }
    return r;
}

ArchivoRegistro ArchivoRegistro::lee(const QByteArray& bytes, const QString& fichero)
{
    ArchivoRegistro archivo;
    if (bytes.isEmpty())
        return archivo;
    const Lector lector(fichero);
    bool ansi = false;
    const QString texto = lector.texto(bytes, &ansi);
    Lineas lineas(texto, !ansi && !bytes.startsWith("\xFF\xFE"));
    const QStringView cabecera = lineas.siguiente().trimmed();
    if (cabecera != kCabecera5 && cabecera != kCabecera4)
        lector.falla(1, QStringLiteral("falta la cabecera \"%1\"").arg(kCabecera5));

    ClaveRegistro* actual = nullptr;
    bool dentro = false, borrada = false;
    qsizetype valores = 0;
    QString linea;
    while (lineas.quedan()) {
        const qsizetype numero = lineas.numero() + 1;
        QStringView t = lineas.siguiente().trimmed();
        // Long binary values go on over lines that end in a backslash; comments and key
        // names never do.
        const auto sigue = [&](QStringView l) {
            return l.endsWith(u'\\') && !l.startsWith(u'[') && !l.startsWith(u';') && lineas.quedan();
        };
        if (sigue(t)) {
            linea = t.toString();
            while (sigue(linea)) {
                linea.chop(1);
                linea += lineas.siguiente().trimmed();
                while (!linea.isEmpty() && linea.back().isSpace())
                    linea.chop(1);
            }
            t = linea;
        }
        if (t.isEmpty() || t.startsWith(u';'))
            continue;
        if (t.startsWith(u'[')) {
            if (!t.endsWith(u']') || t.size() < 3)
                lector.falla(numero, QStringLiteral("clave mal cerrada"));
            const QString ruta = t.mid(1, t.size() - 2).toString();
            if (ruta.count(u'\\') >= kNivelesMaximos)
                lector.falla(numero, QStringLiteral("más de %1 niveles de claves").arg(kNivelesMaximos));
            dentro = true;
            borrada = ruta.startsWith(u'-');
            if (borrada) {
                archivo.borra(ruta.mid(1));
                continue;
            }
            if (ruta.startsWith(u'\\') || ruta.endsWith(u'\\') || ruta.contains(QStringLiteral("\\\\")))
                lector.falla(numero, QStringLiteral("nombre de clave no válido"));
            actual = archivo.crea(ruta);
            if (archivo.creadas_ > kClavesMaximas)
                lector.falla(numero, QStringLiteral("más de %1 claves").arg(kClavesMaximas));
            continue;
        }
        if (!dentro)
            lector.falla(numero, QStringLiteral("un valor fuera de toda clave"));
        qsizetype i = 0;
        ValorRegistro v;
        if (t.startsWith(u'@'))
            i = 1;
        else if (!t.startsWith(u'"') || !leeComillas(t, i, &v.nombre))
            lector.falla(numero, QStringLiteral("nombre de valor mal escrito"));
        while (i < t.size() && t[i].isSpace())
            ++i;
        if (i >= t.size() || t[i] != u'=')
            lector.falla(numero, QStringLiteral("falta \"=\""));
        const QStringView dato = t.mid(i + 1).trimmed();
        if (borrada)
            continue;
        if (dato == u"-") {
            actual->quita(v.nombre);
            continue;
        }
        leeDato(lector, numero, dato, ansi, &v);
        const qsizetype antes = actual->numValores();
        actual->pon(std::move(v));
        valores += actual->numValores() - antes;
        if (valores > kValoresMaximos)
            lector.falla(numero, QStringLiteral("más de %1 valores").arg(kValoresMaximos));
    }
    return archivo;
}

QByteArray ArchivoRegistro::escribe(qsizetype tope) const
{
    QString r = kCabecera5 + QStringLiteral("\n\n");
    // Characters are never more than their UTF-8 bytes.
    const auto pasado = [&] { return r.size() > tope; };
    for (const ClaveRegistro* c : claves()) {
        r += u'[' + c->ruta() + QStringLiteral("]\n");
        for (const auto& v : c->valores_) {
            if (pasado())
                return {};
            if (v)
                escribeValor(r, *v);
        }
        r += u'\n';
        if (pasado())
            return {};
    }
    QByteArray bytes = r.toUtf8();
    return bytes.size() > tope ? QByteArray() : bytes;
}

}
