#include "medidas.h"

#include <QFile>
#include <QList>

#include <arpa/inet.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pirel::prueba {
namespace {

// The connection of the direct client: the descriptor, or TLS over it.
struct Canal {
    int fd = -1;
    SSL* ssl = nullptr;

    ssize_t recibe(char* buf, size_t n) const
    {
        size_t hecho = 0;
        if (ssl)
            return SSL_read_ex(ssl, buf, n, &hecho) == 1 ? static_cast<ssize_t>(hecho) : -1;
        return ::recv(fd, buf, n, 0);
    }
    void envia(const QByteArray& texto) const
    {
        size_t hecho = 0;
        if (ssl)
            (void)SSL_write_ex(ssl, texto.constData(), static_cast<size_t>(texto.size()), &hecho);
        else
            (void)!::send(fd, texto.constData(), static_cast<size_t>(texto.size()), MSG_NOSIGNAL);
    }
};

// Reads until `fin` ends what has been received.
bool leeHasta(const Canal& c, QByteArray& pendiente, const char* fin)
{
    char buf[4096];
    for (;;) {
        const qsizetype donde = pendiente.indexOf(fin);
        if (donde >= 0) {
            pendiente.remove(0, donde + qstrlen(fin));
            return true;
        }
        const ssize_t n = c.recibe(buf, sizeof buf);
        if (n <= 0)
            return false;
        pendiente.append(buf, n);
    }
}

// TLS as a plain client does it: the default trust store, the address checked.
SSL* abreTLS(int fd)
{
    static SSL_CTX* const contexto = [] {
        SSL_CTX* c = SSL_CTX_new(TLS_client_method());
        SSL_CTX_set_min_proto_version(c, TLS1_2_VERSION);
        SSL_CTX_set_default_verify_paths(c);
        SSL_CTX_set_verify(c, SSL_VERIFY_PEER, nullptr);
        return c;
    }();
    SSL* ssl = SSL_new(contexto);
    SSL_set_fd(ssl, fd);
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), "127.0.0.1");
    if (SSL_connect(ssl) == 1)
        return ssl;
    SSL_free(ssl);
    return nullptr;
}

int sesion(quint16 puerto, const QByteArray& usuario, const QByteArray& clave, int tops, bool tls)
{
    Canal c{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    sockaddr_in dir{};
    dir.sin_family = AF_INET;
    dir.sin_port = htons(puerto);
    dir.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int enteras = 0;
    if (::connect(c.fd, reinterpret_cast<sockaddr*>(&dir), sizeof dir) == 0 && (!tls || (c.ssl = abreTLS(c.fd)))) {
        QByteArray p;
        leeHasta(c, p, "\r\n");
        for (const QByteArray& o : {"USER " + usuario, "PASS " + clave, QByteArray("STAT")}) {
            c.envia(o + "\r\n");
            leeHasta(c, p, "\r\n");
        }
        for (int k = 1; k <= tops; ++k) {
            c.envia("TOP " + QByteArray::number(k) + " 1\r\n");
            if (leeHasta(c, p, "\r\n.\r\n"))
                ++enteras;
        }
        c.envia("QUIT\r\n");
        leeHasta(c, p, "\r\n");
    }
    SSL_free(c.ssl);
    ::close(c.fd);
    return enteras;
}

}

qint64 EstadoProceso(const char* campo)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& linea : f.readAll().split('\n'))
        if (linea.startsWith(campo))
            return linea.mid(qstrlen(campo)).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

int SesionDirecta(quint16 puerto, const QByteArray& usuario, const QByteArray& clave, int tops)
{
    return sesion(puerto, usuario, clave, tops, false);
}

int SesionDirectaTLS(quint16 puerto, const QByteArray& usuario, const QByteArray& clave, int tops)
{
    return sesion(puerto, usuario, clave, tops, true);
}

}
