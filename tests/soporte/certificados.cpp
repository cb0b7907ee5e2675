#include "certificados.h"

#include <QFile>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

namespace pirel::prueba {
namespace {

using Clave = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Certificado = std::unique_ptr<X509, decltype(&X509_free)>;

constexpr long kDia = 24 * 3600;
const char* const kNombres[] = {"valido", "caducado", "otro", "autofirmado"};

bool extension(X509* x, X509* emisor, int nid, const char* valor)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, emisor, x, nullptr, nullptr, 0);
    X509_EXTENSION* e = X509V3_EXT_conf_nid(nullptr, &ctx, nid, valor);
    const bool ok = e && X509_add_ext(x, e, -1) == 1;
    X509_EXTENSION_free(e);
    return ok;
}

// An authority, or a server's certificate; the self-signed one is both, and has no key
// usage, as `openssl req -x509` makes it.
enum Clase { kRaiz, kServidor, kPropio };

// Without an issuer the certificate signs itself. `desde` and `hasta` are seconds from now.
Certificado firma(EVP_PKEY* clave, const char* nombre, const char* alternativos, long desde, long hasta, Clase clase,
                  X509* emisor = nullptr, EVP_PKEY* claveEmisor = nullptr)
{
    static long serie = 1;
    Certificado x(X509_new(), X509_free);
    X509* c = x.get();
    X509_set_version(c, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(c), serie++);
    X509_gmtime_adj(X509_getm_notBefore(c), desde);
    X509_gmtime_adj(X509_getm_notAfter(c), hasta);
    X509_set_pubkey(c, clave);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(c), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(nombre), -1, -1, 0);
    X509_set_issuer_name(c, X509_get_subject_name(emisor ? emisor : c));
    X509* quien = emisor ? emisor : c;
    bool ok = extension(c, quien, NID_basic_constraints, clase == kServidor ? "CA:FALSE" : "critical,CA:TRUE")
        && extension(c, quien, NID_subject_key_identifier, "hash")
        && (clase != kRaiz || extension(c, quien, NID_key_usage, "critical,keyCertSign,cRLSign"))
        && (!alternativos || extension(c, quien, NID_subject_alt_name, alternativos))
        && X509_sign(c, claveEmisor ? claveEmisor : clave, EVP_sha256()) > 0;
    return ok ? std::move(x) : Certificado(nullptr, X509_free);
}

bool guarda(const QString& ruta, X509* c, EVP_PKEY* k)
{
    std::unique_ptr<BIO, decltype(&BIO_free)> b(BIO_new_file(QFile::encodeName(ruta).constData(), "w"), BIO_free);
    return b && (c ? PEM_write_bio_X509(b.get(), c) : PEM_write_bio_PrivateKey(b.get(), k, nullptr, nullptr, 0, nullptr, nullptr)) == 1;
}

}

QString Certificados::certificado(Tipo t) const { return dir_.filePath(QLatin1String(kNombres[t]) + ".pem"); }
QString Certificados::clave(Tipo t) const { return dir_.filePath(QLatin1String(kNombres[t]) + ".key"); }

Certificados::Certificados()
{
    if (!dir_.isValid())
        return;
    // P-256 keys: made in a millisecond, where RSA takes a good part of a second.
    Clave ca(EVP_EC_gen("P-256"), EVP_PKEY_free);
    if (!ca)
        return;
    const Certificado raiz = firma(ca.get(), "Autoridad de prueba de Pirel", nullptr, -kDia, 30 * kDia, kRaiz);
    if (!raiz || !guarda(autoridad(), raiz.get(), nullptr))
        return;
    struct {
        const char* nombre;
        const char* alternativos;
        long desde, hasta;
        bool propio;
    } const kTipos[] = {
        {"localhost", "DNS:localhost,IP:127.0.0.1", -kDia, 30 * kDia, false},
        {"localhost", "DNS:localhost,IP:127.0.0.1", -3 * kDia, -kDia, false},
        {"otro.ejemplo", "DNS:otro.ejemplo", -kDia, 30 * kDia, false},
        {"localhost", "DNS:localhost", -kDia, 30 * kDia, true},
    };
    for (int t = Valido; t <= Autofirmado; ++t) {
        const auto& d = kTipos[t];
        Clave k(EVP_EC_gen("P-256"), EVP_PKEY_free);
        if (!k)
            return;
        const Certificado c = d.propio ? firma(k.get(), d.nombre, d.alternativos, d.desde, d.hasta, kPropio)
                                       : firma(k.get(), d.nombre, d.alternativos, d.desde, d.hasta, kServidor, raiz.get(), ca.get());
        unsigned char resumen[EVP_MAX_MD_SIZE];
        unsigned int largo = 0;
        if (!c || !guarda(certificado(Tipo(t)), c.get(), nullptr) || !guarda(clave(Tipo(t)), nullptr, k.get())
            || X509_digest(c.get(), EVP_sha256(), resumen, &largo) != 1)
            return;
        huellas_[t] = QByteArray(reinterpret_cast<const char*>(resumen), largo).toHex().toUpper();
    }
    hechos_ = true;
}

}
