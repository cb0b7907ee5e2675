#pragma once
// TLS (OpenSSL's libssl) over a plain transport, whose sends and receives libssl uses.
// Until empiezaTLS() the bytes pass in clear, so one connection can begin plain and turn
// to TLS (STLS).
#include "transporte.h"

#include <memory>

struct ssl_st;
struct ssl_ctx_st;
struct x509_store_ctx_st;

namespace pirel {

class TransporteTLS final : public Transporte {
public:
    explicit TransporteTLS(std::unique_ptr<Transporte> base = nullptr);
    ~TransporteTLS() override;
    TransporteTLS(const TransporteTLS&) = delete;
    TransporteTLS& operator=(const TransporteTLS&) = delete;

    int descriptor() const override { return base_->descriptor(); }
    int abre() override;
    int conecta(const sockaddr_in& destino) override { return base_->conecta(destino); }
    int resultadoConexion() override { return base_->resultadoConexion(); }
    qint64 envia(const char* datos, qint64 longitud) override;
    qint64 recibe(char* datos, qint64 longitud, bool mirar) override;
    int descarta(qint64 maximo, bool* cerrada) override;
    int cierra() override;
    qint64 disponibles() const override;

    int empiezaTLS(const QByteArray& servidor, const QByteArray& huella) override;
    int negocia() override;
    bool cifrado() const override { return cifrado_; }
    InformeTLS informeTLS() const override { return informe_; }
    Direccion aguarda(Direccion natural) const override { return ssl_ ? quiere_ : natural; }

private:
    struct LiberaSSL {
        void operator()(ssl_st* p) const;
        void operator()(ssl_ctx_st* p) const;
    };
    static int verifica(x509_store_ctx_st* almacen, void* yo);
    static int anota(int bien, x509_store_ctx_st* almacen);
    // Minus an errno value, or 0 when the peer has closed, for a failed call of libssl.
    [[nodiscard]] qint64 fallo(int resultado);
    void suelta();

    std::unique_ptr<Transporte> base_;
    std::unique_ptr<ssl_ctx_st, LiberaSSL> contexto_;
    std::unique_ptr<ssl_st, LiberaSSL> ssl_;
    QByteArray huella_;
    InformeTLS informe_;
    unsigned faltas_ = 0;
    Direccion quiere_ = Direccion::Leer;
    bool cifrado_ = false;
    bool roto_ = false;
};

}
