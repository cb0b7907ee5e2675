#include "instancia.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace pirel {

Instancia::Resultado Instancia::reclama()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return Resultado::SinBus;
    // Offered before the name is taken, so a start that finds the name finds the calls too.
    bus.registerObject(QLatin1String(kRuta), this, QDBusConnection::ExportAllSlots);
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> r = bus.interface()->registerService(
        QLatin1String(kServicio), QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (r.isValid() && r.value() == QDBusConnectionInterface::ServiceRegistered)
        return Resultado::Unica;
    bus.unregisterObject(QLatin1String(kRuta));
    return r.isValid() ? Resultado::OtraCorre : Resultado::SinBus;
}

bool Instancia::entrega(const char* metodo)
{
    const QDBusMessage r = QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
        QLatin1String(kServicio), QLatin1String(kRuta), QLatin1String(kServicio), QLatin1String(metodo)));
    return r.type() == QDBusMessage::ReplyMessage;
}

void Instancia::Configura()
{
    QMetaObject::invokeMethod(
        this, [this] { if (alConfigurar) alConfigurar(); }, Qt::QueuedConnection);
}

void Instancia::Sal()
{
    QMetaObject::invokeMethod(
        this, [this] { if (alSalir) alSalir(); }, Qt::QueuedConnection);
}

}
