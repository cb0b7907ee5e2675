#pragma once
// The program's icon in the notification area: a picture, a tooltip of at most 62
// characters, and mouse actions turned into events; a right click opens the menu.
#include <QIcon>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QMenu;

namespace pirel {

// What the component asks of the notification area, so that tests can watch it.
class AreaNotificacion {
public:
    virtual ~AreaNotificacion() = default;
    virtual void agrega(const QIcon& icono, const QString& consejo) = 0;
    virtual void modifica(const QIcon& icono, const QString& consejo) = 0;
    virtual void quita() = 0;
    virtual QPoint cursor() const = 0;
    // Shows the menu at the point and returns once it has closed.
    virtual void muestraMenu(QMenu* menu, const QPoint& punto) = 0;
    // Whether the desktop has a notification area to show the icon in.
    virtual bool hayBandeja() const { return true; }
    // Mouse actions on the icon arrive here as the shell's mouse messages.
    std::function<void(int mensajeRaton)> alRaton;
    // The icon's menu, for an area that draws the menu itself.
    std::function<QMenu*()> menu;
};

class TTrayIcon : public QObject {
    Q_OBJECT
public:
    // Mouse messages as the notification area reports them.
    static constexpr int WM_LBUTTONUP = 0x0202, WM_LBUTTONDBLCLK = 0x0203, WM_RBUTTONUP = 0x0205;
    static constexpr qsizetype kLargoConsejo = 62;

    // Without an area of its own it uses the desktop's.
    explicit TTrayIcon(QObject* parent = nullptr, std::unique_ptr<AreaNotificacion> area = nullptr);
    ~TTrayIcon() override;

    bool Active() const { return activo_; }
    void setActive(bool valor);
    // There is no form designer: the run-mode rule applies and writing does nothing.
    bool ShowDesigning() const { return false; }
    void setShowDesigning(bool) {}
    const QIcon& Icon() const { return icono_; }
    void setIcon(const QIcon& icono);
    const QString& ToolTip() const { return consejo_; }
    void setToolTip(const QString& consejo);

    std::function<void(QObject* Sender)> OnClick;
    std::function<void(QObject* Sender)> OnDblClick;
    std::function<void(QObject* Sender, Qt::MouseButton, Qt::KeyboardModifiers, int X, int Y)> OnRightClick;
    QPointer<QMenu> PopupMenu;

    // A mouse message from the area, as the hidden window received it.
    void WndProc(int mensajeRaton);
    [[nodiscard]] bool hayBandeja() const { return area_->hayBandeja(); }

private:
    void AddIcon();
    void ModifyIcon();
    void RemoveIcon();
    void HandleRightClick();
    void refrescaConsejo();

    std::unique_ptr<AreaNotificacion> area_;
    bool activo_ = false;
    QIcon icono_;
    QString consejo_;
};

}
