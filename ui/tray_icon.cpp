#include "tray_icon.h"

#include "area_escritorio.h"

#include <QApplication>
#include <QMenu>

namespace pirel {

TTrayIcon::TTrayIcon(QObject* parent, std::unique_ptr<AreaNotificacion> area)
    : QObject(parent)
    , area_(area ? std::move(area) : std::make_unique<AreaEscritorio>())
{
    area_->alRaton = [this](int mensaje) { WndProc(mensaje); };
    area_->menu = [this] { return PopupMenu.data(); };
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
