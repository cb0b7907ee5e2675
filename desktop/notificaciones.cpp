#include "notificaciones.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace pirel {
namespace {

const QString kServicio = QStringLiteral("org.freedesktop.Notifications");
const QString kRuta = QStringLiteral("/org/freedesktop/Notifications");

// The server's closing reasons: 2 is the user's doing; expiry (1) leaves the mail unseen.
constexpr uint kCerradaPorUsuario = 2;

QDBusMessage llamada(const QString& metodo)
{
    return QDBusMessage::createMethodCall(kServicio, kRuta, kServicio, metodo);
}

// `alHacer` runs with the reply, on the GUI thread, once it comes.
void alResponder(QDBusMessage mensaje, QObject* dueno, std::function<void(const QDBusMessage&)> alHacer)
{
    auto* espera = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(mensaje), dueno);
    QObject::connect(espera, &QDBusPendingCallWatcher::finished, dueno, [espera, alHacer] {
        espera->deleteLater();
        alHacer(espera->reply());
    });
}

}

Notificaciones::Notificaciones()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.connect(kServicio, kRuta, kServicio, QStringLiteral("ActionInvoked"), this, SLOT(accion(uint,QString)));
    bus.connect(kServicio, kRuta, kServicio, QStringLiteral("NotificationClosed"), this, SLOT(cerrada(uint,uint)));
}

void Notificaciones::anuncia(const QString& resumen, const QStringList& lineas, bool abrirCorreo)
{
    const Anuncio anuncio{resumen, lineas, abrirCorreo};
    if (enviando_)
        siguiente_ = anuncio;
    else
        envia(anuncio);
}

void Notificaciones::envia(const Anuncio& anuncio)
{
    if (!QDBusConnection::sessionBus().isConnected()) {
        if (alFallar)
            alFallar();
        return;
    }
    enviando_ = true;
    // Asked every time: the server may have been replaced since the last one.
    alResponder(llamada(QStringLiteral("GetCapabilities")), this, [this, anuncio](const QDBusMessage& r) {
        if (r.type() != QDBusMessage::ReplyMessage)
            return terminaEnvio(false);
        notifica(anuncio, r.arguments().value(0).toStringList().contains(QStringLiteral("body-markup")));
    });
}

void Notificaciones::notifica(const Anuncio& anuncio, bool marcado)
{
    QString cuerpo = anuncio.lineas.join(u'\n');
    // Server text is never markup: where the body is read as markup it is escaped.
    if (marcado)
        cuerpo = cuerpo.toHtmlEscaped();
    QStringList acciones{QStringLiteral("default"), QString()};
    if (anuncio.abrirCorreo)
        acciones << QString::fromLatin1(kAbrirCorreo) << QStringLiteral("Abrir Correo");
    const QVariantMap pistas{
        {QStringLiteral("category"), QStringLiteral("email.arrived")},
        {QStringLiteral("desktop-entry"), QStringLiteral("ludaren-electronico")},
        {QStringLiteral("urgency"), QVariant::fromValue(uchar(1))},
        // The program plays its own sound, or none.
        {QStringLiteral("suppress-sound"), true},
    };
    QDBusMessage m = llamada(QStringLiteral("Notify"));
    // No time-out, as the notice: it stays until the user closes it.
    m << QStringLiteral("Ludaren Electrónico") << id_ << QStringLiteral("ludaren-electronico") << anuncio.resumen << cuerpo
      << acciones << pistas << 0;
    alResponder(m, this, [this](const QDBusMessage& r) {
        const bool bien = r.type() == QDBusMessage::ReplyMessage;
        if (bien)
            id_ = r.arguments().value(0).toUInt();
        terminaEnvio(bien);
    });
}

void Notificaciones::terminaEnvio(bool bien)
{
    enviando_ = false;
    if (!bien) {
        siguiente_.reset();
        if (alFallar)
            alFallar();
        return;
    }
    if (siguiente_) {
        const Anuncio anuncio = *siguiente_;
        siguiente_.reset();
        envia(anuncio);
    }
}

void Notificaciones::accion(uint id, const QString& clave)
{
    if (id == 0 || id != id_)
        return;
    if (clave == QLatin1String(kAbrirCorreo) && alAbrirCorreo)
        alAbrirCorreo();
    if ((clave == QLatin1String("default") || clave == QLatin1String(kAbrirCorreo)) && alRecibir)
        alRecibir();
}

void Notificaciones::cerrada(uint id, uint razon)
{
    if (id == 0 || id != id_)
        return;
    id_ = 0;
    if (razon == kCerradaPorUsuario && alRecibir)
        alRecibir();
}

}
