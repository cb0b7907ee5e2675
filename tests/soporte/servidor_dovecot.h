#pragma once

#include "certificados.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <memory>

#include <sys/types.h>

namespace pirel::prueba {

struct MensajePrueba {
    QByteArray asunto{};
    QByteArray remitente{};
    QByteArray cuerpo = "Hola.\r\n";
    bool sinAsunto = false; // omit the Subject: line entirely
};

// A private Dovecot POP3 instance on 127.0.0.1, never the system service. It is killed
// when the thread that called arranca() ends, so call it from one that outlives it.
class ServidorDovecot {
public:
    ServidorDovecot();
    ~ServidorDovecot();
    ServidorDovecot(const ServidorDovecot&) = delete;
    ServidorDovecot& operator=(const ServidorDovecot&) = delete;

    static bool disponible();
    // Before arranca(): Dovecot may not notice users added later.
    void agregaUsuario(const QByteArray& usuario, const QByteArray& clave, const QList<MensajePrueba>& mensajes);
    // Before arranca(): TLS from the first byte on puertoTLS(), and after STLS on puerto().
    void usaTLS(const QString& certificado, const QString& clave);
    [[nodiscard]] bool arranca(QString* error = nullptr);
    void detiene(); // idempotent; the destructor calls it

    quint16 puerto() const { return puerto_; }
    quint16 puertoTLS() const { return puertoTLS_; }
    QString registro() const;

private:
    bool lanza(int intento, QString* error);

    QTemporaryDir dir_;
    QByteArray usuarios_;
    quint16 puerto_ = 0, puertoTLS_ = 0;
    QString certificado_, clave_;
    pid_t pid_ = -1;
};

// The one set-up of every test and benchmark that needs Dovecot: the test authority trusted
// by this process and the programs it starts, and a Dovecot per kind of certificate,
// started when first asked for with the users `puebla` gives it.
class Dovecots {
public:
    explicit Dovecots(std::function<void(ServidorDovecot&)> puebla) : puebla_(std::move(puebla)) {}
    // Null, with the reason on stderr, when it cannot start.
    ServidorDovecot* operator()(Certificados::Tipo t = Certificados::Valido);
    Certificados certificados;

private:
    std::function<void(ServidorDovecot&)> puebla_;
    std::unique_ptr<ServidorDovecot> servidores_[4];
};

} // namespace pirel::prueba
