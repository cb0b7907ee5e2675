#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <sys/types.h>

namespace pirel::prueba {

struct MensajePrueba {
    QByteArray asunto{};
    QByteArray remitente{};
    QByteArray cuerpo = "Hola.\r\n";
    QByteArray crudo{};        // when set, written byte for byte instead of the fields above
    bool sinAsunto = false;    // omit the Subject: line entirely
    bool sinRemitente = false; // omit the From: line entirely
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
    void agregaUsuario(const QByteArray& usuario, const QByteArray& clave,
                       const QList<MensajePrueba>& mensajes);
    // Before arranca(): TLS with this certificate and key, from the first byte on
    // puertoTLS(), and after STLS on puerto().
    void usaTLS(const QString& certificado, const QString& clave);
    [[nodiscard]] bool arranca(QString* error = nullptr);
    void detiene(); // idempotent; the destructor calls it

    quint16 puerto() const { return puerto_; }
    quint16 puertoTLS() const { return puertoTLS_; }
    QString carpeta() const { return dir_.path(); }
    QString buzon(const QByteArray& usuario) const; // the user's Maildir
    QString registro() const;

private:
    bool lanza(int intento, QString* error);

    QTemporaryDir dir_;
    QByteArray usuarios_;
    quint16 puerto_ = 0;
    quint16 puertoTLS_ = 0;
    QString certificado_, clave_;
    pid_t pid_ = -1;
};

} // namespace pirel::prueba
