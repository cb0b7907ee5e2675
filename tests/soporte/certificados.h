#pragma once
// A test authority and server certificates of every kind a client must tell apart, made with
// OpenSSL in a temporary folder. Point SSL_CERT_FILE at autoridad() to trust it.
#include <QTemporaryDir>

namespace pirel::prueba {
class Certificados {
public:
    // Valido and Caducado for "localhost" and 127.0.0.1, and OtroNombre for "otro.ejemplo", come
    // from the authority; Autofirmado, for "localhost" alone, from itself.
    enum Tipo { Valido, Caducado, OtroNombre, Autofirmado };
    Certificados();
    [[nodiscard]] bool hechos() const { return hechos_; }
    QString autoridad() const { return dir_.filePath(QStringLiteral("autoridad.pem")); }
    QString carpeta() const { return dir_.path(); }
    // The certificate and its key share one file.
    QString certificado(Tipo t) const { return dir_.filePath(QString::number(t) + QStringLiteral(".pem")); }
    QString clave(Tipo t) const { return certificado(t); }
    // SHA-256 of the certificate, 64 upper-case hex digits.
    QByteArray huella(Tipo t) const { return huellas_[t]; }
private:
    QTemporaryDir dir_;
    QByteArray huellas_[4];
    bool hechos_ = false;
};
}
