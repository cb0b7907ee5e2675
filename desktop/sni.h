#pragma once
// The program's icon for a notification area that lives on D-Bus (StatusNotifierItem), with
// its menu exported over com.canonical.dbusmenu: the panel draws the menu beside the icon,
// on X11 and on Wayland alike.
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QIcon>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QPoint>
#include <QVariantMap>

#include <functional>

class QAction;

namespace pirel {

// One picture: width, height and ARGB32 pixels in network byte order, (iiay).
struct PixmapDBus {
    int ancho = 0;
    int alto = 0;
    QByteArray datos;
};
using PixmapsDBus = QList<PixmapDBus>;
// (sa(iiay)ss): icon name, pictures, title and text.
struct ConsejoDBus {
    QString icono;
    PixmapsDBus pixmaps;
    QString titulo;
    QString texto;
};
// (ia{sv}av): a menu entry, its properties and its entries, each in a variant.
struct ElementoMenuDBus {
    int id = 0;
    QVariantMap propiedades;
    QList<ElementoMenuDBus> hijos;
};
// (ia{sv})
struct PropiedadesMenuDBus {
    int id = 0;
    QVariantMap propiedades;
};
// (isvu)
struct EventoMenuDBus {
    int id = 0;
    QString evento;
    QDBusVariant datos;
    uint sello = 0;
};

}

Q_DECLARE_METATYPE(pirel::PixmapDBus)
Q_DECLARE_METATYPE(pirel::ConsejoDBus)
Q_DECLARE_METATYPE(pirel::ElementoMenuDBus)
Q_DECLARE_METATYPE(pirel::PropiedadesMenuDBus)
Q_DECLARE_METATYPE(pirel::EventoMenuDBus)

namespace pirel {

QDBusArgument& operator<<(QDBusArgument& a, const PixmapDBus& p);
const QDBusArgument& operator>>(const QDBusArgument& a, PixmapDBus& p);
QDBusArgument& operator<<(QDBusArgument& a, const ConsejoDBus& c);
const QDBusArgument& operator>>(const QDBusArgument& a, ConsejoDBus& c);
QDBusArgument& operator<<(QDBusArgument& a, const ElementoMenuDBus& e);
const QDBusArgument& operator>>(const QDBusArgument& a, ElementoMenuDBus& e);
QDBusArgument& operator<<(QDBusArgument& a, const PropiedadesMenuDBus& p);
const QDBusArgument& operator>>(const QDBusArgument& a, PropiedadesMenuDBus& p);
QDBusArgument& operator<<(QDBusArgument& a, const EventoMenuDBus& e);
const QDBusArgument& operator>>(const QDBusArgument& a, EventoMenuDBus& e);

// Makes the types above known to QtDBus; callable any number of times.
void RegistraTiposSni();

// A menu label with its mnemonic as dbusmenu writes it: "&Salir" becomes "_Salir".
[[nodiscard]] QString EtiquetaMenu(const QString& texto);

// A menu as com.canonical.dbusmenu: entry n is the menu's action n, 0 the menu itself.
class MenuDBus : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ direccion)
    Q_PROPERTY(QString Status READ estado)
    Q_PROPERTY(QStringList IconThemePath READ rutasIconos)
public:
    using Acciones = std::function<QList<QAction*>()>;
    explicit MenuDBus(Acciones acciones, QObject* padre = nullptr);

    uint version() const { return 3; }
    QString direccion() const { return QStringLiteral("ltr"); }
    QString estado() const { return QStringLiteral("normal"); }
    QStringList rutasIconos() const { return {}; }

public slots:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames, pirel::ElementoMenuDBus& layout);
    QList<pirel::PropiedadesMenuDBus> GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames);
    QDBusVariant GetProperty(int id, const QString& name);
    void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp);
    QList<int> EventGroup(const QList<pirel::EventoMenuDBus>& events);
    bool AboutToShow(int id);
    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors);

signals:
    void LayoutUpdated(uint revision, int parent);
    void ItemActivationRequested(int id, uint timestamp);

private:
    QList<QAction*> acciones() const;
    QVariantMap propiedades(int id, const QStringList& nombres) const;
    void vigila();

    Acciones acciones_;
    QList<QAction*> vigiladas_;
    uint revision_ = 1;
};

// The item itself, on a connection of its own: the area drops an item when the
// connection that registered it goes away.
class ElementoSni : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ categoria)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ titulo)
    Q_PROPERTY(QString Status READ estado)
    Q_PROPERTY(int WindowId READ ventana)
    Q_PROPERTY(QString IconThemePath READ vacio)
    Q_PROPERTY(QString IconName READ vacio)
    Q_PROPERTY(pirel::PixmapsDBus IconPixmap READ pixmaps)
    Q_PROPERTY(QString OverlayIconName READ vacio)
    Q_PROPERTY(pirel::PixmapsDBus OverlayIconPixmap READ ninguno)
    Q_PROPERTY(QString AttentionIconName READ vacio)
    Q_PROPERTY(pirel::PixmapsDBus AttentionIconPixmap READ ninguno)
    Q_PROPERTY(QString AttentionMovieName READ vacio)
    Q_PROPERTY(pirel::ConsejoDBus ToolTip READ consejo)
    Q_PROPERTY(bool ItemIsMenu READ falso)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)
public:
    static constexpr char kVigia[] = "org.kde.StatusNotifierWatcher";
    static constexpr char kRutaVigia[] = "/StatusNotifierWatcher";

    enum class Clic { Principal, Menu };
    // `raton` takes the area's clicks; it runs once the D-Bus call has been answered.
    ElementoSni(MenuDBus::Acciones acciones, std::function<void(Clic)> raton);
    ~ElementoSni() override;

    void pon(const QIcon& icono, const QString& consejo);
    // Tells the watcher about this item again: a watcher that restarts forgets it.
    void anunciaAVigia();
    // Where the area asked for the menu or reported the click, in screen coordinates.
    QPoint punto() const { return punto_; }

    QString categoria() const { return QStringLiteral("Communications"); }
    QString id() const { return QStringLiteral("ludaren-electronico"); }
    QString titulo() const { return QStringLiteral("Ludaren Electrónico"); }
    QString estado() const { return QStringLiteral("Active"); }
    int ventana() const { return 0; }
    QString vacio() const { return {}; }
    PixmapsDBus pixmaps() const { return pixmaps_; }
    PixmapsDBus ninguno() const { return {}; }
    ConsejoDBus consejo() const { return {{}, {}, consejo_, {}}; }
    bool falso() const { return false; }
    QDBusObjectPath menu() const { return QDBusObjectPath(QStringLiteral("/MenuBar")); }

public slots:
    void Activate(int x, int y);
    void SecondaryActivate(int x, int y);
    void ContextMenu(int x, int y);
    void Scroll(int delta, const QString& orientation);

signals:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

private:
    void raton(int x, int y, Clic clic);

    QString nombreConexion_;
    QDBusConnection bus_;
    MenuDBus menuDBus_;
    std::function<void(Clic)> raton_;
    PixmapsDBus pixmaps_;
    qint64 claveIcono_ = 0;
    QString consejo_;
    QPoint punto_;
};

}
