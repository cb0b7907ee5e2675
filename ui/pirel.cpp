#include "pirel.h"

#include "ajustes.h"
#include "ansi.h"
#include "anuncio.h"
#include "apop_carga.h"
#include "aviso.h"
#include "conf.h"
#include "error_almacen.h"
#include "orden.h"
#include "plazos.h"
#include "recursos.h"

#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QProcess>
#include <QScreen>

namespace pirel {
namespace {

// Outside the dialog's range a stored interval could make the timer spin or overflow.
constexpr int kMinutosMax = 720;

QString ayudaInstalada() { return DirectorioDatos() + QStringLiteral("/ayuda.html"); }

// The help topic of a menu item; the menu's own for an item without one.
const char* const kContextoAyuda = "contextoAyuda";
constexpr int kContextoMenu = 2;

}

TPirel::TPirel()
    : TPirel(Piezas{})
{
}

TPirel::TPirel(Piezas piezas)
    : TrayIcon1(nullptr, std::move(piezas.area))
    , Sockets1(nullptr, this)
    , registro(piezas.registro.isEmpty() ? Registro::rutaPorDefecto() : piezas.registro)
    , ayuda(piezas.ayuda.isEmpty() ? ayudaInstalada() : piezas.ayuda)
    , cajas_(piezas.cajas ? piezas.cajas : &cajasQt_)
    , programa_(piezas.programa.isEmpty() ? QCoreApplication::applicationFilePath() : piezas.programa)
    , datos_(piezas.datos.isEmpty() ? DirectorioDatos() : piezas.datos)
    , altavoz_(piezas.altavoz ? std::move(piezas.altavoz) : std::make_unique<AltavozCanberra>())
{
    bandera0 = IconoSvg(QStringLiteral(":/iconos/bandera0.svg"));
    bandera1 = IconoSvg(QStringLiteral(":/iconos/bandera1.svg"));
    Bandera2 = IconoSvg(QStringLiteral(":/iconos/Bandera2.svg"));
    Bandera5 = IconoSvg(QStringLiteral(":/iconos/Bandera5.svg"));
    creaMenu();

    TrayIcon1.PopupMenu = &PopupMenu1;
    TrayIcon1.OnClick = [this](QObject*) { informa([this] { TrayIcon1Click(); }); };
    TrayIcon1.setActive(true);
    TrayIcon1.setToolTip(QStringLiteral("No hay Mensajes"));

    Timer1.setInterval(0);
    QObject::connect(&Timer1, &QTimer::timeout, this, [this] { informa([this] { Timer1Timer(); }); });

    Sockets1.Aplicacion = ansi::deTexto(QStringLiteral("Ludaren Electrónico"));
    Sockets1.MaximumReceiveLength = 8192;
    Sockets1.Port = "110";
    Sockets1.setNonBlocking(false);
    Sockets1.Timeout = 60;

    abreConfiguracion = [this] { creaConfiguracion(); };
    abreAviso = [this] {
        if (!aviso() && creaAviso())
            presentaAviso();
    };

    // Qt's timers stand still while the machine sleeps: after a resume, and when the
    // network comes back, one check once things have settled.
    asentar_.setSingleShot(true);
    asentar_.setInterval(plazos::asentar());
    QObject::connect(&asentar_, &QTimer::timeout, this, [this] { informa([this] { chequeoTrasEspera(); }); });
    QObject::connect(&vigias_, &Vigias::despierta, &asentar_, qOverload<>(&QTimer::start));
    QObject::connect(&vigias_, &Vigias::redVuelve, &asentar_, qOverload<>(&QTimer::start));
    QObject::connect(&vigias_, &Vigias::seDuerme, &asentar_, &QTimer::stop);

    notificaciones_.alRecibir = [this] {
        if (mensajes)
            mensajes->recibe();
    };
    notificaciones_.alAbrirCorreo = [this] { Ejecuta(opciones.gestorCorreo); };
    // No notification server: the notice, as where there is a tray.
    notificaciones_.alFallar = [this] {
        if (opciones.animacion && mensajes && mensajes->HayNuevos() && !aviso() && creaAviso())
            presentaAviso();
    };
}

TPirel::~TPirel()
{
    delete aviso_;
    delete configuracion_;
}

void TPirel::creaMenu()
{
    const auto item = [this](const QString& texto, void (TPirel::*manejador)(), int contexto) {
        QAction* a = PopupMenu1.addAction(texto);
        if (contexto > 0)
            a->setProperty(kContextoAyuda, contexto);
        QObject::connect(a, &QAction::triggered, this, [this, manejador] { informa([this, manejador] { (this->*manejador)(); }); });
        return a;
    };
    ChequearCorreoAhora1 = item(QStringLiteral("Chequear Correo &Ahora"), &TPirel::ChequearCorreoAhora1Click, 2);
    AbrirCorreo1 = item(QStringLiteral("A&brir Correo"), &TPirel::AbrirCorreo1Click, 0);
    Configuracion = item(QStringLiteral("&Configuración"), &TPirel::ConfiguracionClick, 14);
    Ayuda1 = item(QStringLiteral("A&yuda"), &TPirel::Ayuda1Click, 2);
    PopupMenu1.addSeparator();
    Cerrar = item(QStringLiteral("&Salir"), &TPirel::CerrarClick, 2);
    PopupMenu1.installEventFilter(this);
}

bool TPirel::eventFilter(QObject* objeto, QEvent* evento)
{
    // F1 in the open menu: the help of the highlighted item, and the menu closes.
    if (objeto == &PopupMenu1 && evento->type() == QEvent::KeyPress
        && static_cast<QKeyEvent*>(evento)->matches(QKeySequence::HelpContents)) {
        const QAction* activa = PopupMenu1.activeAction();
        const QVariant contexto = activa ? activa->property(kContextoAyuda) : QVariant();
        PopupMenu1.close();
        muestraAyuda(contexto.isValid() ? contexto.toInt() : kContextoMenu);
        return true;
    }
    return QObject::eventFilter(objeto, evento);
}

void TPirel::informa(const std::function<void()>& manejador)
{
    try {
        manejador();
    } catch (const ErrorTexto& e) {
        cajaError(e.texto());
    }
}

bool TPirel::FormCreate()
{
    TrayIcon1.setIcon(bandera0);
    Sockets1.MaximumReceiveLength = 255;
    static BibliotecaAPOP apop;
    if (apop.carga(*this) != BibliotecaAPOP::Resultado::Cargada)
        return false;
    if (const QScreen* pantalla = QGuiApplication::primaryScreen())
        mediaPantalla = pantalla->geometry().width() / 2;
    buzones = std::make_unique<TBuzon>();
    mensajes = std::make_unique<TMensaje>(*buzones);
    mensajes->Limpia();
    chequeo = std::make_unique<Chequeo>(Sockets1, *buzones, *mensajes, opciones, *this);
    return true;
}

void TPirel::FormShow()
{
    informa([this] {
        if (CargaAjustes(registro, *buzones, opciones, programa_) == Arranque::PrimeraVez) {
            muestraAyuda(14);
            abreConfiguracion();
            return;
        }
        if (!opciones.frecuenciaFalta && !opciones.frecuenciaError.isEmpty())
            throw ErrorTexto(opciones.frecuenciaError);
        const int minutos = opciones.frecuenciaFalta ? 1 : std::clamp(opciones.frecuencia, 1, kMinutosMax);
        Timer1.setInterval(minutos * 60000);
        Timer1.start();
        AbrirCorreo1->setEnabled(!opciones.gestorCorreo.isEmpty());
        chequeoProgramado();
    });
}

void TPirel::FormDestroy()
{
    if (chequeo) {
        chequeo->CierraSesion();
        chequeo->terminaSesion();
    }
}

ResultadoChequeo TPirel::CheckMail()
{
    if (!chequeo)
        return {};
    const ResultadoChequeo r = chequeo->CheckMail();
    if (!r.hecho)
        return r;
    ultimoChequeo_ = MsDesdeArranque();
    if (r.nuevos && !aviso() && !TrayIcon1.hayBandeja())
        notificaNuevos();
    return r;
}

void TPirel::Timer1Timer()
{
    chequeoProgramado();
}

void TPirel::chequeoProgramado()
{
    // Without a network every mailbox would fail; its return brings the check.
    if (!vigias_.redCaida())
        CheckMail();
}

void TPirel::chequeoTrasEspera()
{
    // Only a program that checks on a schedule, and not the first start's dialog.
    if (Timer1.interval() == 0 || vigias_.redCaida())
        return;
    if (ultimoChequeo_ >= 0 && MsDesdeArranque() - ultimoChequeo_ < plazos::reciente())
        return;
    CheckMail();
    // The schedule starts again from this check; while the dialog is open it rests.
    if (Timer1.isActive())
        Timer1.start();
}

void TPirel::notificaNuevos()
{
    QStringList lineas;
    for (int n = 1; n <= mensajes->numCabeceras(); ++n)
        lineas << mensajes->cabecera(n);
    notificaciones_.anuncia(TextoCuenta(*mensajes), lineas, !opciones.gestorCorreo.isEmpty());
}

void TPirel::ChequearCorreoAhora1Click()
{
    if (buzones && buzones->numBuzones() > 0) {
        CheckMail();
    } else if (ventanasAbiertas < kConfiguracionAbierta) {
        muestraAyuda(14);
        abreConfiguracion();
    }
}

void TPirel::TrayIcon1Click()
{
    if (mensajes && mensajes->HayMensajes() && ventanasAbiertas == 0)
        abreAviso();
}

void TPirel::ConfiguracionClick()
{
    if (ventanasAbiertas < kConfiguracionAbierta)
        abreConfiguracion();
}

void TPirel::muestraConfiguracion()
{
    informa([this] {
        if (TConf* conf = configuracion()) {
            conf->show();
            conf->raise();
            conf->activateWindow();
        } else {
            ConfiguracionClick();
        }
    });
}

void TPirel::Ayuda1Click()
{
    muestraAyuda(1);
}

void TPirel::AbrirCorreo1Click()
{
    Ejecuta(opciones.gestorCorreo);
}

void TPirel::CerrarClick()
{
    saliendo_ = true;
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
}

void TPirel::Ejecuta(const QByteArray& lineaOrdenes)
{
    // Split as a command line, never handed to a shell: only the configured program runs.
    QStringList partes = PartesDeOrden(ansi::aTexto(lineaOrdenes));
    if (partes.isEmpty())
        return;
    const QString programa = partes.takeFirst();
    QProcess::startDetached(programa, partes);
}

void TPirel::muestraAyuda(int contexto)
{
    ayuda.muestra(contexto);
}

void TPirel::caja(const QString& texto, const QString& titulo)
{
    if (!saliendo_)
        cajas_->socket(texto, titulo);
}

void TPirel::termina()
{
    CerrarClick();
}

void TPirel::cajaError(const QString& texto)
{
    // A check cut short by "Salir" has nothing left to tell.
    if (!saliendo_)
        cajas_->error(texto);
}

void TPirel::dialogo(const QString& texto)
{
    if (!saliendo_)
        cajas_->mensaje(texto);
}

void TPirel::icono(Bandera bandera)
{
    const QIcon* const iconos[] = {&bandera0, &bandera1, &Bandera2, &Bandera5};
    TrayIcon1.setIcon(*iconos[static_cast<int>(bandera)]);
}

void TPirel::consejo(const QString& texto)
{
    TrayIcon1.setToolTip(texto);
}

TFAvisa* TPirel::aviso() const
{
    return aviso_ && !aviso_->cerrado() ? aviso_.data() : nullptr;
}

TConf* TPirel::configuracion() const
{
    return configuracion_ && !configuracion_->cerrado() ? configuracion_.data() : nullptr;
}

void TPirel::creaConfiguracion()
{
    if ((ventanasAbiertas & kConfiguracionAbierta) || !buzones)
        return;
    ventanasAbiertas |= kConfiguracionAbierta;
    auto* conf = new TConf(*buzones, opciones);
    configuracion_ = conf;
    conf->pideAyuda = [this](int contexto) { muestraAyuda(contexto); };
    conf->alAceptar = [this](const Aceptacion& a) { return aceptaConfiguracion(a); };
    conf->alCerrar = [this](bool aceptado) { cierraConfiguracion(aceptado); };
    // While the dialog is open the timer rests; unless its interval could not be read.
    if (conf->errorAlCrear().isEmpty())
        Timer1.stop();
    else
        cajaError(conf->errorAlCrear());
    conf->show();
    conf->raise();
    conf->activateWindow();
}

bool TPirel::aceptaConfiguracion(const Aceptacion& a)
{
    TBuzon copia;
    copia.copiar(a.buzones);
    Guardado guardado;
    try {
        guardado = Guarda(registro, opciones, *buzones, copia, a.eleccion, Timer1.interval(), a.pendiente, programa_);
    } catch (const ErrorTexto& error) {
        // The table was taken over before the write failed: the tallies were of the old one.
        mensajes->Limpia();
        if (a.eleccion.frecuencia > 0)
            Timer1.setInterval(a.eleccion.frecuencia * 60000);
        AbrirCorreo1->setEnabled(!opciones.gestorCorreo.isEmpty());
        cajaError(error.texto());
        return false;
    }
    Timer1.setInterval(guardado.intervalo);
    AbrirCorreo1->setEnabled(!opciones.gestorCorreo.isEmpty());
    if (!guardado.escrito) {
        Timer1.stop();
        return false;
    }
    mensajes->Limpia();
    Timer1.start();
    if (chequeo && chequeo->ultimoResultado().estado == EstadoBandeja::ErrorConexion) {
        icono(Bandera::bandera0);
        consejo(QStringLiteral("No Hay Mensajes"));
    }
    return true;
}

void TPirel::cierraConfiguracion(bool aceptado)
{
    // The dialog is hidden but still there: "Configuración" waits for this check to end.
    if (aceptado)
        CheckMail();
    // A timer never given an interval (a first start) stays off.
    else if (Timer1.interval() > 0)
        Timer1.start();
    ventanasAbiertas &= ~kConfiguracionAbierta;
}

bool TPirel::creaAviso()
{
    if (aviso())
        return true;
    if (!mensajes)
        return false;
    ventanasAbiertas |= kAvisoAbierto;
    aviso_ = new TFAvisa(*mensajes, opciones, mediaPantalla, datos_);
    aviso_->alAbrirCorreo = [this] { Ejecuta(opciones.gestorCorreo); };
    aviso_->alCerrar = [this] {
        mensajes->recibe();
        ventanasAbiertas &= ~kAvisoAbierto;
    };
    // The box runs an event loop in which a check may end, refresh this notice or
    // see it closed.
    if (!aviso_->errorAlCrear().isEmpty())
        dialogo(aviso_->errorAlCrear());
    return aviso() != nullptr;
}

void TPirel::presentaAviso()
{
    // Shown and raised, never activated: the keyboard stays where the user is typing.
    aviso_->show();
    aviso_->raise();
}

void TPirel::muestraAviso(const QString& textoCuenta, const QStringList& cabeceras)
{
    // Without a notification area a desktop notification tells it, once the cycle ends.
    if (!aviso() && !TrayIcon1.hayBandeja())
        return;
    if (!creaAviso())
        return;
    aviso_->refresca(textoCuenta, cabeceras);
    presentaAviso();
}

void TPirel::pitido()
{
    Pitido(*altavoz_);
}

void TPirel::reproduce(const QByteArray& ficheroWav)
{
    Reproduce(*altavoz_, ficheroWav, datos_);
}

}
