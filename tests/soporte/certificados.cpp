#include "certificados.h"
#include <QFile>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

namespace pirel::prueba {
Certificados::Certificados()
{
    constexpr long kDia = 24 * 3600;
    // The authority last; its key usage is an authority's, and the self-signed server has
    // CA:TRUE and no key usage, as `openssl req -x509` makes it.
    const struct { const char *nombre, *alternativos; long desde, hasta; } kTipos[] = {
        {"localhost", "DNS:localhost,IP:127.0.0.1", -kDia, 30 * kDia},
        {"localhost", "DNS:localhost,IP:127.0.0.1", -3 * kDia, -kDia},
        {"otro.ejemplo", "DNS:otro.ejemplo", -kDia, 30 * kDia},
        {"localhost", "DNS:localhost", -kDia, 30 * kDia},
        {"Autoridad de prueba de Pirel", nullptr, -kDia, 30 * kDia}};
    EVP_PKEY* claves[5]{};
    X509* certificados[5]{};
    bool ok = dir_.isValid();
    for (const int t : {4, 0, 1, 2, 3}) {
        const auto& d = kTipos[t];
        const bool propio = t >= Autofirmado;
        EVP_PKEY* k = claves[t] = EVP_EC_gen("P-256"); // a millisecond, where RSA takes most of a second
        X509* c = certificados[t] = X509_new();
        X509* emisor = propio ? c : certificados[4];
        X509V3_CTX ctx{};
        X509V3_set_ctx(&ctx, emisor, c, nullptr, nullptr, 0);
        ok = ok && k && c && X509_set_version(c, 2) && ASN1_INTEGER_set(X509_get_serialNumber(c), t + 1)
            && X509_gmtime_adj(X509_getm_notBefore(c), d.desde) && X509_gmtime_adj(X509_getm_notAfter(c), d.hasta)
            && X509_set_pubkey(c, k)
            && X509_NAME_add_entry_by_txt(X509_get_subject_name(c), "CN", MBSTRING_ASC,
                                          reinterpret_cast<const unsigned char*>(d.nombre), -1, -1, 0)
            && X509_set_issuer_name(c, X509_get_subject_name(emisor));
        const std::pair<int, const char*> extensiones[] = {
            {NID_basic_constraints, propio ? "critical,CA:TRUE" : "CA:FALSE"}, {NID_subject_key_identifier, "hash"},
            d.alternativos ? std::pair{NID_subject_alt_name, d.alternativos} : std::pair{NID_key_usage, "critical,keyCertSign,cRLSign"}};
        for (const auto& [nid, valor] : extensiones) {
            X509_EXTENSION* e = ok ? X509V3_EXT_conf_nid(nullptr, &ctx, nid, valor) : nullptr;
            ok = e && X509_add_ext(c, e, -1) == 1;
            X509_EXTENSION_free(e);
        }
        QByteArray resumen(EVP_MAX_MD_SIZE, 0);
        BIO* b = ok ? BIO_new_file(QFile::encodeName(t == 4 ? autoridad() : certificado(Tipo(t))).constData(), "w") : nullptr;
        ok = b && X509_sign(c, propio ? k : claves[4], EVP_sha256()) > 0 && PEM_write_bio_X509(b, c) == 1
            && PEM_write_bio_PrivateKey(b, k, nullptr, nullptr, 0, nullptr, nullptr) == 1
            && X509_digest(c, EVP_sha256(), reinterpret_cast<unsigned char*>(resumen.data()), nullptr) == 1;
        BIO_free(b);
        if (ok && t < 4)
            huellas_[t] = resumen.left(32).toHex().toUpper(); // SHA-256
    }
    for (int t = 0; t < 5; ++t) {
        X509_free(certificados[t]);
        EVP_PKEY_free(claves[t]);
    }
    hechos_ = ok;
}
}
