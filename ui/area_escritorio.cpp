#include "area_escritorio.h"

#include "plazos.h"
#include "sni.h"

#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QMenu>
#include <QSystemTrayIcon>

namespace pirel {

// Qt's icon. Qt docks it again by itself when an X tray appears after the program or
// restarts. It is only ever made while no watcher with a host is there, so Qt, which decides
// once per process whether to go through D-Bus, takes the X way and leaves D-Bus to us.
class IconoQt {
public:
    explicit IconoQt(std::function<void(int)> raton)
    {
        QObject::connect(&icono_, &QSystemTrayIcon::activated, [raton](QSystemTrayIcon::ActivationReason razon) {
            switch (razon) {
            case QSystemTrayIcon::Trigger: raton(TTrayIcon::WM_LBUTTONUP); break;
            case QSystemTrayIcon::DoubleClick: raton(TTrayIcon::WM_LBUTTONDBLCLK); break;
            case QSystemTrayIcon::Context: raton(TTrayIcon::WM_RBUTTONUP); break;
            default: break;
            }
        });
    }
    void pon(const QIcon& icono, const QString& consejo, bool visible)
    {
        icono_.setIcon(icono);
        icono_.setToolTip(consejo);
        // Qt refuses to show an icon without a picture; it shows once one is set.
        if (visible && !icono.isNull() && !icono_.isVisible())
            icono_.show();
        else if (!visible)
            icono_.hide();
    }

private:
    QSystemTrayIcon icono_;
};

namespace {

const QString kVigia = QLatin1String(ElementoSni::kVigia);
const QString kRutaVigia = QLatin1String(ElementoSni::kRutaVigia);

}

AreaEscritorio::AreaEscritorio()
{
    espera_.setSingleShot(true);
    connect(&espera_, &QTimer::timeout, this, [this] {
        esperando_ = false;
        aplica();
    });
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        aplica();
        return;
    }
    // Told by the bus when the watcher comes or goes: nothing is polled.
    auto* vigilante = new QDBusServiceWatcher(
        kVigia, bus, QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration, this);
    connect(vigilante, &QDBusServiceWatcher::serviceRegistered, this, &AreaEscritorio::vigiaAparece);
    connect(vigilante, &QDBusServiceWatcher::serviceUnregistered, this, &AreaEscritorio::vigiaSeVa);
    for (const char* senal : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"})
        bus.connect(kVigia, kRutaVigia, kVigia, QLatin1String(senal), this, SLOT(leeAnfitrion()));
    if (bus.interface()->isServiceRegistered(kVigia)) {
        vigiaAparece();
        return;
    }
    // An X tray that is already there needs no waiting.
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        espera();
    aplica();
}

AreaEscritorio::~AreaEscritorio() = default;

void AreaEscritorio::espera()
{
    esperando_ = true;
    espera_.start(plazos::bandeja());
}

void AreaEscritorio::vigiaAparece()
{
    vigia_ = true;
    anfitrion_ = true;
    esperando_ = false;
    espera_.stop();
    // A watcher that restarted knows nothing of the item.
    if (sni_)
        sni_->anunciaAVigia();
    leeAnfitrion();
    aplica();
}

void AreaEscritorio::vigiaSeVa()
{
    vigia_ = false;
    // Perhaps only a restart: the item waits for the next watcher a while.
    espera();
    aplica();
}

void AreaEscritorio::leeAnfitrion()
{
    QDBusMessage m = QDBusMessage::createMethodCall(kVigia, kRutaVigia, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                    QStringLiteral("Get"));
    m << kVigia << QStringLiteral("IsStatusNotifierHostRegistered");
    auto* espera = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(m), this);
    connect(espera, &QDBusPendingCallWatcher::finished, this, [this, espera] {
        espera->deleteLater();
        const QDBusMessage r = espera->reply();
        if (r.type() != QDBusMessage::ReplyMessage || !vigia_)
            return;
        anfitrion_ = r.arguments().value(0).value<QDBusVariant>().variant().toBool();
        aplica();
    });
}

void AreaEscritorio::aplica()
{
    if (vigia_ && anfitrion_)
        via_ = Via::Sni;
    // While the watcher is awaited, an item already made waits with it.
    else if (!esperando_)
        via_ = Via::Qt;
    else if (via_ != Via::Sni)
        via_ = Via::Ninguna;
    if (via_ != Via::Qt)
        qt_.reset();
    if (via_ != Via::Sni || !visible_)
        sni_.reset();
    const auto raton = [this](int mensaje) {
        if (alRaton)
            alRaton(mensaje);
    };
    if (via_ == Via::Qt) {
        if (!qt_)
            qt_ = std::make_unique<IconoQt>(raton);
        qt_->pon(icono_, consejo_, visible_);
    } else if (via_ == Via::Sni && visible_) {
        if (!sni_)
            sni_ = std::make_unique<ElementoSni>(
                [this] {
                    QMenu* m = menu ? menu() : nullptr;
                    return m ? m->actions() : QList<QAction*>();
                },
                [raton](ElementoSni::Clic clic) {
                    raton(clic == ElementoSni::Clic::Principal ? TTrayIcon::WM_LBUTTONUP : TTrayIcon::WM_RBUTTONUP);
                });
        sni_->pon(icono_, consejo_);
    }
}

void AreaEscritorio::agrega(const QIcon& icono, const QString& consejo)
{
    visible_ = true;
    modifica(icono, consejo);
}

void AreaEscritorio::modifica(const QIcon& icono, const QString& consejo)
{
    icono_ = icono;
    consejo_ = consejo;
    aplica();
}

void AreaEscritorio::quita()
{
    visible_ = false;
    aplica();
}

QPoint AreaEscritorio::cursor() const
{
    return sni_ ? sni_->punto() : QCursor::pos();
}

void AreaEscritorio::muestraMenu(QMenu* menu, const QPoint& punto)
{
    menu->exec(punto);
}

bool AreaEscritorio::hayBandeja() const
{
    switch (via_) {
    case Via::Sni: return true;
    case Via::Qt: return QSystemTrayIcon::isSystemTrayAvailable();
    case Via::Ninguna: return esperando_;
    }
    return false;
}

}
