#pragma once
// The desktop's notification area, whichever kind it has. A StatusNotifierWatcher with a
// host on the session bus gets the program's own D-Bus item; otherwise Qt's icon, which
// docks into an X tray (XEmbed). At log-on the panel may come after the program: without
// an X tray, the watcher is awaited for a while before the icon is made, and whenever a
// watcher appears later, or restarts, the icon is made again for it.
#include "tray_icon.h"

#include <QObject>
#include <QTimer>

#include <memory>

namespace pirel {

class ElementoSni;
class IconoQt;

class AreaEscritorio final : public QObject, public AreaNotificacion {
    Q_OBJECT
public:
    AreaEscritorio();
    ~AreaEscritorio() override;

    void agrega(const QIcon& icono, const QString& consejo) override;
    void modifica(const QIcon& icono, const QString& consejo) override;
    void quita() override;
    QPoint cursor() const override;
    void muestraMenu(QMenu* menu, const QPoint& punto) override;
    // While the watcher is still awaited a tray is presumed.
    bool hayBandeja() const override;

private slots:
    void leeAnfitrion();

private:
    enum class Via { Ninguna, Qt, Sni };
    void vigiaAparece();
    void vigiaSeVa();
    void espera();
    void aplica();

    QIcon icono_;
    QString consejo_;
    bool visible_ = false;
    bool vigia_ = false;
    // Whether a panel shows the watcher's items; presumed until the watcher says.
    bool anfitrion_ = true;
    bool esperando_ = false;
    Via via_ = Via::Ninguna;
    QTimer espera_;
    std::unique_ptr<IconoQt> qt_;
    std::unique_ptr<ElementoSni> sni_;
};

}
