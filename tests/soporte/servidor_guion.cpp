#include "servidor_guion.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pirel::prueba {
namespace {

int abreEscucha(quint16* puerto)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int si = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &si, sizeof si);
    sockaddr_in dir{};
    dir.sin_family = AF_INET;
    dir.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&dir), sizeof dir);
    ::listen(fd, 16);
    socklen_t largo = sizeof dir;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&dir), &largo);
    *puerto = ntohs(dir.sin_port);
    return fd;
}

void envia(int fd, const QByteArray& datos)
{
    qsizetype hecho = 0;
    while (hecho < datos.size()) {
        const ssize_t n = ::send(fd, datos.constData() + hecho, static_cast<size_t>(datos.size() - hecho), MSG_NOSIGNAL);
        if (n <= 0)
            return;
        hecho += n;
    }
}

}

Guion Guion::entrada(const QByteArray& usuario, const QByteArray& clave, const QByteArray& saludo)
{
    Guion g;
    g.S(saludo).C("USER " + usuario).S("+OK\r\n").C("PASS " + clave).S("+OK dentro\r\n");
    return g;
}

Guion& Guion::top(int k, const QByteArray& asunto, const QByteArray& remitente, const QByteArray& despues)
{
    return C("TOP " + QByteArray::number(k) + " 1")
        .S("+OK\r\nReturn-Path: <x@y>\r\nSubject: " + asunto + "\r\nFrom: " + remitente
           + "\r\nTo: pepe@ejemplo.org\r\n\r\nPrimera linea\r\n.\r\n" + despues);
}

Guion& Guion::capa(const QList<QByteArray>& nombres)
{
    QByteArray r = "+OK Capacidades\r\n";
    for (const QByteArray& n : nombres)
        r += n + "\r\n";
    return C("CAPA").S(r + ".\r\n");
}

Guion& Guion::uidl(const QList<QByteArray>& ids)
{
    QByteArray r = "+OK\r\n";
    for (qsizetype k = 0; k < ids.size(); ++k)
        r += QByteArray::number(k + 1) + ' ' + ids[k] + "\r\n";
    return C("UIDL").S(r + ".\r\n");
}

quint16 PuertoCerrado()
{
    quint16 puerto = 0;
    ::close(abreEscucha(&puerto));
    return puerto;
}

ServidorGuion::ServidorGuion(QList<Guion> conexiones)
    : guiones_(std::move(conexiones))
{
    escucha_ = abreEscucha(&puerto_);
    hilo_ = std::thread([this] { atiende(); });
}

ServidorGuion::~ServidorGuion()
{
    parar_ = true;
    hilo_.join();
    ::close(escucha_);
}

void ServidorGuion::falla(const QString& texto)
{
    std::lock_guard l(mutex_);
    fallos_ << texto;
}

QStringList ServidorGuion::fallos() const
{
    std::lock_guard l(mutex_);
    return fallos_;
}

QStringList ServidorGuion::recibidas() const
{
    std::lock_guard l(mutex_);
    return recibidas_;
}

bool ServidorGuion::termina(int ms)
{
    const auto limite = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!hecho_) {
        if (std::chrono::steady_clock::now() > limite)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void ServidorGuion::atiende()
{
    for (qsizetype n = 0; n < guiones_.size() && !parar_; ++n) {
        pollfd p{escucha_, POLLIN, 0};
        while (!parar_ && ::poll(&p, 1, 20) <= 0) {
        }
        if (parar_)
            break;
        const int fd = ::accept4(escucha_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        ++aceptadas_;
        pendiente_.clear();
        sigue(fd, static_cast<int>(n + 1), guiones_[n]);
        ::close(fd);
    }
    if (aceptadas_ < guiones_.size())
        falla(QStringLiteral("%1 conexiones de %2").arg(aceptadas_.load()).arg(guiones_.size()));
    hecho_ = true;
}

bool ServidorGuion::enviaSinBloquear(int fd, const QByteArray& datos, int ms)
{
    qsizetype hecho = 0;
    auto limite = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (hecho < datos.size()) {
        if (parar_)
            return false;
        const ssize_t n = ::send(fd, datos.constData() + hecho, static_cast<size_t>(datos.size() - hecho),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            hecho += n;
            limite = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return false;
        if (std::chrono::steady_clock::now() > limite)
            return false;
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 20);
        if (p.revents & (POLLERR | POLLHUP))
            return false;
    }
    return true;
}

bool ServidorGuion::recibe(int fd, int ms)
{
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0)
        return true;
    char buf[4096];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0)
        return false;
    pendiente_.append(buf, n);
    return true;
}

bool ServidorGuion::leeLinea(int fd, QByteArray* linea, int ms)
{
    const auto limite = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const qsizetype lf = pendiente_.indexOf('\n');
        if (lf >= 0) {
            *linea = pendiente_.left(lf + 1);
            pendiente_.remove(0, lf + 1);
            return true;
        }
        if (parar_ || std::chrono::steady_clock::now() > limite || !recibe(fd, 20))
            return false;
    }
}

void ServidorGuion::sigue(int fd, int numero, const Guion& guion)
{
    const auto anota = [&](const QByteArray& linea) {
        std::lock_guard l(mutex_);
        recibidas_ << QStringLiteral("%1: %2").arg(numero).arg(QString::fromLatin1(linea.trimmed()));
    };
    for (const Guion::Paso& paso : guion.pasos) {
        switch (paso.tipo) {
        case Guion::Paso::Envia:
            envia(fd, paso.datos);
            break;
        case Guion::Paso::Goteo:
            for (char c : paso.datos) {
                if (parar_)
                    return;
                envia(fd, QByteArray(1, c));
                std::this_thread::sleep_for(std::chrono::milliseconds(paso.ms));
            }
            break;
        case Guion::Paso::Pausa:
            std::this_thread::sleep_for(std::chrono::milliseconds(paso.ms));
            break;
        case Guion::Paso::Cierra: {
            // The client reads the end whenever it next looks, never a reset that would race
            // with it: what it still sends is taken, and recorded, until it hangs up too.
            ::shutdown(fd, SHUT_WR);
            QByteArray linea;
            while (leeLinea(fd, &linea, 5000))
                anota(linea);
            return;
        }
        case Guion::Paso::Repite:
            for (qint64 k = 0; k < paso.veces; ++k)
                if (!enviaSinBloquear(fd, paso.datos, 10000))
                    return;
            break;
        case Guion::Paso::SinFin:
            while (enviaSinBloquear(fd, paso.datos, 10000)) {
            }
            return;
        case Guion::Paso::Escucha: {
            QByteArray linea;
            while (leeLinea(fd, &linea, 10000))
                anota(linea);
            return;
        }
        case Guion::Paso::Junta: {
            const auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (lineasPendientes() < paso.veces && std::chrono::steady_clock::now() < limite && !parar_)
                if (!recibe(fd, 20))
                    break;
            if (lineasPendientes() != paso.veces)
                falla(QStringLiteral("%1: esperaba %2 órdenes seguidas, llegaron %3")
                          .arg(numero).arg(paso.veces).arg(lineasPendientes()));
            break;
        }
        case Guion::Paso::Cita: {
            const auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (paso.otro->recibidas().size() < paso.veces && std::chrono::steady_clock::now() < limite && !parar_)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (paso.otro->recibidas().size() < paso.veces)
                falla(QStringLiteral("%1: el otro servidor no recibió %2 líneas").arg(numero).arg(paso.veces));
            break;
        }
        case Guion::Paso::Espera: {
            QByteArray linea;
            bool leida = leeLinea(fd, &linea, 10000);
            // A server without CAPA says so and waits for the line it expects.
            if (leida && linea == "CAPA\r\n" && paso.datos != "CAPA") {
                anota(linea);
                envia(fd, "-ERR orden desconocida\r\n");
                leida = leeLinea(fd, &linea, 10000);
            }
            if (!leida) {
                falla(QStringLiteral("%1: esperaba \"%2\" y no llegó").arg(numero).arg(QString::fromLatin1(paso.datos)));
                return;
            }
            anota(linea);
            if (guion.esUnoAUno() && lineasPendientes() > 0)
                falla(QStringLiteral("%1: \"%2\" llegó con otras órdenes detrás").arg(numero).arg(QString::fromLatin1(paso.datos)));
            if (linea != paso.datos + "\r\n")
                falla(QStringLiteral("%1: esperaba \"%2\", llegó \"%3\"")
                          .arg(numero)
                          .arg(QString::fromLatin1(paso.datos), QString::fromLatin1(linea.toPercentEncoding(" "))));
            break;
        }
        }
    }
    // After the script the client should only hang up.
    QByteArray linea;
    while (leeLinea(fd, &linea, 10000)) {
        anota(linea);
        falla(QStringLiteral("%1: línea de más \"%2\"").arg(numero).arg(QString::fromLatin1(linea.trimmed())));
    }
}

}
