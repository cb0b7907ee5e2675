#include "sni.h"

#include <QAction>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusMetaType>
#include <QImage>
#include <QtEndian>

namespace pirel {
namespace {

const QString kRutaElemento = QStringLiteral("/StatusNotifierItem");
const QString kRutaMenu = QStringLiteral("/MenuBar");
// Panels pick the picture nearest to their own size.
constexpr int kTamanos[] = {16, 22, 24, 32, 48, 64};

PixmapsDBus dibuja(const QIcon& icono)
{
    PixmapsDBus lista;
    if (icono.isNull())
        return lista;
    for (const int lado : kTamanos) {
        const QImage imagen = icono.pixmap(lado, lado).toImage().convertToFormat(QImage::Format_ARGB32);
        if (imagen.isNull())
            continue;
        PixmapDBus p{imagen.width(), imagen.height(), QByteArray(imagen.width() * imagen.height() * 4, Qt::Uninitialized)};
        auto* destino = reinterpret_cast<quint32*>(p.datos.data());
        for (int y = 0; y < imagen.height(); ++y) {
            const auto* linea = reinterpret_cast<const quint32*>(imagen.constScanLine(y));
            for (int x = 0; x < imagen.width(); ++x)
                *destino++ = qToBigEndian(linea[x]);
        }
        lista << p;
    }
    return lista;
}

}

QDBusArgument& operator<<(QDBusArgument& a, const PixmapDBus& p)
{
    a.beginStructure();
    a << p.ancho << p.alto << p.datos;
    a.endStructure();
    return a;
}

const QDBusArgument& operator>>(const QDBusArgument& a, PixmapDBus& p)
{
    a.beginStructure();
    a >> p.ancho >> p.alto >> p.datos;
    a.endStructure();
    return a;
}

QDBusArgument& operator<<(QDBusArgument& a, const ConsejoDBus& c)
{
    a.beginStructure();
    a << c.icono << c.pixmaps << c.titulo << c.texto;
    a.endStructure();
    return a;
}

const QDBusArgument& operator>>(const QDBusArgument& a, ConsejoDBus& c)
{
    a.beginStructure();
    a >> c.icono >> c.pixmaps >> c.titulo >> c.texto;
    a.endStructure();
    return a;
}

QDBusArgument& operator<<(QDBusArgument& a, const ElementoMenuDBus& e)
{
    a.beginStructure();
    a << e.id << e.propiedades;
    a.beginArray(QMetaType::fromType<QDBusVariant>());
    for (const ElementoMenuDBus& hijo : e.hijos)
        a << QDBusVariant(QVariant::fromValue(hijo));
    a.endArray();
    a.endStructure();
    return a;
}

const QDBusArgument& operator>>(const QDBusArgument& a, ElementoMenuDBus& e)
{
    a.beginStructure();
    a >> e.id >> e.propiedades;
    e.hijos.clear();
    a.beginArray();
    while (!a.atEnd()) {
        QDBusVariant v;
        a >> v;
        ElementoMenuDBus hijo;
        v.variant().value<QDBusArgument>() >> hijo;
        e.hijos << hijo;
    }
    a.endArray();
    a.endStructure();
    return a;
}

QDBusArgument& operator<<(QDBusArgument& a, const PropiedadesMenuDBus& p)
{
    a.beginStructure();
    a << p.id << p.propiedades;
    a.endStructure();
    return a;
}

const QDBusArgument& operator>>(const QDBusArgument& a, PropiedadesMenuDBus& p)
{
    a.beginStructure();
    a >> p.id >> p.propiedades;
    a.endStructure();
    return a;
}

QDBusArgument& operator<<(QDBusArgument& a, const EventoMenuDBus& e)
{
    a.beginStructure();
    a << e.id << e.evento << e.datos << e.sello;
    a.endStructure();
    return a;
}

const QDBusArgument& operator>>(const QDBusArgument& a, EventoMenuDBus& e)
{
    a.beginStructure();
    a >> e.id >> e.evento >> e.datos >> e.sello;
    a.endStructure();
    return a;
}

void RegistraTiposSni()
{
    qDBusRegisterMetaType<PixmapDBus>();
    qDBusRegisterMetaType<PixmapsDBus>();
    qDBusRegisterMetaType<ConsejoDBus>();
    qDBusRegisterMetaType<ElementoMenuDBus>();
    qDBusRegisterMetaType<PropiedadesMenuDBus>();
    qDBusRegisterMetaType<QList<PropiedadesMenuDBus>>();
    qDBusRegisterMetaType<EventoMenuDBus>();
    qDBusRegisterMetaType<QList<EventoMenuDBus>>();
}

QString EtiquetaMenu(const QString& texto)
{
    QString etiqueta;
    for (qsizetype i = 0; i < texto.size(); ++i) {
        const QChar c = texto.at(i);
        if (c == u'_')
            etiqueta += QStringLiteral("__");
        else if (c == u'&' && i + 1 < texto.size() && texto.at(i + 1) == u'&')
            etiqueta += texto.at(++i);
        else if (c == u'&')
            etiqueta += u'_';
        else
            etiqueta += c;
    }
    return etiqueta;
}

MenuDBus::MenuDBus(Acciones acciones, QObject* padre)
    : QObject(padre)
    , acciones_(std::move(acciones))
{
}

QList<QAction*> MenuDBus::acciones() const
{
    return acciones_ ? acciones_() : QList<QAction*>();
}

void MenuDBus::vigila()
{
    // A change of an entry (an item enabled or disabled) makes the panel read the menu again.
    for (QAction* a : acciones()) {
        if (vigiladas_.contains(a))
            continue;
        vigiladas_ << a;
        connect(a, &QAction::changed, this, [this] { emit LayoutUpdated(++revision_, 0); });
        connect(a, &QObject::destroyed, this, [this, a] { vigiladas_.removeAll(a); });
    }
}

QVariantMap MenuDBus::propiedades(int id, const QStringList& nombres) const
{
    QVariantMap p;
    const QList<QAction*> lista = acciones();
    if (id == 0) {
        p.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    } else if (const QAction* a = lista.value(id - 1)) {
        if (a->isSeparator()) {
            p.insert(QStringLiteral("type"), QStringLiteral("separator"));
        } else {
            p.insert(QStringLiteral("label"), EtiquetaMenu(a->text()));
            p.insert(QStringLiteral("enabled"), a->isEnabled());
        }
        p.insert(QStringLiteral("visible"), a->isVisible());
    }
    if (nombres.isEmpty())
        return p;
    QVariantMap pedidas;
    for (const QString& n : nombres)
        if (p.contains(n))
            pedidas.insert(n, p.value(n));
    return pedidas;
}

uint MenuDBus::GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames, ElementoMenuDBus& layout)
{
    vigila();
    layout = {parentId, propiedades(parentId, propertyNames), {}};
    // The menu is flat: only the root has entries.
    if (parentId == 0 && recursionDepth != 0)
        for (int id = 1; id <= acciones().size(); ++id)
            layout.hijos << ElementoMenuDBus{id, propiedades(id, propertyNames), {}};
    return revision_;
}

QList<PropiedadesMenuDBus> MenuDBus::GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames)
{
    QList<PropiedadesMenuDBus> lista;
    for (const int id : ids)
        lista << PropiedadesMenuDBus{id, propiedades(id, propertyNames)};
    return lista;
}

QDBusVariant MenuDBus::GetProperty(int id, const QString& name)
{
    return QDBusVariant(propiedades(id, {}).value(name));
}

void MenuDBus::Event(int id, const QString& eventId, const QDBusVariant&, uint)
{
    QAction* a = acciones().value(id - 1);
    // After the reply: the command may run a check, which waits on the network.
    if (a && eventId == QLatin1String("clicked") && a->isEnabled() && !a->isSeparator())
        QMetaObject::invokeMethod(a, &QAction::trigger, Qt::QueuedConnection);
}

QList<int> MenuDBus::EventGroup(const QList<EventoMenuDBus>& events)
{
    QList<int> errores;
    for (const EventoMenuDBus& e : events) {
        if (e.id < 0 || e.id > acciones().size())
            errores << e.id;
        else
            Event(e.id, e.evento, e.datos, e.sello);
    }
    return errores;
}

bool MenuDBus::AboutToShow(int)
{
    return false;
}

QList<int> MenuDBus::AboutToShowGroup(const QList<int>&, QList<int>& idErrors)
{
    idErrors.clear();
    return {};
}

ElementoSni::ElementoSni(MenuDBus::Acciones acciones, std::function<void(Clic)> raton)
    : nombreConexion_(QStringLiteral("pirel-sni-%1").arg(quintptr(this), 0, 16))
    , bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, nombreConexion_))
    , menuDBus_(std::move(acciones))
    , raton_(std::move(raton))
{
    RegistraTiposSni();
    bus_.registerObject(kRutaElemento, this, QDBusConnection::ExportAllContents);
    bus_.registerObject(kRutaMenu, &menuDBus_, QDBusConnection::ExportAllContents);
    anunciaAVigia();
}

ElementoSni::~ElementoSni()
{
    bus_.unregisterObject(kRutaMenu);
    bus_.unregisterObject(kRutaElemento);
    QDBusConnection::disconnectFromBus(nombreConexion_);
}

void ElementoSni::anunciaAVigia()
{
    QDBusMessage m = QDBusMessage::createMethodCall(QLatin1String(kVigia), QLatin1String(kRutaVigia), QLatin1String(kVigia),
                                                    QStringLiteral("RegisterStatusNotifierItem"));
    m << bus_.baseService();
    bus_.asyncCall(m);
}

void ElementoSni::pon(const QIcon& icono, const QString& consejo)
{
    if (icono.cacheKey() != claveIcono_) {
        claveIcono_ = icono.cacheKey();
        pixmaps_ = dibuja(icono);
        emit NewIcon();
    }
    if (consejo != consejo_) {
        consejo_ = consejo;
        emit NewToolTip();
    }
}

void ElementoSni::raton(int x, int y, Clic clic)
{
    punto_ = QPoint(x, y);
    QMetaObject::invokeMethod(
        this, [this, clic] { raton_(clic); }, Qt::QueuedConnection);
}

void ElementoSni::Activate(int x, int y)
{
    raton(x, y, Clic::Principal);
}

void ElementoSni::SecondaryActivate(int, int) {}

void ElementoSni::ContextMenu(int x, int y)
{
    raton(x, y, Clic::Menu);
}

void ElementoSni::Scroll(int, const QString&) {}

}
