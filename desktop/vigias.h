#pragma once
// What the system says about sleep and the network: logind's PrepareForSleep on the
// system bus and Qt's network information. Either may be missing; then nothing is said.
#include <QNetworkInformation>
#include <QObject>

namespace pirel {

class Vigias : public QObject {
    Q_OBJECT
public:
    Vigias();

    // Only NetworkManager's own "disconnected" counts: other backends report no route to
    // the Internet as down, while the mail server may be on the local network.
    [[nodiscard]] bool redCaida() const;

signals:
    void seDuerme();
    void despierta();
    // Reachable again after being down or unknown.
    void redVuelve();

private slots:
    void sueno(bool entrando);

private:
    void cambiaRed(QNetworkInformation::Reachability ahora);

    QNetworkInformation::Reachability red_ = QNetworkInformation::Reachability::Unknown;
    bool deNetworkManager_ = false;
};

// Milliseconds since boot, suspends included: the monotonic clock Qt's timers use stops
// while the machine sleeps, which would make a check from before a long sleep look recent.
[[nodiscard]] qint64 MsDesdeArranque();

}
