#include "servicios_dbus.h"

#include <QDBusMessage>
#include <QFile>

namespace pirel::prueba {

bool BusesPrivados::arranca(QString* error)
{
    // The usual session configuration: anyone may own any name, so the stand-ins own the desktop's.
    for (bool sistema : {false, true}) {
        QProcess& daemon = daemons_[sistema];
        daemon.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--nopidfile", "--address=" + direccion(sistema)});
        const QString zocalo = direccion(sistema).mid(10);
        if (!EsperaA([&] { return QFile::exists(zocalo) || daemon.state() == QProcess::NotRunning; })
            || daemon.state() == QProcess::NotRunning) {
            *error = "dbus-daemon did not start: " + QString::fromLocal8Bit(daemon.readAllStandardError());
            return false;
        }
    }
    return true;
}

bool BusesPrivados::publica(bool sistema, const QString& nombre, const QString& servicio, const QString& ruta,
                            QObject* objeto) const
{
    QDBusConnection bus = QDBusConnection::connectToBus(direccion(sistema), nombre);
    return bus.registerObject(ruta, objeto, QDBusConnection::ExportAllContents) && bus.registerService(servicio);
}

bool SistemaFalso::arranca(const BusesPrivados& buses, uint estadoRed)
{
    estado_ = estadoRed;
    const bool hecho = buses.publica(true, QStringLiteral("sistema"), QStringLiteral("org.freedesktop.NetworkManager"),
                                     QStringLiteral("/org/freedesktop/NetworkManager"), this);
    bus_ = QDBusConnection(QStringLiteral("sistema"));
    return hecho && bus_.registerService(QStringLiteral("org.freedesktop.login1"));
}

void SistemaFalso::ponRed(uint estado)
{
    estado_ = estado;
    QDBusMessage m = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/NetworkManager"),
                                                QStringLiteral("org.freedesktop.DBus.Properties"),
                                                QStringLiteral("PropertiesChanged"));
    bus_.send(m << QStringLiteral("org.freedesktop.NetworkManager") << QVariantMap{{QStringLiteral("State"), estado}}
                << QStringList());
}

void SistemaFalso::reanuda()
{
    for (const bool entrando : {true, false})
        bus_.send(QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                             QStringLiteral("org.freedesktop.login1.Manager"),
                                             QStringLiteral("PrepareForSleep"))
                  << entrando);
}

}
