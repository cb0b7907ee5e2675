#include "chequeo.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QSet>
#include <QThread>

#include <functional>
#include <memory>

namespace pirel {

struct Chequeo::Trabajo {
    int posicion = 0;
    DatosBuzon datos;
    QByteArray identidad;
    Diario diario;
    std::unique_ptr<QThread> hilo;
    bool hecho = false;
};

Chequeo::Chequeo(TSockets& sockets, TBuzon& buzones, TMensaje& mensajes, const TOpciones& opciones,
                 Presentacion& presentacion)
    : Sockets1(sockets)
    , buzones_(buzones)
    , mensajes_(mensajes)
    , opciones_(opciones)
    , presentacion_(presentacion)
{
    // Each session reads the reports it causes; one outside a session tells nothing.
    Sockets1.OnErrorOccurred = [](TSockets*, int, int, const QByteArray&) {};
    Sockets1.setAvisos(&presentacion_);
}

Chequeo::~Chequeo() = default;

DatosBuzon Chequeo::datos(int i) const
{
    DatosBuzon d;
    d.nombre = buzones_.nombre(i);
    d.host = buzones_.host(i);
    d.usuario = buzones_.usuario(i);
    d.clave = buzones_.clave(i);
    d.conexion = buzones_.conexion(i);
    d.puerto = puerto.isEmpty() ? QByteArray::number(d.conexion.puerto) : puerto;
    d.espera = espera;
    d.soloCuenta = soloCuenta;
    d.conError = buzones_.conError(i);
    d.recuerdo = recuerdo_.de(identidad(d));
    return d;
}

QByteArray Chequeo::identidad(const DatosBuzon& d) const
{
    return RecuerdoCabeceras::Identidad(d.host, d.puerto, d.usuario, d.conexion.seguridad);
}

ResultadoChequeo Chequeo::CheckMail()
{
    if (chequeando_)
        return {};
    chequeando_ = true;
    detener_ = false;
    mensajes_.vaciaCabeceras();
    sello_.clear();
    ResultadoChequeo r;
    r.hecho = true;
    std::vector<Trabajo> trabajos;
    const int numero = buzones_.numBuzones();
    for (int i = 1; i <= numero; ++i) {
        if (buzones_.host(i).isEmpty() || !buzones_.chequear(i))
            continue;
        Trabajo& t = trabajos.emplace_back();
        t.posicion = i;
        t.datos = datos(i);
        t.identidad = identidad(t.datos);
    }
    Reparto reparto(static_cast<int>(trabajos.size()));
    bool completo = true;
    if (simultaneos <= 1)
        unoTrasOtro(trabajos, reparto, &r);
    else
        completo = aLaVez(trabajos, reparto, &r);
    chequeando_ = false;
    // The program is ending: nothing more is shown.
    if (!completo) {
        resultado_ = r;
        return r;
    }
    if (!soloCuenta) {
        QSet<QByteArray> vistos;
        for (const Trabajo& t : trabajos)
            vistos.insert(t.identidad);
        recuerdo_.conservaSolo(vistos);
    }
    r.nuevos = mensajes_.HayNuevos();
    r.estado = Anuncia(mensajes_, buzones_, opciones_, sello_, presentacion_);
    r.cabeceras = mensajes_.numCabeceras();
    for (int i = 1; i <= buzones_.numBuzones(); ++i)
        r.cuentas << mensajes_.actuales(i);
    resultado_ = r;
    return r;
}

void Chequeo::unoTrasOtro(std::vector<Trabajo>& trabajos, Reparto& reparto, ResultadoChequeo* r)
{
    for (size_t n = 0; n < trabajos.size(); ++n) {
        Trabajo& t = trabajos[n];
        {
            Conversacion conversacion(Sockets1, t.datos, reparto, static_cast<int>(n));
            enCurso_ = &conversacion;
            t.diario = conversacion.atiende();
            enCurso_ = nullptr;
        }
        Sockets1.setAvisos(&presentacion_);
        reproduce(t, r);
    }
}

bool Chequeo::aLaVez(std::vector<Trabajo>& trabajos, Reparto& reparto, ResultadoChequeo* r)
{
    // Receives the threads' ends in this thread; going first, it goes last, and with it
    // any end not yet delivered.
    QObject contexto;
    int activos = 0;
    bool avisado = false;
    const QByteArray aplicacion = Sockets1.Aplicacion;
    const auto ocupado = [&](const Trabajo& t) {
        for (const Trabajo& o : trabajos)
            if (o.hilo && !o.hecho && o.identidad == t.identidad)
                return true;
        return false;
    };
    std::function<void()> lanza = [&] {
        for (size_t n = 0; n < trabajos.size() && activos < simultaneos && !detener_; ++n) {
            Trabajo& t = trabajos[n];
            if (t.hilo || ocupado(t))
                continue;
            t.hilo.reset(QThread::create([&t, &reparto, n, aplicacion] {
                TSockets sockets;
                sockets.Aplicacion = aplicacion;
                Conversacion conversacion(sockets, t.datos, reparto, static_cast<int>(n));
                t.diario = conversacion.atiende();
            }));
            QObject::connect(
                t.hilo.get(), &QThread::finished, &contexto,
                [&, n] {
                    trabajos[n].hilo->wait();
                    trabajos[n].hecho = true;
                    --activos;
                    lanza();
                    avisado = true;
                    if (espera_)
                        espera_->quit();
                },
                Qt::QueuedConnection);
            ++activos;
            t.hilo->start();
        }
    };

    trabajos_ = &trabajos;
    lanza();
    bool completo = true;
    for (Trabajo& t : trabajos) {
        while (!t.hecho && !detener_) {
            QEventLoop bucle;
            espera_ = &bucle;
            avisado = false;
            bucle.exec();
            espera_ = nullptr;
            // A wait that ends with nothing finished is the program quitting.
            if (!avisado && !t.hecho)
                detener_ = true;
        }
        if (detener_) {
            completo = false;
            break;
        }
        reproduce(t, r);
    }
    // Sessions cut short end at once, each with its QUIT; none outlives the cycle.
    for (Trabajo& t : trabajos)
        while (t.hilo && !t.hilo->wait(QDeadlineTimer(20)))
            t.hilo->exit();
    trabajos_ = nullptr;
    return completo;
}

void Chequeo::reproduce(const Trabajo& t, ResultadoChequeo* r)
{
    // What happened for a message whose line no longer fits did not happen for the user:
    // one after another, its TOP would not have gone out.
    const int cabida = kMaxCabeceras - mensajes_.numCabeceras();
    const int i = t.posicion;
    bool fallo = false;
    for (const Efecto& e : t.diario.efectos) {
        if (e.mensaje > cabida)
            continue;
        switch (e.tipo) {
        case Efecto::CajaError: presentacion_.cajaError(e.texto); break;
        case Efecto::Dialogo: presentacion_.dialogo(e.texto); break;
        case Efecto::Caja: presentacion_.caja(e.texto, e.titulo); break;
        case Efecto::Termina: presentacion_.termina(); break;
        case Efecto::Icono: presentacion_.icono(static_cast<Bandera>(e.valor)); break;
        case Efecto::Consejo: presentacion_.consejo(e.texto); break;
        case Efecto::ConError: buzones_.setConError(i, e.valor != 0); break;
        case Efecto::Actuales: mensajes_.setActuales(i, e.valor); break;
        case Efecto::Linea: mensajes_.AgregaCab(e.texto); break;
        case Efecto::Sello: sello_ = e.bytes; break;
        case Efecto::Fallo: fallo = true; break;
        }
    }
    if (fallo)
        r->fallidos << i;
    if (t.diario.recuerdo)
        recuerdo_.pon(t.identidad, *t.diario.recuerdo);
}

void Chequeo::CierraSesion()
{
    if (enCurso_)
        enCurso_->CierraSesion();
    if (trabajos_) {
        detener_ = true;
        for (Trabajo& t : *trabajos_)
            if (t.hilo && !t.hecho)
                t.hilo->exit();
        if (espera_)
            espera_->quit();
    }
}

}
