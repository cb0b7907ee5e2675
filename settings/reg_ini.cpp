#include "reg_ini.h"

#include "ansi.h"
#include "error_almacen.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

#include <optional>

namespace pirel {
namespace {

const QString kRaiz = QStringLiteral("HKEY_CURRENT_USER");
const QString kRun = QStringLiteral("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run");
const QString kEntrada = QStringLiteral("Ludaren Electronico");

QString une(const QString& a, const QString& b)
{
    if (b.isEmpty())
        return a;
    return a + u'\\' + b;
}

}

TRegIniFile::TRegIniFile(Transaccion& transaccion, const QString& ruta)
    : transaccion_(transaccion)
    , base_(une(kRaiz, ruta))
{
    bool creada = false;
    transaccion_.archivo().crea(base_, &creada);
    if (creada)
        transaccion_.cambia();
}

QString TRegIniFile::seccion(const QString& Section) const
{
    return une(base_, Section);
}

QByteArray TRegIniFile::ReadString(const QString& Section, const QString& Ident, const QByteArray& Default) const
{
    const ClaveRegistro* clave = transaccion_.archivo().busca(seccion(Section));
    const ValorRegistro* v = clave ? clave->valor(Ident) : nullptr;
    if (!v)
        return Default;
    if (!v->esTexto())
        throw ErrorAlmacen(QStringLiteral("Invalid data type for '%1'").arg(Ident));
    return ansi::deTexto(v->texto());
}

void TRegIniFile::WriteString(const QString& Section, const QString& Ident, const QByteArray& Value)
{
    bool nueva = false;
    ClaveRegistro* clave = transaccion_.archivo().crea(seccion(Section), &nueva);
    if (clave->pon(ValorRegistro::deTexto(Ident, ansi::aTexto(Value))) || nueva)
        transaccion_.cambia(nueva ? QStringLiteral("Failed to create key %1").arg(Section)
                                  : QStringLiteral("Failed to set data for '%1'").arg(Ident));
}

void TRegIniFile::DeleteKey(const QString&, const QString& Ident)
{
    ClaveRegistro* clave = transaccion_.archivo().busca(base_);
    if (clave && clave->quita(Ident))
        transaccion_.cambia();
}

void TRegIniFile::EraseSection(const QString& Section)
{
    if (transaccion_.archivo().borra(seccion(Section)))
        transaccion_.cambia();
}

QString TRegMaquina::rutaAutoarranque()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/autostart/ludaren-electronico.desktop");
}

TRegMaquina::TRegMaquina(const QString& ruta, QString autoarranque)
    : ruta_(ruta)
    , fichero_(std::move(autoarranque))
{
}

bool TRegMaquina::esLaEntrada(const QString& clave, const QString& ident) const
{
    return clave.compare(kRun, Qt::CaseInsensitive) == 0 && ident.compare(kEntrada, Qt::CaseInsensitive) == 0;
}

QString TRegMaquina::ReadString(const QString& Section, const QString& Ident, const QString& Default) const
{
    QByteArray datos;
    if (!esLaEntrada(une(ruta_, Section), Ident) || LeeFicheroNormal(fichero_, 1 << 16, &datos) != Lectura::Leida)
        return Default;
    bool enGrupo = false;
    std::optional<QString> programa;
    for (const QByteArray& bruta : datos.split('\n')) {
        const QString linea = QString::fromUtf8(bruta).trimmed();
        const qsizetype igual = linea.indexOf(u'=');
        if (linea.startsWith(u'[')) {
            enGrupo = linea == u"[Desktop Entry]";
        } else if (enGrupo && igual > 0) {
            const QString clave = linea.left(igual).trimmed(), valor = linea.mid(igual + 1).trimmed();
            if (clave == u"Exec" && !programa)
                programa = SinComillasExec(valor);
            // The desktop's own ways of switching an entry off.
            if ((clave == u"Hidden" && valor == u"true") || (clave == u"X-GNOME-Autostart-enabled" && valor == u"false"))
                return Default;
        }
    }
    return programa.value_or(Default);
}

namespace {

// A string value of a desktop entry with the file's escapes.
QString EscapaCadena(const QString& texto)
{
    QString r;
    for (qsizetype i = 0; i < texto.size(); ++i) {
        const QChar c = texto.at(i);
        if (c == u'\\')
            r += QStringLiteral("\\\\");
        else if (c == u'\n')
            r += QStringLiteral("\\n");
        else if (c == u'\t')
            r += QStringLiteral("\\t");
        else if (c == u'\r')
            r += QStringLiteral("\\r");
        else if (c == u' ' && i == 0)
            r += QStringLiteral("\\s");
        else
            r += c;
    }
    return r;
}

}

void TRegMaquina::WriteString(const QString& Section, const QString& Ident, const QString& Value)
{
    if (!esLaEntrada(une(ruta_, Section), Ident))
        return;
    const QString entrada = QStringLiteral("[Desktop Entry]\n"
                                           "Type=Application\n"
                                           "Name=Ludaren Electrónico\n"
                                           "Comment=Avisa cuando llega correo nuevo\n"
                                           "Exec=%1\n"
                                           // A program removed since (an uninstalled package)
                                           // makes the desktop skip the entry instead of failing.
                                           "TryExec=%2\n"
                                           "Icon=ludaren-electronico\n"
                                           "Terminal=false\n"
                                           "X-GNOME-Autostart-enabled=true\n")
                                .arg(ComillasExec(Value), EscapaCadena(Value));
    try {
        if (!QDir().mkpath(QFileInfo(fichero_).absolutePath()))
            throw ErrorEscritura(QString());
        EscribeAtomico(fichero_, entrada.toUtf8());
    } catch (const ErrorEscritura&) {
        throw ErrorAlmacen(QStringLiteral("Failed to create key %1").arg(Section));
    }
}

void TRegMaquina::DeleteKey(const QString&, const QString& Ident)
{
    if (esLaEntrada(ruta_, Ident))
        ::unlink(QFile::encodeName(fichero_).constData());
}

QString ComillasExec(const QString& programa)
{
    QString r = QStringLiteral("\"");
    const QString sinCodigos = QString(programa).replace(u'%', QStringLiteral("%%"));
    for (const QChar c : sinCodigos) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            r += u'\\';
        r += c;
    }
    r += u'"';
    // The string escapes of the file come on top of the quoting.
    return EscapaCadena(r);
}

QString SinComillasExec(const QString& exec)
{
    QString s;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar n = i + 1 < exec.size() ? exec[i + 1] : QChar();
        if (exec[i] == u'\\' && QStringView(u"\\ntrs").contains(n)) {
            s += n == u'n' ? QChar(u'\n') : n == u't' ? QChar(u'\t') : n == u'r' ? QChar(u'\r') : n == u's' ? QChar(u' ') : n;
            ++i;
        } else {
            s += exec[i];
        }
    }
    QString programa;
    if (s.startsWith(u'"')) {
        for (qsizetype i = 1; i < s.size() && s[i] != u'"'; ++i) {
            if (s[i] == u'\\' && i + 1 < s.size())
                ++i;
            programa += s[i];
        }
    } else {
        programa = s.section(u' ', 0, 0);
    }
    return programa.replace(QStringLiteral("%%"), QStringLiteral("%"));
}

}
