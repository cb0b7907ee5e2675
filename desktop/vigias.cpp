#include "vigias.h"

#include <QDBusConnection>

#include <ctime>

namespace pirel {
namespace {

bool alcanzable(QNetworkInformation::Reachability r)
{
    using R = QNetworkInformation::Reachability;
    return r == R::Local || r == R::Site || r == R::Online;
}

}

Vigias::Vigias()
{
    QDBusConnection::systemBus().connect(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                                         QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"),
                                         this, SLOT(sueno(bool)));
    if (!QNetworkInformation::loadBackendByName(u"networkmanager")
        && !QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability))
        return;
    const QNetworkInformation* red = QNetworkInformation::instance();
    deNetworkManager_ = red->backendName().compare(u"networkmanager", Qt::CaseInsensitive) == 0;
    red_ = red->reachability();
    connect(red, &QNetworkInformation::reachabilityChanged, this, &Vigias::cambiaRed);
}

bool Vigias::redCaida() const
{
    return deNetworkManager_ && red_ == QNetworkInformation::Reachability::Disconnected;
}

void Vigias::sueno(bool entrando)
{
    if (entrando)
        emit seDuerme();
    else
        emit despierta();
}

void Vigias::cambiaRed(QNetworkInformation::Reachability ahora)
{
    const bool vuelve = alcanzable(ahora) && !alcanzable(red_);
    red_ = ahora;
    if (vuelve)
        emit redVuelve();
}

qint64 MsDesdeArranque()
{
    timespec t{};
    ::clock_gettime(CLOCK_BOOTTIME, &t);
    return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

}
