#pragma once
// A private session bus and a private system bus, and stand-ins for the desktop's services
// on them, which answer from this process's event loop: wait with EsperaA.
#include "entorno_x.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QFile>
#include <QTemporaryDir>
#include <QVariantMap>

namespace pirel::prueba {

class BusesPrivados {
public:
    ~BusesPrivados() { Termina(daemons_[0]), Termina(daemons_[1]); }
    // The usual session configuration: anyone may own any name, so the stand-ins own the desktop's.
    [[nodiscard]] bool arranca(QString* error)
    {
        for (bool sistema : {false, true}) {
            QProcess& daemon = daemons_[sistema];
            daemon.start("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--address=" + direccion(sistema)});
            if (!EsperaA([&] { return QFile::exists(direccion(sistema).mid(10)); }))
                return *error = "dbus-daemon did not start: " + QString::fromLocal8Bit(daemon.readAllStandardError()), false;
        }
        return true;
    }
    QString direccion(bool sistema) const { return "unix:path=" + dir_.filePath(sistema ? "system" : "session"); }
    void aplica(QProcessEnvironment& e) const
    {
        e.insert("DBUS_SESSION_BUS_ADDRESS", direccion(false));
        e.insert("DBUS_SYSTEM_BUS_ADDRESS", direccion(true));
    }
    // A connection of this process, named `nombre`, that owns `servicio` with `objeto` at `ruta`.
    bool publica(bool sistema, const QString& nombre, const QString& servicio, const QString& ruta, QObject* objeto) const
    {
        QDBusConnection bus = QDBusConnection::connectToBus(direccion(sistema), nombre);
        return bus.registerObject(ruta, objeto, QDBusConnection::ExportAllContents) && bus.registerService(servicio);
    }

private:
    QTemporaryDir dir_;
    QProcess daemons_[2];
};

// The panel's org.kde.StatusNotifierWatcher: each start is a new connection, as a restarted panel is.
class VigiaFalso : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
public:
    explicit VigiaFalso(const BusesPrivados& buses) : buses_(buses) {}
    ~VigiaFalso() override { para(); }
    bool arranca()
    {
        return buses_.publica(false, QString("vigia%1").arg(++arranques_), "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher", this);
    }
    void para() { QDBusConnection::disconnectFromBus(QString("vigia%1").arg(arranques_)); }
    QStringList registros; // by any start of the watcher
public slots:
    void RegisterStatusNotifierItem(const QString& servicio) { registros << servicio; }

private:
    const BusesPrivados& buses_;
    int arranques_ = 0;
};

// org.freedesktop.Notifications that keeps every Notify and the id it gave last.
class NotificadorFalso : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    bool arranca(const BusesPrivados& buses)
    {
        return buses.publica(false, "notificador", "org.freedesktop.Notifications", "/org/freedesktop/Notifications", this);
    }
    QList<QVariantList> llamadas;
    uint ultima = 0;
public slots:
    QStringList GetCapabilities() { return {"actions", "body", "body-markup"}; }
    uint Notify(const QString&, uint reemplaza, const QString&, const QString&, const QString&, const QStringList&,
                const QVariantMap&, int)
    {
        llamadas << message().arguments();
        return ultima = reemplaza ? reemplaza : uint(llamadas.size());
    }
signals:
    void NotificationClosed(uint id, uint reason);
    void ActionInvoked(uint id, const QString& action_key);
};

// NetworkManager's State (20 disconnected, 50 local only, 70 the Internet) and logind's
// PrepareForSleep, on the system bus.
class SistemaFalso : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.NetworkManager")
    Q_PROPERTY(uint State MEMBER estado_)
public:
    bool arranca(const BusesPrivados& buses, uint estadoRed)
    {
        estado_ = estadoRed;
        const bool hecho = buses.publica(true, "sistema", "org.freedesktop.NetworkManager", "/org/freedesktop/NetworkManager", this);
        bus_ = QDBusConnection("sistema");
        return hecho && bus_.registerService("org.freedesktop.login1");
    }
    void ponRed(uint estado)
    {
        estado_ = estado;
        bus_.send(QDBusMessage::createSignal("/org/freedesktop/NetworkManager", "org.freedesktop.DBus.Properties", "PropertiesChanged")
                  << "org.freedesktop.NetworkManager" << QVariantMap{{"State", estado}} << QStringList());
    }
    void reanuda()
    {
        for (const bool antes : {true, false})
            bus_.send(QDBusMessage::createSignal("/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep") << antes);
    }

private:
    QDBusConnection bus_{QString()};
    uint estado_ = 20;
};

}
