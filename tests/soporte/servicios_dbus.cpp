#include "servicios_dbus.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

namespace pirel::prueba {

bool EsperaConEventos(const std::function<bool()>& condicion, int ms)
{
    const QDeadlineTimer plazo(ms);
    while (!plazo.hasExpired()) {
        if (condicion())
            return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return condicion();
}

BusesPrivados::~BusesPrivados()
{
    for (QProcess* p : {&sesion_, &sistema_}) {
        p->kill();
        p->waitForFinished(3000);
    }
}

bool BusesPrivados::lanza(QProcess& daemon, const QString& tipo, QString* direccion, QString* error)
{
    const QString zocalo = dir_.filePath(tipo);
    *direccion = QStringLiteral("unix:path=") + zocalo;
    const QString config = dir_.filePath(tipo + QStringLiteral(".conf"));
    QFile f(config);
    if (!f.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write ") + config;
        return false;
    }
    // Anyone may own any name and call anything: the stand-ins own the desktop's names.
    f.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n<busconfig>\n  <type>"
            + tipo.toUtf8() + "</type>\n  <listen>" + direccion->toUtf8()
            + "</listen>\n  <auth>EXTERNAL</auth>\n  <policy context=\"default\">\n"
              "    <allow user=\"*\"/>\n    <allow own=\"*\"/>\n    <allow send_destination=\"*\"/>\n"
              "    <allow receive_sender=\"*\"/>\n  </policy>\n</busconfig>\n");
    f.close();
    daemon.setStandardOutputFile(QProcess::nullDevice());
    daemon.setStandardErrorFile(dir_.filePath(tipo + QStringLiteral(".log")));
    daemon.start(QStringLiteral("dbus-daemon"), {"--nofork", "--nopidfile", "--config-file=" + config});
    if (!EsperaConEventos([&] { return QFile::exists(zocalo) || daemon.state() == QProcess::NotRunning; }, 10000)
        || daemon.state() == QProcess::NotRunning) {
        QFile registro(dir_.filePath(tipo + QStringLiteral(".log")));
        registro.open(QIODevice::ReadOnly);
        *error = "dbus-daemon (" + tipo + ") did not start: " + QString::fromLocal8Bit(registro.readAll());
        return false;
    }
    return true;
}

bool BusesPrivados::arranca(QString* error)
{
    return lanza(sesion_, QStringLiteral("session"), &dirSesion_, error)
        && lanza(sistema_, QStringLiteral("system"), &dirSistema_, error);
}

void BusesPrivados::aplica(QProcessEnvironment& entorno) const
{
    entorno.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), dirSesion_);
    entorno.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), dirSistema_);
}

QDBusConnection BusesPrivados::conecta(bool sistema, const QString& nombre) const
{
    return QDBusConnection::connectToBus(sistema ? dirSistema_ : dirSesion_, nombre);
}

bool VigiaFalso::arranca()
{
    conexion_ = QStringLiteral("vigia-%1").arg(++arranques_);
    QDBusConnection bus = buses_.conecta(false, conexion_);
    desde_.start();
    return bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), this, QDBusConnection::ExportAllContents)
        && bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
}

void VigiaFalso::para()
{
    if (!conexion_.isEmpty())
        QDBusConnection::disconnectFromBus(conexion_);
    conexion_.clear();
}

QStringList VigiaFalso::elementos() const
{
    QStringList lista;
    for (const Registro& r : registros)
        if (r.arranque == arranques_)
            lista << r.servicio;
    return lista;
}

void VigiaFalso::RegisterStatusNotifierItem(const QString& service)
{
    registros.append({service, arranques_, desde_.elapsed()});
    emit StatusNotifierItemRegistered(service);
}

void VigiaFalso::RegisterStatusNotifierHost(const QString&)
{
    emit StatusNotifierHostRegistered();
}

bool NotificadorFalso::arranca(const BusesPrivados& buses)
{
    QDBusConnection bus = buses.conecta(false, QStringLiteral("notificaciones"));
    return bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this, QDBusConnection::ExportAllContents)
        && bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
}

uint NotificadorFalso::Notify(const QString& app_name, uint replaces_id, const QString& app_icon, const QString& summary,
                              const QString& body, const QStringList& actions, const QVariantMap& hints,
                              int expire_timeout)
{
    const uint id = replaces_id != 0 ? replaces_id : ++siguiente_;
    llamadas.append({app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout, id});
    return id;
}

QString NotificadorFalso::GetServerInformation(QString& vendor, QString& version, QString& spec_version)
{
    vendor = QStringLiteral("pruebas");
    version = QStringLiteral("1");
    spec_version = QStringLiteral("1.2");
    return QStringLiteral("notificador falso");
}

// NetworkManager's one property the program reads through Qt.
class Red : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.NetworkManager")
    Q_PROPERTY(uint State READ estado)
    Q_PROPERTY(uint Connectivity READ conectividad)
public:
    uint estado_ = 0;
    uint estado() const { return estado_; }
    uint conectividad() const { return estado_ == 70 ? 4 : 1; }

signals:
    // NetworkManager's older signal, which some Qt versions still follow.
    void PropertiesChanged(const QVariantMap& properties);
};

bool SistemaFalso::arranca(const BusesPrivados& buses, uint estadoRed)
{
    bus_ = buses.conecta(true, QStringLiteral("sistema"));
    red_ = new Red;
    red_->setParent(this);
    red_->estado_ = estadoRed;
    return bus_.registerObject(QStringLiteral("/org/freedesktop/login1"), this, QDBusConnection::ExportAllSignals)
        && bus_.registerObject(QStringLiteral("/org/freedesktop/NetworkManager"), red_, QDBusConnection::ExportAllContents)
        && bus_.registerService(QStringLiteral("org.freedesktop.login1"))
        && bus_.registerService(QStringLiteral("org.freedesktop.NetworkManager"));
}

void SistemaFalso::ponRed(uint estado)
{
    red_->estado_ = estado;
    const QVariantMap cambios{{QStringLiteral("State"), estado}, {QStringLiteral("Connectivity"), red_->conectividad()}};
    emit red_->PropertiesChanged(cambios);
    QDBusMessage m = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/NetworkManager"),
                                                QStringLiteral("org.freedesktop.DBus.Properties"),
                                                QStringLiteral("PropertiesChanged"));
    m << QStringLiteral("org.freedesktop.NetworkManager") << cambios << QStringList();
    bus_.send(m);
}

}

#include "servicios_dbus.moc"
