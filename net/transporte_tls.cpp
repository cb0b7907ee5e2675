#include "transporte_tls.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

namespace pirel {
namespace {

// The certificate's faults, as the verification reports them one by one.
enum Falta : unsigned { kCaducado = 1, kAutoridad = 2, kNombre = 4, kOtra = 8 };

unsigned falta(int error)
{
    switch (error) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return kCaducado;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
        return kAutoridad;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return kNombre;
    default:
        return kOtra;
    }
}

// One reason for the person: a wrong name says most, an authority least.
FalloTLS motivo(unsigned faltas)
{
    if (faltas & kNombre)
        return FalloTLS::NombreDistinto;
    if (faltas & kCaducado)
        return FalloTLS::Caducado;
    if (faltas & kAutoridad)
        return FalloTLS::AutoridadDesconocida;
    return FalloTLS::Negociacion;
}

// libssl reaches the connection through the plain transport, never through write(2)
// itself: a write to a peer that has reset would raise SIGPIPE and end the program.
Transporte* baseDe(BIO* b) { return static_cast<Transporte*>(BIO_get_data(b)); }

int leeBio(BIO* b, char* datos, size_t largo, size_t* hecho)
{
    BIO_clear_retry_flags(b);
    *hecho = 0;
    const qint64 n = baseDe(b)->recibe(datos, static_cast<qint64>(largo), false);
    if (n > 0) {
        *hecho = static_cast<size_t>(n);
        return 1;
    }
    if (n == 0)
        BIO_set_flags(b, BIO_FLAGS_IN_EOF);
    else if (-n == EAGAIN)
        BIO_set_retry_read(b);
    else
        errno = static_cast<int>(-n);
    return 0;
}

int escribeBio(BIO* b, const char* datos, size_t largo, size_t* hecho)
{
    BIO_clear_retry_flags(b);
    *hecho = 0;
    const qint64 n = baseDe(b)->envia(datos, static_cast<qint64>(largo));
    if (n > 0) {
        *hecho = static_cast<size_t>(n);
        return 1;
    }
    if (n == -EAGAIN)
        BIO_set_retry_write(b);
    else if (n < 0)
        errno = static_cast<int>(-n);
    return 0;
}

long controlBio(BIO* b, int orden, long, void*)
{
    switch (orden) {
    case BIO_CTRL_FLUSH: return 1;
    case BIO_CTRL_EOF: return BIO_test_flags(b, BIO_FLAGS_IN_EOF) != 0;
    default: return 0;
    }
}

BIO_METHOD* metodoBio()
{
    static BIO_METHOD* const metodo = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "pirel transporte");
        BIO_meth_set_read_ex(m, leeBio);
        BIO_meth_set_write_ex(m, escribeBio);
        BIO_meth_set_ctrl(m, controlBio);
        return m;
    }();
    return metodo;
}

QByteArray huellaDe(X509* certificado)
{
    unsigned char resumen[EVP_MAX_MD_SIZE];
    unsigned int largo = 0;
    if (!certificado || X509_digest(certificado, EVP_sha256(), resumen, &largo) != 1)
        return {};
    return QByteArray(reinterpret_cast<const char*>(resumen), largo).toHex().toUpper();
}

}

void TransporteTLS::LiberaSSL::operator()(ssl_st* p) const { SSL_free(p); }
void TransporteTLS::LiberaSSL::operator()(ssl_ctx_st* p) const { SSL_CTX_free(p); }

TransporteTLS::TransporteTLS(std::unique_ptr<Transporte> base)
    : base_(base ? std::move(base) : std::make_unique<TransportePosix>())
{
}

TransporteTLS::~TransporteTLS() = default;

void TransporteTLS::suelta()
{
    ssl_.reset();
    cifrado_ = false;
    roto_ = false;
    quiere_ = Direccion::Leer;
}

int TransporteTLS::abre()
{
    suelta();
    return base_->abre();
}

int TransporteTLS::cierra()
{
    // Our close_notify, when the session is whole; the peer's own is not waited for.
    if (ssl_ && cifrado_ && !roto_) {
        ERR_clear_error();
        (void)SSL_shutdown(ssl_.get());
        ERR_clear_error();
    }
    suelta();
    return base_->cierra();
}

qint64 TransporteTLS::fallo(int resultado)
{
    const int tipo = SSL_get_error(ssl_.get(), resultado);
    const int numero = errno;
    ERR_clear_error();
    switch (tipo) {
    case SSL_ERROR_WANT_READ:
        quiere_ = Direccion::Leer;
        return -EAGAIN;
    case SSL_ERROR_WANT_WRITE:
        quiere_ = Direccion::Escribir;
        return -EAGAIN;
    case SSL_ERROR_ZERO_RETURN:
        return 0;
    case SSL_ERROR_SYSCALL:
        roto_ = true;
        return numero != 0 ? -numero : 0;
    default:
        roto_ = true;
        // A record that does not decrypt or parse: the session is over.
        return -ECONNABORTED;
    }
}

qint64 TransporteTLS::envia(const char* datos, qint64 longitud)
{
    if (!cifrado_)
        return base_->envia(datos, longitud);
    if (longitud == 0)
        return 0;
    size_t hecho = 0;
    ERR_clear_error();
    const int r = SSL_write_ex(ssl_.get(), datos, static_cast<size_t>(longitud), &hecho);
    return r == 1 ? static_cast<qint64>(hecho) : fallo(r);
}

qint64 TransporteTLS::recibe(char* datos, qint64 longitud, bool mirar)
{
    if (!cifrado_)
        return base_->recibe(datos, longitud, mirar);
    size_t hecho = 0;
    ERR_clear_error();
    const int r = mirar ? SSL_peek_ex(ssl_.get(), datos, static_cast<size_t>(longitud), &hecho)
                        : SSL_read_ex(ssl_.get(), datos, static_cast<size_t>(longitud), &hecho);
    return r == 1 ? static_cast<qint64>(hecho) : fallo(r);
}

int TransporteTLS::descarta(qint64 maximo, bool* cerrada)
{
    return cifrado_ ? Transporte::descarta(maximo, cerrada) : base_->descarta(maximo, cerrada);
}

qint64 TransporteTLS::disponibles() const
{
    // Bytes already decrypted wait inside libssl, where the descriptor cannot show them.
    return (cifrado_ ? SSL_pending(ssl_.get()) : 0) + base_->disponibles();
}

int TransporteTLS::empiezaTLS(const QByteArray& servidor, const QByteArray& huella)
{
    if (descriptor() < 0)
        return EBADF;
    suelta();
    informe_ = {};
    huella_ = huella;
    if (!contexto_) {
        // One context per transport: the trust store is read once, not once per mailbox.
        contexto_.reset(SSL_CTX_new(TLS_client_method()));
        if (!contexto_)
            return ENOMEM;
        SSL_CTX* c = contexto_.get();
        SSL_CTX_set_min_proto_version(c, TLS1_2_VERSION);
        // POP3 frames every reply itself, so a close without close_notify cuts nothing
        // unnoticed; a server's goodbye after QUIT often has none.
        SSL_CTX_set_options(c, SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION);
        SSL_CTX_set_mode(c, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        // SSL_CERT_FILE and SSL_CERT_DIR are honoured here.
        SSL_CTX_set_default_verify_paths(c);
        SSL_CTX_set_verify(c, SSL_VERIFY_PEER, nullptr);
        SSL_CTX_set_cert_verify_callback(c, &TransporteTLS::verifica, this);
    }
    ERR_clear_error();
    ssl_.reset(SSL_new(contexto_.get()));
    BIO* bio = metodoBio() ? BIO_new(metodoBio()) : nullptr;
    if (!ssl_ || !bio) {
        BIO_free(bio);
        ERR_clear_error();
        ssl_.reset();
        return ENOMEM;
    }
    BIO_set_data(bio, base_.get());
    BIO_set_init(bio, 1);
    SSL_set_bio(ssl_.get(), bio, bio);
    SSL* s = ssl_.get();
    const QByteArray nombre = servidor.endsWith('.') ? servidor.chopped(1) : servidor;
    in_addr ip{};
    bool ok;
    if (::inet_pton(AF_INET, nombre.constData(), &ip) == 1) {
        // An address is checked against the certificate's addresses and is never sent as SNI.
        ok = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(s), nombre.constData()) == 1;
    } else {
        SSL_set_hostflags(s, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        ok = SSL_set_tlsext_host_name(s, nombre.constData()) == 1 && SSL_set1_host(s, nombre.constData()) == 1;
    }
    ERR_clear_error();
    if (!ok) {
        ssl_.reset();
        return EINVAL;
    }
    SSL_set_connect_state(s);
    return 0;
}

int TransporteTLS::negocia()
{
    if (!ssl_)
        return EBADF;
    ERR_clear_error();
    const int r = SSL_connect(ssl_.get());
    if (r == 1) {
        cifrado_ = true;
        return 0;
    }
    const qint64 e = fallo(r);
    if (e == -EAGAIN)
        return EAGAIN;
    roto_ = true;
    if (informe_.fallo == FalloTLS::Ninguno)
        informe_.fallo = FalloTLS::Negociacion;
    return e < 0 ? static_cast<int>(-e) : ECONNRESET;
}

int TransporteTLS::verifica(x509_store_ctx_st* almacen, void* yo)
{
    auto* t = static_cast<TransporteTLS*>(yo);
    t->informe_.huella = huellaDe(X509_STORE_CTX_get0_cert(almacen));
    if (!t->huella_.isEmpty()) {
        // The one certificate the person chose to trust, in place of any authority.
        if (!t->informe_.huella.isEmpty() && t->informe_.huella == t->huella_)
            return 1;
        t->informe_.fallo = FalloTLS::HuellaDistinta;
        X509_STORE_CTX_set_error(almacen, X509_V_ERR_CERT_REJECTED);
        return 0;
    }
    // Every fault is gathered before refusing, so an unknown authority can be told apart
    // from an unknown authority that also names another server.
    t->faltas_ = 0;
    X509_STORE_CTX_set_app_data(almacen, t);
    X509_STORE_CTX_set_verify_cb(almacen, &TransporteTLS::anota);
    const int r = X509_verify_cert(almacen);
    if (r == 1 && t->faltas_ == 0)
        return 1;
    t->informe_.fallo = motivo(t->faltas_);
    t->informe_.soloAutoridad = t->faltas_ == kAutoridad;
    if (X509_STORE_CTX_get_error(almacen) == X509_V_OK)
        X509_STORE_CTX_set_error(almacen, X509_V_ERR_CERT_REJECTED);
    return 0;
}

int TransporteTLS::anota(int bien, x509_store_ctx_st* almacen)
{
    if (!bien)
        static_cast<TransporteTLS*>(X509_STORE_CTX_get_app_data(almacen))->faltas_ |=
            falta(X509_STORE_CTX_get_error(almacen));
    return 1;
}

}
