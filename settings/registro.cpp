#include "registro.h"

#include "ansi.h"
#include "error_almacen.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pirel {
namespace {

// Larger than any settings file; a bigger one is not read into memory.
constexpr qint64 kTamanoMaximo = 16 << 20;

QString textoErrno(int e) { return QString::fromLocal8Bit(std::strerror(e)); }

// A descriptor closed when it goes out of scope.
struct Descriptor {
    int fd = -1;
    explicit Descriptor(int f) : fd(f) {}
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
};

QByteArray leeFichero(const QString& fichero)
{
    const QByteArray ruta = QFile::encodeName(fichero);
    Descriptor f(::open(ruta.constData(), O_RDONLY | O_CLOEXEC));
    if (f.fd < 0) {
        if (errno == ENOENT)
            return {};
        throw ErrorAlmacen(QStringLiteral("No se puede leer el fichero de configuración %1: %2")
                               .arg(fichero, textoErrno(errno)));
    }
    struct stat info {};
    if (::fstat(f.fd, &info) != 0 || !S_ISREG(info.st_mode))
        throw ErrorAlmacen(QStringLiteral("El fichero de configuración %1 no es un fichero normal").arg(fichero));
    if (info.st_size > kTamanoMaximo)
        throw ErrorAlmacen(QStringLiteral("El fichero de configuración %1 es demasiado grande").arg(fichero));
    QByteArray datos;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(f.fd, buf, sizeof buf);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw ErrorAlmacen(QStringLiteral("No se puede leer el fichero de configuración %1: %2")
                                   .arg(fichero, textoErrno(errno)));
        }
        datos.append(buf, n);
        if (datos.size() > kTamanoMaximo)
            throw ErrorAlmacen(QStringLiteral("El fichero de configuración %1 es demasiado grande").arg(fichero));
    }
    return datos;
}

void escribeTodo(int fd, const QByteArray& datos)
{
    qsizetype hecho = 0;
    while (hecho < datos.size()) {
        const ssize_t n = ::write(fd, datos.constData() + hecho, static_cast<size_t>(datos.size() - hecho));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw ErrorEscritura(textoErrno(n < 0 ? errno : ENOSPC));
        hecho += n;
    }
}

}

// Temporary file (mode 0600 from the start), fsync, rename over the old one, fsync the
// folder: a crash at any moment leaves either the old file or the new one.
void EscribeAtomico(const QString& fichero, const QByteArray& datos)
{
    const QString carpeta = QFileInfo(fichero).absolutePath();
    QByteArray plantilla = QFile::encodeName(fichero) + ".XXXXXX";
    Descriptor tmp(::mkostemp(plantilla.data(), O_CLOEXEC));
    if (tmp.fd < 0)
        throw ErrorEscritura(textoErrno(errno));
    try {
        escribeTodo(tmp.fd, datos);
        if (::fsync(tmp.fd) != 0)
            throw ErrorEscritura(textoErrno(errno));
        if (::rename(plantilla.constData(), QFile::encodeName(fichero).constData()) != 0)
            throw ErrorEscritura(textoErrno(errno));
    } catch (...) {
        ::unlink(plantilla.constData());
        throw;
    }
    Descriptor dir(::open(QFile::encodeName(carpeta).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.fd >= 0)
        ::fsync(dir.fd);
}

QString Registro::rutaPorDefecto()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/Ludaren/registro.reg");
}

Registro::Registro(QString fichero)
    : fichero_(std::move(fichero))
{
}

ArchivoRegistro Registro::lee() const
{
    QByteArray datos = leeFichero(fichero_);
    if (datos.isEmpty() || datos != leidos_) {
        analizado_ = ArchivoRegistro::lee(datos, fichero_);
        leidos_ = std::move(datos);
    }
    return analizado_;
}

void Registro::modifica(const std::function<bool(ArchivoRegistro&)>& cambio)
{
    const QString carpeta = QFileInfo(fichero_).absolutePath();
    if (!QDir().mkpath(carpeta))
        throw ErrorEscritura(QStringLiteral("no se puede crear la carpeta %1").arg(carpeta));
    ::chmod(QFile::encodeName(carpeta).constData(), 0700);
    // Another running copy of the program waits here instead of interleaving its writes.
    Descriptor cerrojo(::open(QFile::encodeName(fichero_ + QStringLiteral(".lock")).constData(),
                              O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (cerrojo.fd < 0)
        throw ErrorEscritura(textoErrno(errno));
    while (::flock(cerrojo.fd, LOCK_EX) != 0) {
        if (errno != EINTR)
            throw ErrorEscritura(textoErrno(errno));
    }
    ArchivoRegistro archivo = lee();
    if (cambio(archivo))
        EscribeAtomico(fichero_, archivo.escribe());
}

int AEntero(const QByteArray& texto)
{
    bool ok = !texto.isEmpty();
    qint64 valor = 0;
    qsizetype i = (ok && (texto[0] == '-' || texto[0] == '+')) ? 1 : 0;
    ok = ok && i < texto.size();
    for (; ok && i < texto.size(); ++i) {
        ok = texto[i] >= '0' && texto[i] <= '9';
        valor = valor * 10 + (texto[i] - '0');
        ok = ok && valor <= (qint64(1) << 31);
    }
    if (ok && texto[0] == '-')
        valor = -valor;
    if (!ok || valor > 2147483647 || valor < -2147483648LL)
        throw ErrorAlmacen(QStringLiteral("'%1' is not a valid integer value").arg(ansi::aTexto(texto)));
    return static_cast<int>(valor);
}

}
