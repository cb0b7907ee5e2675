#include "tray_icon.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QSystemTrayIcon>

namespace pirel {
namespace {

// The desktop's notification area. Qt docks the icon again by itself when a panel
// that holds the area restarts, and when the area appears after the program.
class AreaQt final : public AreaNotificacion {
public:
    AreaQt()
    {
        QObject::connect(&icono_, &QSystemTrayIcon::activated, [this](QSystemTrayIcon::ActivationReason razon) {
            if (!alRaton)
                return;
            switch (razon) {
            case QSystemTrayIcon::Trigger: alRaton(TTrayIcon::WM_LBUTTONUP); break;
            case QSystemTrayIcon::DoubleClick: alRaton(TTrayIcon::WM_LBUTTONDBLCLK); break;
            case QSystemTrayIcon::Context: alRaton(TTrayIcon::WM_RBUTTONUP); break;
            default: break;
            }
        });
    }
    void agrega(const QIcon& icono, const QString& consejo) override
    {
        visible_ = true;
        modifica(icono, consejo);
    }
    void modifica(const QIcon& icono, const QString& consejo) override
    {
        icono_.setIcon(icono);
        icono_.setToolTip(consejo);
        // Qt refuses to show an icon without a picture; it shows once one is set.
        if (visible_ && !icono.isNull() && !icono_.isVisible())
            icono_.show();
    }
    void quita() override
    {
        visible_ = false;
        icono_.hide();
    }
    QPoint cursor() const override { return QCursor::pos(); }
    void muestraMenu(QMenu* menu, const QPoint& punto) override { menu->exec(punto); }

private:
    QSystemTrayIcon icono_;
    bool visible_ = false;
};

}

TTrayIcon::TTrayIcon(QObject* parent, std::unique_ptr<AreaNotificacion> area)
    : QObject(parent)
    , area_(area ? std::move(area) : std::make_unique<AreaQt>())
{
    area_->alRaton = [this](int mensaje) { WndProc(mensaje); };
}

TTrayIcon::~TTrayIcon()
{
    if (activo_)
        RemoveIcon();
}

void TTrayIcon::setActive(bool valor)
{
    if (valor == activo_)
        return;
    activo_ = valor;
    if (valor)
        AddIcon();
    else
        RemoveIcon();
}

void TTrayIcon::setIcon(const QIcon& icono)
{
    if (&icono == &icono_)
        return;
    icono_ = icono;
    ModifyIcon();
}

void TTrayIcon::setToolTip(const QString& consejo)
{
    consejo_ = consejo.left(kLargoConsejo);
    ModifyIcon();
}

void TTrayIcon::AddIcon()
{
    area_->agrega(icono_, consejo_);
    // An icon added before its tooltip was set gets it once the loop runs again.
    if (consejo_.isEmpty())
        QMetaObject::invokeMethod(this, &TTrayIcon::refrescaConsejo, Qt::QueuedConnection);
}

void TTrayIcon::ModifyIcon()
{
    if (activo_)
        area_->modifica(icono_, consejo_);
}

void TTrayIcon::RemoveIcon()
{
    area_->quita();
}

void TTrayIcon::refrescaConsejo()
{
    setToolTip(consejo_);
}

void TTrayIcon::WndProc(int mensajeRaton)
{
    switch (mensajeRaton) {
    case WM_LBUTTONUP:
        if (OnClick)
            OnClick(this);
        break;
    case WM_LBUTTONDBLCLK:
        if (OnDblClick)
            OnDblClick(this);
        break;
    case WM_RBUTTONUP:
        HandleRightClick();
        break;
    default:
        break;
    }
}

void TTrayIcon::HandleRightClick()
{
    const QPoint punto = area_->cursor();
    if (PopupMenu) {
        QApplication::processEvents();
        area_->muestraMenu(PopupMenu, punto);
    }
    if (OnRightClick)
        OnRightClick(this, Qt::RightButton, Qt::NoModifier, punto.x(), punto.y());
}

}
