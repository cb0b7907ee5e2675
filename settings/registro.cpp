#include "registro.h"

#include "ansi.h"
#include "error_almacen.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace pirel {
namespace {

// Larger than any settings file; a bigger one is not read into memory.
constexpr qint64 kTamanoMaximo = 16 << 20;
// A write holds the lock for milliseconds; a copy holding it this long is stuck.
constexpr int kEsperaCerrojoMs = 10000;

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

QByteArray leeBytes(const QString& fichero)
{
    QByteArray datos;
    int error = 0;
    switch (LeeFicheroNormal(fichero, kTamanoMaximo, &datos, &error)) {
    case Lectura::Leida:
    case Lectura::NoExiste:
        return datos;
    case Lectura::NoNormal:
        throw ErrorAlmacen(QStringLiteral("El fichero de configuración %1 no es un fichero normal").arg(fichero));
    case Lectura::Grande:
        throw ErrorAlmacen(QStringLiteral("El fichero de configuración %1 es demasiado grande").arg(fichero));
    case Lectura::Fallida:
        break;
    }
    throw ErrorAlmacen(QStringLiteral("No se puede leer el fichero de configuración %1: %2").arg(fichero, textoErrno(error)));
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

// The file a chain of links ends at, which need not exist yet.
QByteArray destinoDeEnlaces(QByteArray ruta)
{
    for (int saltos = 0; saltos < 40; ++saltos) {
        char objetivo[PATH_MAX];
        const ssize_t n = ::readlink(ruta.constData(), objetivo, sizeof objetivo);
        if (n < 0)
            return ruta;
        if (n == sizeof objetivo)
            throw ErrorEscritura(textoErrno(ENAMETOOLONG));
        QByteArray siguiente(objetivo, n);
        const qsizetype barra = ruta.lastIndexOf('/');
        if (!siguiente.startsWith('/') && barra >= 0)
            siguiente.prepend(ruta.left(barra + 1));
        ruta = siguiente;
    }
    throw ErrorEscritura(textoErrno(ELOOP));
}

// Creates the folders missing on the way to `carpeta`, readable by their owner only.
// Folders that are already there, or links to them, keep their mode.
bool preparaCarpeta(const QString& carpeta, QString* error)
{
    QStringList faltan;
    struct stat info {};
    for (QString c = QDir::cleanPath(QFileInfo(carpeta).absoluteFilePath());
         c.size() > 1 && ::stat(QFile::encodeName(c).constData(), &info) != 0; c = QFileInfo(c).path())
        faltan.prepend(c);
    for (const QString& c : faltan) {
        const QByteArray ruta = QFile::encodeName(c);
        if (::mkdir(ruta.constData(), 0700) == 0) {
            ::chmod(ruta.constData(), 0700);
        } else if (errno != EEXIST) {
            *error = QStringLiteral("no se puede crear la carpeta %1: %2").arg(c, textoErrno(errno));
            return false;
        }
    }
    return true;
}

}

Lectura LeeFicheroNormal(const QString& fichero, qint64 maximo, QByteArray* datos, int* error)
{
    const auto falla = [&](int e) {
        if (error)
            *error = e;
        return e == ENOENT ? Lectura::NoExiste : Lectura::Fallida;
    };
    datos->clear();
    const QByteArray ruta = QFile::encodeName(fichero);
    // Looked at before it is opened: opening a FIFO or a device can block or act.
    struct stat info {};
    if (::stat(ruta.constData(), &info) != 0)
        return falla(errno);
    if (!S_ISREG(info.st_mode))
        return Lectura::NoNormal;
    Descriptor f(::open(ruta.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (f.fd < 0)
        return falla(errno);
    if (::fstat(f.fd, &info) != 0)
        return falla(errno);
    if (!S_ISREG(info.st_mode))
        return Lectura::NoNormal;
    if (info.st_size > maximo)
        return Lectura::Grande;
    datos->reserve(info.st_size);
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(f.fd, buf, sizeof buf);
        if (n == 0)
            return Lectura::Leida;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return falla(errno);
        datos->append(buf, n);
        if (datos->size() > maximo)
            return Lectura::Grande;
    }
}

// Temporary file (mode 0600 from the start), fsync, rename over the old one, fsync the
// folder: a crash at any moment leaves either the old file or the new one.
void EscribeAtomico(const QString& fichero, const QByteArray& datos)
{
    const QByteArray destino = destinoDeEnlaces(QFile::encodeName(fichero));
    QByteArray plantilla = destino + ".XXXXXX";
    Descriptor tmp(::mkostemp(plantilla.data(), O_CLOEXEC));
    if (tmp.fd < 0)
        throw ErrorEscritura(textoErrno(errno));
    try {
        escribeTodo(tmp.fd, datos);
        if (::fsync(tmp.fd) != 0)
            throw ErrorEscritura(textoErrno(errno));
        if (::rename(plantilla.constData(), destino.constData()) != 0)
            throw ErrorEscritura(textoErrno(errno));
    } catch (...) {
        ::unlink(plantilla.constData());
        throw;
    }
    const qsizetype barra = destino.lastIndexOf('/');
    Descriptor dir(::open(barra > 0 ? destino.left(barra).constData() : barra == 0 ? "/" : ".",
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC));
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
    return ArchivoRegistro::lee(leeBytes(fichero_), fichero_);
}

Transaccion::Transaccion(Registro& registro)
    : registro_(registro)
{
    const QString& fichero = registro_.fichero_;
    if (preparaCarpeta(QFileInfo(fichero).absolutePath(), &sinCerrojo_)) {
        cerrojo_ = ::open(QFile::encodeName(fichero + QStringLiteral(".lock")).constData(),
                          O_RDWR | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
        if (cerrojo_ < 0)
            sinCerrojo_ = textoErrno(errno);
    }
    // Another running copy of the program waits here instead of interleaving its writes.
    for (int esperado = 0; cerrojo_ >= 0 && ::flock(cerrojo_, LOCK_EX | LOCK_NB) != 0; esperado += 10) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || esperado >= kEsperaCerrojoMs) {
            sinCerrojo_ = errno == EWOULDBLOCK ? QStringLiteral("otro programa tiene bloqueado %1").arg(fichero)
                                               : textoErrno(errno);
            ::close(std::exchange(cerrojo_, -1));
            break;
        }
        ::usleep(10000);
    }
    try {
        leidos_ = leeBytes(fichero);
        archivo_ = ArchivoRegistro::lee(leidos_, fichero);
    } catch (...) {
        if (cerrojo_ >= 0)
            ::close(cerrojo_);
        throw;
    }
}

Transaccion::~Transaccion()
{
    if (cerrojo_ >= 0)
        ::close(cerrojo_);
}

void Transaccion::cambia(const QString& fallo)
{
    cambiada_ = true;
    if (fallo_.isEmpty())
        fallo_ = fallo;
}

void Transaccion::confirma()
{
    if (!cambiada_)
        return;
    cambiada_ = false;
    const QString fallo = std::exchange(fallo_, QString());
    QByteArray nuevos = archivo_.escribe(kTamanoMaximo);
    // Changes that undo each other (a table erased and written again the same) leave
    // nothing to write.
    if (nuevos == leidos_)
        return;
    try {
        if (cerrojo_ < 0)
            throw ErrorEscritura(sinCerrojo_);
        // Never a file that the next start would refuse to read.
        if (nuevos.isEmpty())
            throw ErrorEscritura(QStringLiteral("el fichero de configuración sería demasiado grande"));
        EscribeAtomico(registro_.fichero_, nuevos);
        leidos_ = std::move(nuevos);
        ++registro_.reemplazos_;
    } catch (const ErrorEscritura&) {
        try {
            leidos_ = leeBytes(registro_.fichero_);
            archivo_ = ArchivoRegistro::lee(leidos_, registro_.fichero_);
        } catch (const ErrorAlmacen& e) {
            // Memory that no longer matches the disk is never written.
            archivo_ = ArchivoRegistro();
            if (cerrojo_ >= 0)
                ::close(std::exchange(cerrojo_, -1));
            sinCerrojo_ = e.texto();
            if (fallo.isEmpty())
                throw;
        }
        if (!fallo.isEmpty())
            throw ErrorAlmacen(fallo);
    }
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
