#include "transporte.h"

#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pirel {

TransportePosix::~TransportePosix()
{
    if (fd_ >= 0)
        ::close(fd_);
}

int TransportePosix::abre()
{
    int protocolo = 0;
    // The reentrant look-up: other threads may be opening sockets at the same time.
    protoent registro{};
    protoent* p = nullptr;
    char memoria[1024];
    if (::getprotobyname_r("tcp", &registro, memoria, sizeof memoria, &p) == 0 && p)
        protocolo = p->p_proto;
    // A socket left open by an earlier connection is closed rather than leaked.
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, protocolo);
    return fd_ < 0 ? errno : 0;
}

int TransportePosix::conecta(const sockaddr_in& destino)
{
    int r;
    do
        r = ::connect(fd_, reinterpret_cast<const sockaddr*>(&destino), sizeof destino);
    while (r < 0 && errno == EINTR);
    return r < 0 ? errno : 0;
}

int TransportePosix::resultadoConexion()
{
    int error = 0;
    socklen_t largo = sizeof error;
    if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &largo) < 0)
        return errno;
    return error;
}

qint64 TransportePosix::envia(const char* datos, qint64 longitud)
{
    ssize_t n;
    do
        n = ::send(fd_, datos, static_cast<size_t>(longitud), MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    return n < 0 ? -errno : n;
}

qint64 TransportePosix::recibe(char* datos, qint64 longitud, bool mirar)
{
    ssize_t n;
    do
        n = ::recv(fd_, datos, static_cast<size_t>(longitud), mirar ? MSG_PEEK : 0);
    while (n < 0 && errno == EINTR);
    return n < 0 ? -errno : n;
}

int Transporte::descarta(qint64 maximo, bool* cerrada)
{
    char basura[4096];
    for (qint64 hecho = 0; hecho < maximo;) {
        const qint64 n = recibe(basura, qMin<qint64>(sizeof basura, maximo - hecho), false);
        if (n == 0) {
            *cerrada = true;
            return 0;
        }
        if (n < 0)
            return -n == EAGAIN || -n == EWOULDBLOCK ? 0 : static_cast<int>(-n);
        hecho += n;
    }
    return 0;
}

qint64 TransportePosix::disponibles() const
{
    int n = 0;
    return fd_ >= 0 && ::ioctl(fd_, FIONREAD, &n) == 0 ? n : 0;
}

int TransportePosix::cierra()
{
    if (fd_ >= 0) {
        ::shutdown(fd_, SHUT_RDWR);
        // Linger off with time 0: the close resets instead of waiting on unsent data.
        const linger sinEspera{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &sinEspera, sizeof sinEspera);
    }
    const int r = ::close(fd_);
    const int error = r < 0 ? errno : 0;
    fd_ = -1;
    return error;
}

}
