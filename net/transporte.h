#pragma once
// The byte transport under the socket component: everything that touches the
// descriptor. A TLS transport can take its place without the component changing.
#include <QByteArray>
#include <QtGlobal>

#include <cerrno>
#include <netinet/in.h>

namespace pirel {

// Why a TLS connection was not made.
enum class FalloTLS {
    Ninguno,
    Caducado,             // the certificate has expired or is not valid yet
    AutoridadDesconocida, // issued by an authority not trusted here, or by itself
    NombreDistinto,       // issued for another server
    HuellaDistinta,       // not the certificate pinned for the mailbox
    Negociacion,          // the handshake failed for any other reason
};

struct InformeTLS {
    FalloTLS fallo = FalloTLS::Ninguno;
    // SHA-256 of the server's certificate, 64 upper-case hex digits; empty when none came.
    QByteArray huella{};
    // The authority was the certificate's one fault: the only case a person may choose
    // to trust it by its fingerprint.
    bool soloAutoridad = false;
};

// What a call that would block is waiting for.
enum class Direccion { Leer, Escribir };

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
    // read; 0 or an errno value. `cerrada` is set when the peer has closed. Receives on a
    // socket that never blocks, so EAGAIN means nothing more has arrived.
    [[nodiscard]] virtual int descarta(qint64 maximo, bool* cerrada);
    // Aborts the connection and forgets the descriptor; 0 or an errno value.
    virtual int cierra() = 0;
    // Bytes that a receive would return now without waiting.
    [[nodiscard]] virtual qint64 disponibles() const { return 0; }

    // TLS over the connection made, for `servidor` (a name or a dotted address). With a
    // `huella`, that certificate alone is trusted. 0 or an errno value.
    [[nodiscard]] virtual int empiezaTLS(const QByteArray& servidor, const QByteArray& huella)
    {
        (void)servidor;
        (void)huella;
        return EPROTONOSUPPORT;
    }
    // One step of the handshake: 0 when done, EAGAIN to wait (see aguarda()), any other
    // errno value when it failed (see informeTLS()).
    [[nodiscard]] virtual int negocia() { return EPROTONOSUPPORT; }
    [[nodiscard]] virtual bool cifrado() const { return false; }
    [[nodiscard]] virtual InformeTLS informeTLS() const { return {}; }
    // What the last call that gave EAGAIN waits for: under TLS a receive may need to
    // write, and a send to read.
    [[nodiscard]] virtual Direccion aguarda(Direccion natural) const { return natural; }
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
    int cierra() override;
    qint64 disponibles() const override;

private:
    int fd_ = -1;
};

}
