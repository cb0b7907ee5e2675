#pragma once
// New mail told through the desktop's notification server (org.freedesktop.Notifications),
// for desktops without a notification area. One notification at a time: a later one
// replaces it.
#include <QObject>
#include <QStringList>

#include <functional>
#include <optional>

namespace pirel {

class Notificaciones : public QObject {
    Q_OBJECT
public:
    Notificaciones();

    // `abrirCorreo` adds the "Abrir Correo" action.
    void anuncia(const QString& resumen, const QStringList& lineas, bool abrirCorreo);

    // The user closed it or chose its default action.
    std::function<void()> alRecibir;
    // The user chose "Abrir Correo"; the messages count as seen, as with the notice's button.
    std::function<void()> alAbrirCorreo;
    // No server took it.
    std::function<void()> alFallar;

    static constexpr char kAbrirCorreo[] = "abrir-correo";

private slots:
    void accion(uint id, const QString& clave);
    void cerrada(uint id, uint razon);

private:
    struct Anuncio {
        QString resumen;
        QStringList lineas;
        bool abrirCorreo = false;
    };
    void envia(const Anuncio& anuncio);
    void notifica(const Anuncio& anuncio, bool marcado);
    void terminaEnvio(bool bien);

    // An announcement made while the last one still waits for its id goes out after it,
    // so that it can replace it.
    std::optional<Anuncio> siguiente_;
    bool enviando_ = false;
    uint id_ = 0;
};

}
