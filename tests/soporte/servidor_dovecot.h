#pragma once
#include "certificados.h"
#include <QFile>
#include <QProcess>
#include <functional>
#include <memory>

namespace pirel::prueba {
struct MensajePrueba {
    QByteArray asunto{}, remitente{};
};

// A private Dovecot POP3 instance on 127.0.0.1, never the system service. It dies with the
// thread that called arranca(), so call it from one that outlives it.
class ServidorDovecot {
public:
    ~ServidorDovecot() { detiene(); }
    static bool disponible();
    // These three before arranca(). usaTLS: TLS from the first byte on puertoTLS(), and after
    // STLS on puerto(). `saludo` replaces the text of the greeting.
    void agregaUsuario(const QByteArray& usuario, const QByteArray& clave, const QList<MensajePrueba>& mensajes);
    void usaTLS(const QString& certificado, const QString& clave) { tls_ = {certificado, clave}; }
    QByteArray saludo;
    [[nodiscard]] bool arranca(QString* error = nullptr);
    void detiene();
    quint16 puerto() const { return puerto_; }
    quint16 puertoTLS() const { return puertoTLS_; }
    QString registro() const
    {
        QFile f(dir_.filePath(QStringLiteral("dovecot.log")));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
private:
    QTemporaryDir dir_{QStringLiteral("/tmp/pdXXXXXX")}; // short: unix socket paths live under it
    QByteArray usuarios_;
    quint16 puerto_ = 0, puertoTLS_ = 0;
    std::pair<QString, QString> tls_;
    std::unique_ptr<QProcess> proceso_;
};

// The one set-up of every test and benchmark that needs Dovecot: the test authority, trusted by
// this process and the programs it starts, and a Dovecot per kind of certificate, started when
// first asked for (null, with the reason on stderr, when it cannot) with the users `puebla` gives.
class Dovecots {
public:
    explicit Dovecots(std::function<void(ServidorDovecot&)> puebla) : puebla_(std::move(puebla)) {}
    ServidorDovecot* operator()(Certificados::Tipo t = Certificados::Valido);
    Certificados certificados;
private:
    std::function<void(ServidorDovecot&)> puebla_;
    std::unique_ptr<ServidorDovecot> servidores_[4];
};
}
