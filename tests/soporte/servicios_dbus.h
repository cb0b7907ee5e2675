#pragma once
// A private session bus and a private system bus, and stand-ins for the desktop's services
// on them, which answer from this process's event loop: wait with EsperaA.
#include "entorno_x.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QVariantMap>

namespace pirel::prueba {

class BusesPrivados {
public:
    ~BusesPrivados() { Termina(daemons_[0]), Termina(daemons_[1]); }
    [[nodiscard]] bool arranca(QString* error);
    QString direccion(bool sistema) const { return "unix:path=" + dir_.filePath(sistema ? "system" : "session"); }
    // The program's environment on these buses.
    void aplica(QProcessEnvironment& e) const
    {
        e.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), direccion(false));
        e.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), direccion(true));
    }
    // A connection of this process, named `nombre`, that owns `servicio` with `objeto` at `ruta`.
    bool publica(bool sistema, const QString& nombre, const QString& servicio, const QString& ruta, QObject* objeto) const;

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
        return buses_.publica(false, QStringLiteral("vigia%1").arg(++arranques_),
                              QStringLiteral("org.kde.StatusNotifierWatcher"), QStringLiteral("/StatusNotifierWatcher"), this);
    }
    void para() { QDBusConnection::disconnectFromBus(QStringLiteral("vigia%1").arg(arranques_)); }
    QStringList registros; // by any start of the watcher
public slots:
    void RegisterStatusNotifierItem(const QString& servicio) { registros << servicio; }

private:
    const BusesPrivados& buses_;
    int arranques_ = 0;
};

// org.freedesktop.Notifications that keeps every Notify.
class NotificadorFalso : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    bool arranca(const BusesPrivados& buses)
    {
        return buses.publica(false, QStringLiteral("notificador"), QStringLiteral("org.freedesktop.Notifications"),
                             QStringLiteral("/org/freedesktop/Notifications"), this);
    }
    QList<QVariantList> llamadas; // the arguments of every Notify
public slots:
    QStringList GetCapabilities() { return {"actions", "body", "body-markup"}; }
    uint Notify(const QString&, uint reemplaza, const QString&, const QString&, const QString&, const QStringList&,
                const QVariantMap&, int)
    {
        llamadas << message().arguments();
        return reemplaza ? reemplaza : uint(llamadas.size());
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
    bool arranca(const BusesPrivados& buses, uint estadoRed);
    void ponRed(uint estado);
    void reanuda();

private:
    QDBusConnection bus_{QString()};
    uint estado_ = 20;
};

}
