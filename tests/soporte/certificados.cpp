#include "certificados.h"

#include <QFile>

#include <openssl/pem.h>
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

// Without an issuer the certificate signs itself and is an authority; an authority without
// alternative names has the key usage of one, the self-signed server's has none, as
// `openssl req -x509` makes it. `desde` and `hasta` are seconds from now.
Certificado firma(EVP_PKEY* clave, const char* nombre, const char* alternativos, long desde, long hasta,
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
    X509* quien = emisor ? emisor : c;
    X509_set_issuer_name(c, X509_get_subject_name(quien));
    const bool ok = extension(c, quien, NID_basic_constraints, emisor ? "CA:FALSE" : "critical,CA:TRUE")
        && extension(c, quien, NID_subject_key_identifier, "hash")
        && (alternativos ? extension(c, quien, NID_subject_alt_name, alternativos)
                         : extension(c, quien, NID_key_usage, "critical,keyCertSign,cRLSign"))
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
    // P-256 keys: made in a millisecond, where RSA takes a good part of a second.
    Clave ca(EVP_EC_gen("P-256"), EVP_PKEY_free);
    const Certificado raiz = ca ? firma(ca.get(), "Autoridad de prueba de Pirel", nullptr, -kDia, 30 * kDia) : Certificado(nullptr, X509_free);
    if (!dir_.isValid() || !raiz || !guarda(autoridad(), raiz.get(), nullptr))
        return;
    const struct { const char* nombre; const char* alternativos; long desde, hasta; } kTipos[] = {
        {"localhost", "DNS:localhost,IP:127.0.0.1", -kDia, 30 * kDia},
        {"localhost", "DNS:localhost,IP:127.0.0.1", -3 * kDia, -kDia},
        {"otro.ejemplo", "DNS:otro.ejemplo", -kDia, 30 * kDia},
        {"localhost", "DNS:localhost", -kDia, 30 * kDia},
    };
    for (int t = Valido; t <= Autofirmado; ++t) {
        const auto& d = kTipos[t];
        Clave k(EVP_EC_gen("P-256"), EVP_PKEY_free);
        const bool propio = t == Autofirmado;
        const Certificado c = !k ? Certificado(nullptr, X509_free)
                                 : firma(k.get(), d.nombre, d.alternativos, d.desde, d.hasta, propio ? nullptr : raiz.get(),
                                         propio ? nullptr : ca.get());
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
