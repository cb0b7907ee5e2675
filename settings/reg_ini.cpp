#include "reg_ini.h"

#include "ansi.h"
#include "error_almacen.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

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

TRegIniFile::TRegIniFile(Registro& registro, const QString& ruta)
    : registro_(registro)
    , base_(une(kRaiz, ruta))
{
    // Most opens find the key already there: no lock and no write for them.
    if (registro_.lee().busca(base_))
        return;
    try {
        registro_.modifica([&](ArchivoRegistro& a) { return a.crea(base_); });
    } catch (const ErrorEscritura&) {
        base_ = kRaiz;
    }
}

QString TRegIniFile::seccion(const QString& Section) const
{
    return une(base_, Section);
}

QByteArray TRegIniFile::ReadString(const QString& Section, const QString& Ident, const QByteArray& Default)
{
    ArchivoRegistro archivo = registro_.lee();
    ClaveRegistro* clave = archivo.busca(seccion(Section));
    const ValorRegistro* v = clave ? clave->valor(Ident) : nullptr;
    if (!v)
        return Default;
    if (v->tipo != REG_SZ && v->tipo != REG_EXPAND_SZ)
        throw ErrorAlmacen(QStringLiteral("Invalid data type for '%1'").arg(Ident));
    return v->datos;
}

void TRegIniFile::WriteString(const QString& Section, const QString& Ident, const QByteArray& Value)
{
    bool nueva = false;
    try {
        registro_.modifica([&](ArchivoRegistro& a) {
            nueva = a.crea(seccion(Section));
            a.busca(seccion(Section))->pon({Ident, REG_SZ, Value});
            return true;
        });
    } catch (const ErrorEscritura&) {
        if (nueva)
            throw ErrorAlmacen(QStringLiteral("Failed to create key %1").arg(Section));
        throw ErrorAlmacen(QStringLiteral("Failed to set data for '%1'").arg(Ident));
    }
}

void TRegIniFile::DeleteKey(const QString&, const QString& Ident)
{
    try {
        registro_.modifica([&](ArchivoRegistro& a) {
            ClaveRegistro* clave = a.busca(base_);
            return clave && clave->quita(Ident);
        });
    } catch (const ErrorEscritura&) {
        // As the registry's own delete: a failure returns quietly.
    }
}

void TRegIniFile::EraseSection(const QString& Section)
{
    try {
        registro_.modifica([&](ArchivoRegistro& a) { return a.borra(seccion(Section)); });
    } catch (const ErrorEscritura&) {
    }
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

QByteArray TRegMaquina::ReadString(const QString& Section, const QString& Ident, const QByteArray& Default) const
{
    QFile f(fichero_);
    if (!esLaEntrada(une(ruta_, Section), Ident) || !f.open(QIODevice::ReadOnly))
        return Default;
    bool enGrupo = false;
    for (const QByteArray& bruta : f.read(1 << 16).split('\n')) {
        const QString linea = QString::fromUtf8(bruta).trimmed();
        if (linea.startsWith(u'['))
            enGrupo = linea == u"[Desktop Entry]";
        else if (enGrupo && linea.startsWith(u"Exec="))
            return ansi::deTexto(SinComillasExec(linea.mid(5)));
    }
    return Default;
}

void TRegMaquina::WriteString(const QString& Section, const QString& Ident, const QByteArray& Value)
{
    if (!esLaEntrada(une(ruta_, Section), Ident))
        return;
    const QString entrada = QStringLiteral("[Desktop Entry]\n"
                                           "Type=Application\n"
                                           "Name=Ludaren Electrónico\n"
                                           "Comment=Avisa cuando llega correo nuevo\n"
                                           "Exec=%1\n"
                                           "Icon=ludaren-electronico\n"
                                           "Terminal=false\n"
                                           "X-GNOME-Autostart-enabled=true\n")
                                .arg(ComillasExec(ansi::aTexto(Value)));
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
    QString escapada;
    for (const QChar c : r) {
        if (c == u'\\')
            escapada += QStringLiteral("\\\\");
        else if (c == u'\n')
            escapada += QStringLiteral("\\n");
        else if (c == u'\t')
            escapada += QStringLiteral("\\t");
        else if (c == u'\r')
            escapada += QStringLiteral("\\r");
        else
            escapada += c;
    }
    return escapada;
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
