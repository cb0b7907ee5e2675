#pragma once
// The desktop for the real program in tests and benchmarks: a private X server (Xvfb) with an XEmbed
// tray (trayer), a private session bus and system bus, and stand-ins for the desktop's services on them,
// which answer from this process's event loop: wait with EsperaA.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

namespace pirel::prueba {

inline void Termina(QProcess& p)
{
    p.terminate();
    if (!p.waitForFinished(3000)) {
        p.kill();
        p.waitForFinished(3000);
    }
}

// The output of a short command, or empty when it fails or takes over 10 s.
inline QString Orden(const QString& programa, const QStringList& argumentos, const QProcessEnvironment& entorno)
{
    QProcess p;
    p.setProcessEnvironment(entorno);
    p.start(programa, argumentos);
    return p.waitForFinished(10000) ? QString::fromUtf8(p.readAllStandardOutput()).trimmed() : (Termina(p), QString());
}

// Polls while this process's events, D-Bus calls to its stand-ins included, are handled.
inline bool EsperaA(const std::function<bool()>& condicion, int ms = 10000)
{
    for (const QDeadlineTimer plazo(ms); !condicion(); QCoreApplication::processEvents(QEventLoop::AllEvents, 20))
        if (QThread::msleep(5), plazo.hasExpired())
            return false;
    return true;
}

class EntornoX {
    QProcess xvfb_, trayer_;
    QProcessEnvironment x_ = QProcessEnvironment::systemEnvironment();
public:
    ~EntornoX() { Termina(trayer_), Termina(xvfb_); }
    // Xvfb writes the display it chose once it listens; the text says what failed.
    [[nodiscard]] bool arranca(QString* error)
    {
        xvfb_.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"});
        QByteArray pantalla;
        if (!EsperaA([&] { return (pantalla += xvfb_.readAllStandardOutput()).endsWith('\n'); })) {
            *error = "Xvfb did not start: " + QString::fromLocal8Bit(xvfb_.readAllStandardError());
            return false;
        }
        x_.insert("DISPLAY", u':' + QString::fromLatin1(pantalla.trimmed()));
        return true;
    }
    [[nodiscard]] bool arrancaBandeja()
    {
        trayer_.setProcessEnvironment(x_);
        trayer_.start("trayer", {"--edge", "top", "--align", "left", "--widthtype", "pixel", "--width", "200", "--height", "32"});
        return EsperaA([this] { return !busca("^panel$").isEmpty(); });
    }
    void paraBandeja() { Termina(trayer_); }
    // The program docks over XEmbed: with a session bus Qt would use StatusNotifierItem, which
    // leaves no X window to click.
    QProcessEnvironment entornoPrograma() const
    {
        QProcessEnvironment e = x_;
        e.remove("DBUS_SESSION_BUS_ADDRESS");
        e.insert("QT_QPA_PLATFORM", "xcb");
        return e;
    }
    QString xdotool(const QStringList& argumentos) const { return Orden("xdotool", argumentos, x_); }
    // The visible windows whose title (or class) matches, one a line; espera waits until there is one.
    QString busca(const QString& que, const char* por = "--name") const { return xdotool({"search", "--onlyvisible", por, que}); }
    QStringList ventanas(const QString& clase) const { return busca(clase, "--class").split(u'\n', Qt::SkipEmptyParts); }
    QString espera(const QString& titulo) const
    {
        QString v;
        EsperaA([&] { return !(v = busca(titulo)).isEmpty(); });
        return v;
    }
    // Opens the menu of the program's icon and presses `tecla`. A click while the program still
    // holds the grab of the menu it closed is lost: once more.
    bool menu(const QString& icono, const char* tecla) const
    {
        const qsizetype antes = ventanas("pirel").size();
        for (int intento = 0; intento < 5; ++intento) {
            xdotool({"mousemove", "--window", icono, "11", "15", "click", "3"});
            if (EsperaA([&] { return ventanas("pirel").size() > antes; }, 2000)) {
                xdotool({"key", tecla});
                return true;
            }
        }
        return false;
    }
};

class BusesPrivados {
    QTemporaryDir dir_;
    QProcess daemons_[2];
public:
    ~BusesPrivados()
    {
        Termina(daemons_[0]);
        Termina(daemons_[1]);
    }
    // The usual session configuration: anyone may own any name, so the stand-ins own the desktop's.
    [[nodiscard]] bool arranca(QString* error)
    {
        for (bool s : {false, true}) {
            daemons_[s].start("dbus-daemon", {"--session", "--nofork", "--print-address", "--address=" + direccion(s)});
            if (!EsperaA([&] { return daemons_[s].canReadLine(); })) { // printed once it listens
                *error = "dbus-daemon: " + QString::fromLocal8Bit(daemons_[s].readAllStandardError());
                return false;
            }
        }
        return true;
    }
    QString direccion(bool sistema) const { return "unix:path=" + dir_.filePath(sistema ? "system" : "session"); }
    void aplica(QProcessEnvironment& e) const
    {
        e.insert("DBUS_SESSION_BUS_ADDRESS", direccion(false));
        e.insert("DBUS_SYSTEM_BUS_ADDRESS", direccion(true));
    }
    // A connection of this process, named `nombre`, that owns `servicio` with `objeto` at `ruta`, by default the service's.
    bool publica(bool sistema, const QString& nombre, const QString& servicio, QObject* objeto, const QString& ruta = {}) const
    {
        QDBusConnection bus = QDBusConnection::connectToBus(direccion(sistema), nombre);
        return bus.registerObject(ruta.isEmpty() ? u'/' + QString(servicio).replace(u'.', u'/') : ruta, objeto,
                                  QDBusConnection::ExportAllContents) && bus.registerService(servicio);
    }
};

// The panel's org.kde.StatusNotifierWatcher: each start is a new connection, as a restarted panel is.
class VigiaFalso : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    const BusesPrivados& buses_;
    int arranques_ = 0;
public:
    explicit VigiaFalso(const BusesPrivados& buses) : buses_(buses) {}
    ~VigiaFalso() override { para(); }
    bool arranca()
    {
        const QString n = "vigia" + QString::number(++arranques_);
        return buses_.publica(false, n, "org.kde.StatusNotifierWatcher", this, "/StatusNotifierWatcher");
    }
    void para() { QDBusConnection::disconnectFromBus("vigia" + QString::number(arranques_)); }
    QStringList registros; // by any start of the watcher
public slots:
    void RegisterStatusNotifierItem(const QString& servicio) { registros << servicio; }
};

// org.freedesktop.Notifications that keeps every Notify and the id it gave last.
class NotificadorFalso : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    bool arranca(const BusesPrivados& b) { return b.publica(false, "notificador", "org.freedesktop.Notifications", this); }
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
    uint estado_ = 20;
    static void envia(const QDBusMessage& m) { QDBusConnection("sistema").send(m); }
public:
    bool arranca(const BusesPrivados& buses, uint estadoRed)
    {
        estado_ = estadoRed;
        return buses.publica(true, "sistema", "org.freedesktop.NetworkManager", this)
               && QDBusConnection("sistema").registerService("org.freedesktop.login1");
    }
    void ponRed(uint estado)
    {
        envia(QDBusMessage::createSignal("/org/freedesktop/NetworkManager", "org.freedesktop.DBus.Properties", "PropertiesChanged")
              << "org.freedesktop.NetworkManager" << QVariantMap{{"State", estado_ = estado}} << QStringList());
    }
    void reanuda()
    {
        for (const bool antes : {true, false})
            envia(QDBusMessage::createSignal("/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep") << antes);
    }
};

}
