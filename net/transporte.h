#pragma once
// The byte transport under the socket component: everything that touches the
// descriptor. A TLS transport can take its place without the component changing.
#include <QtGlobal>

#include <netinet/in.h>

namespace pirel {

class Transporte {
public:
    virtual ~Transporte() = default;

    // -1 when there is no socket.
    [[nodiscard]] virtual int descriptor() const = 0;
    // Creates a non-blocking TCP socket; 0 or an errno value.
    [[nodiscard]] virtual int abre() = 0;
    // 0 when connected, EINPROGRESS while connecting, otherwise an errno value.
    [[nodiscard]] virtual int conecta(const sockaddr_in& destino) = 0;
    // Outcome of a connection in progress once the socket is writable: 0 or an errno value.
    [[nodiscard]] virtual int resultadoConexion() = 0;
    // Bytes moved, 0 when the peer has closed (receive only), or minus an errno value.
    [[nodiscard]] virtual qint64 envia(const char* datos, qint64 longitud) = 0;
    [[nodiscard]] virtual qint64 recibe(char* datos, qint64 longitud, bool mirar) = 0;
    // Throws away, without waiting, up to `maximo` bytes that have arrived and not been
    // read; 0 or an errno value. `cerrada` is set when the peer has closed.
    [[nodiscard]] virtual int descarta(qint64 maximo, bool* cerrada) = 0;
    // Aborts the connection and forgets the descriptor; 0 or an errno value.
    virtual int cierra() = 0;
};

class TransportePosix final : public Transporte {
public:
    TransportePosix() = default;
    ~TransportePosix() override;
    TransportePosix(const TransportePosix&) = delete;
    TransportePosix& operator=(const TransportePosix&) = delete;

    int descriptor() const override { return fd_; }
    int abre() override;
    int conecta(const sockaddr_in& destino) override;
    int resultadoConexion() override;
    qint64 envia(const char* datos, qint64 longitud) override;
    qint64 recibe(char* datos, qint64 longitud, bool mirar) override;
    int descarta(qint64 maximo, bool* cerrada) override;
    int cierra() override;

private:
    int fd_ = -1;
};

}
