#pragma once
// A private session bus and a private system bus (dbus-daemon with configurations of our
// own in a temporary folder), and stand-ins for the desktop's services on them. The
// stand-ins answer from this process's event loop: wait with EsperaConEventos.
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantMap>

#include <functional>

namespace pirel::prueba {

// Polls `condicion` while this process's events, D-Bus calls included, are handled.
bool EsperaConEventos(const std::function<bool()>& condicion, int ms = 10000);

class BusesPrivados {
public:
    BusesPrivados() = default;
    ~BusesPrivados();
    BusesPrivados(const BusesPrivados&) = delete;
    BusesPrivados& operator=(const BusesPrivados&) = delete;

    [[nodiscard]] bool arranca(QString* error);
    // The program's environment on these buses.
    void aplica(QProcessEnvironment& entorno) const;
    // A connection of this process; each name is a client of its own.
    QDBusConnection conecta(bool sistema, const QString& nombre) const;

private:
    bool lanza(QProcess& daemon, const QString& tipo, QString* direccion, QString* error);

    QTemporaryDir dir_;
    QProcess sesion_, sistema_;
    QString dirSesion_, dirSistema_;
};

// org.kde.StatusNotifierWatcher with a host, which can be started, stopped and restarted:
// each start is a new connection, as a restarted panel is.
class VigiaFalso : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ conAnfitrion)
    Q_PROPERTY(int ProtocolVersion READ version)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ elementos)
public:
    explicit VigiaFalso(const BusesPrivados& buses) : buses_(buses) {}
    ~VigiaFalso() override { para(); }
    bool arranca();
    void para();

    struct Registro {
        QString servicio;
        int arranque; // which start of the watcher took it
        qint64 ms;    // since that start
    };
    QList<Registro> registros;

    bool conAnfitrion() const { return true; }
    int version() const { return 0; }
    QStringList elementos() const;

public slots:
    void RegisterStatusNotifierItem(const QString& service);
    void RegisterStatusNotifierHost(const QString& service);

signals:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierHostRegistered();

private:
    const BusesPrivados& buses_;
    QString conexion_;
    int arranques_ = 0;
    QElapsedTimer desde_;
};

// org.freedesktop.Notifications that keeps every Notify.
class NotificadorFalso : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    bool arranca(const BusesPrivados& buses);

    struct Llamada {
        QString aplicacion;
        uint reemplaza;
        QString icono, resumen, cuerpo;
        QStringList acciones;
        QVariantMap pistas;
        int caduca;
        uint id;
    };
    QList<Llamada> llamadas;
    QStringList capacidades{"actions", "body", "body-markup"};

public slots:
    QStringList GetCapabilities() { return capacidades; }
    uint Notify(const QString& app_name, uint replaces_id, const QString& app_icon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints, int expire_timeout);
    void CloseNotification(uint id) { emit NotificationClosed(id, 3); }
    QString GetServerInformation(QString& vendor, QString& version, QString& spec_version);

signals:
    void NotificationClosed(uint id, uint reason);
    void ActionInvoked(uint id, const QString& action_key);

private:
    uint siguiente_ = 0;
};

// logind and NetworkManager on the system bus: PrepareForSleep, and NetworkManager's State.
class SistemaFalso : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    bool arranca(const BusesPrivados& buses, uint estadoRed);
    // NetworkManager's states: 20 disconnected, 70 connected to the Internet.
    void ponRed(uint estado);

signals:
    void PrepareForSleep(bool start);

private:
    QDBusConnection bus_{QString()};
    class Red* red_ = nullptr;
};

}
