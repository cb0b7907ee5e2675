#include "recuerdo.h"

#include "lectura.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

namespace pirel {
namespace {

// The first line names the format and carries the SHA-256 of everything after it, so a
// file cut short or changed by anything else is not read at all.
constexpr char kCabecera[] = "Ludaren cabeceras 1 ";
// A header value is read up to 126 characters; nothing longer was written here.
constexpr qsizetype kParteMax = 126;
constexpr qsizetype kIdMax = 70;

bool idValido(const QByteArray& id)
{
    return !id.isEmpty() && id.size() <= kIdMax
        && std::all_of(id.begin(), id.end(), [](char c) { return c >= '!' && c <= '~'; });
}

bool identidadValida(const QByteArray& identidad)
{
    return !identidad.isEmpty() && identidad.size() <= 3 * (TBuzon::kHost + TBuzon::kUsuario + 32) + 8
        && std::all_of(identidad.begin(), identidad.end(), [](char c) { return c >= ' ' && c <= '~'; });
}

// Whatever the file says, a part is a short line of plain text.
QString parte(const QByteArray& bytes)
{
    return CortaCaracteres(Legible(QString::fromUtf8(bytes)), kParteMax);
}

}

QByteArray RecuerdoCabeceras::Identidad(const QByteArray& host, const QByteArray& puerto, const QByteArray& usuario,
                                        Seguridad seguridad)
{
    return host.toPercentEncoding() + ' ' + puerto.toPercentEncoding() + ' ' + usuario.toPercentEncoding() + ' '
        + QByteArray::number(static_cast<int>(seguridad));
}

QString RecuerdoCabeceras::FicheroPorDefecto()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
        + QStringLiteral("/Ludaren/cabeceras");
}

void RecuerdoCabeceras::pon(const QByteArray& identidad, const CabecerasBuzon& cabeceras)
{
    if (cabeceras.isEmpty())
        buzones_.remove(identidad);
    else
        buzones_.insert(identidad, cabeceras);
}

void RecuerdoCabeceras::conservaSolo(const QSet<QByteArray>& identidades)
{
    buzones_.removeIf([&](const auto& par) { return !identidades.contains(par.key()); });
}

QByteArray RecuerdoCabeceras::texto() const
{
    QByteArray cuerpo;
    for (auto b = buzones_.constBegin(); b != buzones_.constEnd(); ++b) {
        cuerpo += "B\t" + b.key() + '\n';
        for (auto m = b->constBegin(); m != b->constEnd(); ++m)
            cuerpo += "M\t" + m.key() + '\t' + m->asunto.toUtf8() + '\t' + m->remitente.toUtf8() + '\n';
    }
    return kCabecera + QCryptographicHash::hash(cuerpo, QCryptographicHash::Sha256).toHex() + '\n' + cuerpo;
}

bool RecuerdoCabeceras::leeTexto(const QByteArray& texto)
{
    buzones_.clear();
    const qsizetype salto = texto.indexOf('\n');
    if (salto < 0 || !texto.startsWith(kCabecera))
        return false;
    const QByteArray cuerpo = texto.mid(salto + 1);
    if (texto.mid(sizeof kCabecera - 1, salto - (sizeof kCabecera - 1))
        != QCryptographicHash::hash(cuerpo, QCryptographicHash::Sha256).toHex())
        return false;
    // Every line ends in a line end; an empty body holds no mailbox.
    if (!cuerpo.isEmpty() && !cuerpo.endsWith('\n'))
        return false;
    QHash<QByteArray, CabecerasBuzon> leidos;
    // A QHash moves its values as it grows: the mailbox is held by its key.
    QByteArray actual;
    for (const QByteArray& linea : cuerpo.chopped(cuerpo.isEmpty() ? 0 : 1).split('\n')) {
        if (cuerpo.isEmpty())
            break;
        const QList<QByteArray> campos = linea.split('\t');
        if (campos.size() == 2 && campos[0] == "B" && identidadValida(campos[1]) && !leidos.contains(campos[1])
            && leidos.size() < kMaxBuzones) {
            actual = campos[1];
            leidos.insert(actual, {});
        } else if (campos.size() == 4 && campos[0] == "M" && !actual.isEmpty() && idValido(campos[1])
                   && leidos[actual].size() < kMaxCabeceras) {
            leidos[actual].insert(campos[1], {parte(campos[2]), parte(campos[3])});
        } else {
            return false;
        }
    }
    buzones_ = std::move(leidos);
    return true;
}

bool RecuerdoCabeceras::carga(const QString& fichero)
{
    buzones_.clear();
    const QFileInfo info(fichero);
    // Only a regular file is opened: a pipe put in its place would keep the check waiting.
    if (!info.isFile() || info.size() > kFicheroMax)
        return false;
    QFile f(fichero);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    return leeTexto(f.read(kFicheroMax + 1));
}

bool RecuerdoCabeceras::guarda(const QString& fichero) const
{
    const QByteArray datos = texto();
    if (datos.size() > kFicheroMax)
        return false;
    const QString carpeta = QFileInfo(fichero).absolutePath();
    if (!QFileInfo::exists(carpeta)) {
        if (!QDir().mkpath(carpeta))
            return false;
        QFile::setPermissions(carpeta, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    QSaveFile f(fichero);
    if (!f.open(QIODevice::WriteOnly) || !f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return false;
    if (f.write(datos) != datos.size())
        return false;
    return f.commit();
}

}
