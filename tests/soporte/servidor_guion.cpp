#include "servidor_guion.h"

#include <QDeadlineTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pirel::prueba {
namespace {

int abreEscucha(quint16* puerto)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in dir{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t largo = sizeof dir;
    ::bind(fd, reinterpret_cast<sockaddr*>(&dir), largo);
    ::listen(fd, 16);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&dir), &largo);
    *puerto = ntohs(dir.sin_port);
    return fd;
}

void duerme(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}

quint16 PuertoCerrado()
{
    quint16 puerto = 0;
    ::close(abreEscucha(&puerto));
    return puerto;
}

ServidorGuion::ServidorGuion(QList<Guion> conexiones) : guiones_(std::move(conexiones)), escucha_(abreEscucha(&puerto_)), hilo_([this] {
    for (qsizetype n = 0; n < guiones_.size() && !parar_; ++n) {
        pollfd p{escucha_, POLLIN, 0};
        while (!parar_ && ::poll(&p, 1, 20) <= 0) {
        }
        if (const int fd = parar_ ? -1 : ::accept4(escucha_, nullptr, nullptr, SOCK_CLOEXEC); fd >= 0) {
            ++aceptadas_;
            pendiente_.clear();
            sigue(fd, static_cast<int>(n + 1), guiones_[n]);
            ::close(fd);
        }
    }
    if (aceptadas_ < guiones_.size())
        anota(fallos_, QStringLiteral("%1 conexiones de %2").arg(aceptadas_.load()).arg(guiones_.size()));
    hecho_ = true;
})
{
}

ServidorGuion::~ServidorGuion()
{
    parar_ = true;
    hilo_.join();
    ::close(escucha_);
}

bool ServidorGuion::termina(int ms)
{
    for (QDeadlineTimer limite(ms); !hecho_ && !limite.hasExpired();)
        duerme(5);
    return hecho_;
}

// False once the client is gone or the server stops.
bool ServidorGuion::envia(int fd, const QByteArray& datos)
{
    for (qsizetype hecho = 0; hecho < datos.size();) {
        const ssize_t n = ::send(fd, datos.constData() + hecho, size_t(datos.size() - hecho), MSG_NOSIGNAL | MSG_DONTWAIT);
        hecho += qMax<ssize_t>(n, 0);
        pollfd p{fd, POLLOUT, 0};
        if (parar_ || (n < 0 && errno != EAGAIN && errno != EINTR) || (::poll(&p, 1, 20) > 0 && (p.revents & (POLLERR | POLLHUP))))
            return false;
    }
    return true;
}

// What arrives within 20 ms; false once the client has hung up or the server stops.
bool ServidorGuion::recibe(int fd)
{
    pollfd p{fd, POLLIN, 0};
    char buf[4096];
    const ssize_t n = ::poll(&p, 1, 20) > 0 ? ::recv(fd, buf, sizeof buf, 0) : 0;
    pendiente_.append(buf, qMax<ssize_t>(n, 0));
    return !parar_ && (n > 0 || !p.revents);
}

void ServidorGuion::sigue(int fd, int numero, const Guion& guion)
{
    const QString quien = QString::number(numero) + ": ";
    QByteArray linea;
    const auto lee = [&](qint64 ms = 10000) {
        QDeadlineTimer limite(ms);
        while (!pendiente_.contains('\n'))
            if (!recibe(fd) || limite.hasExpired())
                return false;
        linea = pendiente_.left(pendiente_.indexOf('\n') + 1);
        pendiente_.remove(0, linea.size());
        anota(recibidas_, quien + QString::fromLatin1(linea.trimmed()));
        return true;
    };
    const auto falla = [&](const QString& texto) { anota(fallos_, quien + texto); };
    qint64 enCadena = 0;
    for (const Guion::Paso& paso : guion.pasos) {
        switch (paso.tipo) {
        case Guion::Paso::Envia:
            envia(fd, paso.datos);
            break;
        case Guion::Paso::Pausa:
            duerme(int(paso.n));
            break;
        // The client reads the end whenever it next looks, never a reset that would race with it.
        case Guion::Paso::Cierra:
            ::shutdown(fd, SHUT_WR);
            [[fallthrough]];
        case Guion::Paso::Escucha:
            while (lee(-1)) {
            }
            return;
        case Guion::Paso::Junta:
            enCadena = paso.n;
            break;
        case Guion::Paso::Espera:
            if (!lee() || (linea == "CAPA\r\n" && paso.datos != "CAPA" && !(envia(fd, "-ERR no\r\n") && lee())))
                return falla(QStringLiteral("esperaba \"%1\" y no llegó").arg(QLatin1String(paso.datos)));
            if (--enCadena < 0 && pendiente_.contains('\n'))
                falla(QStringLiteral("\"%1\" llegó con otras órdenes detrás").arg(QLatin1String(paso.datos)));
            if (linea != paso.datos + "\r\n")
                falla(QString("esperaba \"%1\", llegó \"%2\"")
                          .arg(QLatin1String(paso.datos), QLatin1String(linea.toPercentEncoding(" "))));
            break;
        }
    }
    // After the script the client should only hang up.
    while (lee())
        falla(QStringLiteral("línea de más \"%1\"").arg(QString::fromLatin1(linea.trimmed())));
}

}
