#include "chequeo.h"

#include "ansi.h"
#include "anuncio.h"
#include "errores_winsock.h"
#include "lectura.h"
#include "textos.h"

namespace pirel {
namespace {

// A reply line is short; a server that sends more is not kept beyond this.
constexpr qsizetype kLineaMax = 4096;
// A TOP answer is the header and one line; the headers read come long before this.
constexpr qsizetype kRespuestaMax = 256 * 1024;
constexpr int kLongitudRecepcion = 4096;
// The mailbox has been read by the time QUIT goes out: its answer is not worth a long wait.
constexpr int kEsperaQuit = 5;

QString motivo(FalloTLS fallo)
{
    switch (fallo) {
    case FalloTLS::Caducado: return textos::kCertificadoCaducado;
    case FalloTLS::AutoridadDesconocida: return textos::kAutoridadDesconocida;
    case FalloTLS::NombreDistinto: return textos::kNombreDistinto;
    case FalloTLS::HuellaDistinta: return textos::kHuellaDistinta;
    case FalloTLS::Ninguno:
    case FalloTLS::Negociacion: break;
    }
    return textos::kNegociacionFallida;
}

}

Chequeo::Chequeo(TSockets& sockets, TBuzon& buzones, TMensaje& mensajes, const TOpciones& opciones,
                 Presentacion& presentacion)
    : Sockets1(sockets)
    , buzones_(buzones)
    , mensajes_(mensajes)
    , opciones_(opciones)
    , presentacion_(presentacion)
    , lector_(sockets, [this] { return roto(); })
{
    Sockets1.OnErrorOccurred = [this](TSockets* sender, int socket, int error, const QByteArray& msg) {
        Sockets1ErrorOccurred(sender, socket, error, msg);
    };
    Sockets1.setAvisos(&presentacion_);
}

bool Chequeo::ConsumeTiempoAgotado()
{
    const bool agotado = tiempoAgotado_;
    tiempoAgotado_ = false;
    return agotado;
}

QByteArray Chequeo::noResponde(int i) const
{
    return buzones_.nombre(i) + textos::kElServidor + buzones_.host(i) + textos::kNoResponde;
}

void Chequeo::Sockets1ErrorOccurred(TSockets*, int, int Error, const QByteArray& Msg)
{
    const int i = buzonActual_;
    ultimoError_ = Error;
    if (Error == winsock::kTiempoAgotado) {
        tiempoAgotado_ = true;
        ultimoError_ = 0;
    }
    // A server that fumbles its goodbye has still been read: nothing counts against it.
    if (cerrando_)
        return;
    fallo_ = true;
    const QByteArray aviso = Error == winsock::kTiempoAgotado ? noResponde(i) : buzones_.host(i) + ": " + Msg;
    // An unreachable server is told once, until it answers again.
    if (!buzones_.conError(i)) {
        buzones_.setConError(i, true);
        mensajes_.setActuales(i, 0);
        presentacion_.cajaError(ansi::aTexto(aviso));
    }
    presentacion_.icono(Bandera::Bandera2);
}

ResultadoChequeo Chequeo::CheckMail()
{
    if (chequeando_)
        return {};
    mensajes_.vaciaCabeceras();
    sello_.clear();
    ResultadoChequeo r;
    r.hecho = true;
    const int numero = buzones_.numBuzones();
    for (buzonActual_ = 1; buzonActual_ <= numero; ++buzonActual_) {
        const int i = buzonActual_;
        if (buzones_.host(i).isEmpty() || !buzones_.chequear(i))
            continue;
        atiendeBuzon(i);
        if (fallo_)
            r.fallidos << i;
    }
    r.nuevos = mensajes_.HayNuevos();
    r.estado = Anuncia(mensajes_, buzones_, opciones_, sello_, presentacion_);
    r.cabeceras = mensajes_.numCabeceras();
    for (int i = 1; i <= buzones_.numBuzones(); ++i)
        r.cuentas << mensajes_.actuales(i);
    resultado_ = r;
    return r;
}

void Chequeo::atiendeBuzon(int i)
{
    chequeando_ = true;
    ultimoError_ = 0;
    sesionAbierta_ = false;
    fallo_ = false;
    lector_.reinicia();
    if (conecta(i))
        conversa(i);
    CierraSesion();
    Sockets1.Disconnect();
    chequeando_ = false;
}

bool Chequeo::conecta(int i)
{
    Sockets1.IPAddr = buzones_.host(i);
    Sockets1.Port = puerto.isEmpty() ? QByteArray::number(buzones_.conexion(i).puerto) : puerto;
    Sockets1.MaximumReceiveLength = kLongitudRecepcion;
    Sockets1.Timeout = espera;
    Sockets1.setNonBlocking(false);
    bool informado = false;
    try {
        Sockets1.SConnect();
    } catch (const ErrorConversion& error) {
        presentacion_.cajaError(error.texto());
        informado = true;
    }
    if (ConsumeTiempoAgotado() || ultimoError_ != 0 || Sockets1.SocketHandle() == -1) {
        if (Sockets1.SocketHandle() == -1 && !buzones_.conError(i) && !informado)
            presentacion_.cajaError(ansi::aTexto(noResponde(i)));
        mensajes_.setActuales(i, 0);
        presentacion_.icono(Bandera::Bandera2);
        buzones_.setConError(i, true);
        fallo_ = true;
        return false;
    }
    return true;
}

void Chequeo::vigilaPlazo()
{
    // A reply that kept coming past its time fails as a call that timed out would.
    if (!lector_.excedido())
        return;
    Sockets1ErrorOccurred(&Sockets1, Sockets1.SocketHandle(), winsock::kTiempoAgotado, "Llamada bloqueada");
    Sockets1ErrorOccurred(&Sockets1, Sockets1.SocketHandle(), winsock::kInterrumpida,
                          ErrorText(winsock::kInterrumpida));
}

bool Chequeo::ordena(const QByteArray& orden, QByteArray* linea)
{
    // Nothing goes out ahead of an answer, so what is pending now answers nothing.
    lector_.descarta();
    // A server that has hung up is sent nothing more: the send would fail on its reset
    // or not, as the timing goes, and the report with it.
    if (!lector_.cerrada() && !roto())
        Sockets1.SetText(orden);
    lector_.inicia(espera);
    (void)lector_.linea(linea, kLineaMax);
    vigilaPlazo();
    return !(ConsumeTiempoAgotado() || ultimoError_ != 0);
}

bool Chequeo::cifra(int i)
{
    const FalloTLS fallo = Sockets1.IniciaTLS(buzones_.conexion(i).huella);
    if (fallo == FalloTLS::Ninguno) {
        buzones_.setConError(i, false);
        return true;
    }
    // A time-out has been told by the socket's report, as any other.
    if (roto())
        sesionAbierta_ = false;
    else
        fallaSeguridad(i, motivo(fallo));
    return false;
}

bool Chequeo::pasaASTLS(int i)
{
    QByteArray respuesta;
    // STLS goes out whether or not the server offers it: a list read in clear proves nothing.
    if (!ordena("STLS\r\n", &respuesta)) {
        sesionAbierta_ = false;
        return false;
    }
    if (!EmpiezaPor(PrimeraLinea(respuesta), "+OK")) {
        fallaSeguridad(i, textos::kSinSTLS);
        return false;
    }
    // A server says nothing between its +OK and the handshake: such bytes were put in on
    // the way, to be read later as answers under TLS.
    if (lector_.quedaAlgo()) {
        fallaSeguridad(i, textos::kDatosInyectados);
        return false;
    }
    return cifra(i);
}

void Chequeo::fallaSeguridad(int i, const QString& motivo)
{
    fallo_ = true;
    // Nothing more goes out in clear, not even QUIT.
    sesionAbierta_ = false;
    if (!buzones_.conError(i)) {
        buzones_.setConError(i, true);
        presentacion_.cajaError(
            textos::kSinConexionSegura.arg(ansi::aTexto(buzones_.nombre(i)), ansi::aTexto(buzones_.host(i)), motivo));
    }
    mensajes_.setActuales(i, 0);
    presentacion_.icono(Bandera::Bandera2);
}

void Chequeo::conversa(int i)
{
    const Seguridad modo = buzones_.conexion(i).seguridad;
    if (modo == Seguridad::SSL && !cifra(i))
        return;
    // A secure mailbox answers once TLS holds; a plain one as soon as it connects.
    if (modo == Seguridad::Ninguna)
        buzones_.setConError(i, false);
    sesionAbierta_ = true;

    QByteArray saludo;
    lector_.inicia(espera);
    (void)lector_.linea(&saludo, kLineaMax);
    vigilaPlazo();
    if (roto())
        saludo.clear();
    const QByteArray linea = PrimeraLinea(saludo);
    // Nothing said in clear before STLS is trusted afterwards, its APOP stamp included.
    sello_ = modo == Seguridad::STLS ? QByteArray() : ExtraeSello(linea);
    if (!EmpiezaPor(linea, "+OK")) {
        fallo_ = true;
        presentacion_.dialogo(ansi::aTexto(buzones_.nombre(i) + textos::kElServidor + buzones_.host(i)
                                           + textos::kNoResponde + " (" + Legible(linea) + ")."));
        return;
    }

    if (modo == Seguridad::STLS && !pasaASTLS(i))
        return;
    // Whatever happened above, the log-in of a secure mailbox never leaves in clear.
    if (modo != Seguridad::Ninguna && !Sockets1.Cifrado())
        return;

    QByteArray respuesta;
    // The answer to USER is not examined: the one to PASS decides.
    if (!ordena("USER " + buzones_.usuario(i) + "\r\n", &respuesta))
        return;
    if (!ordena("PASS " + buzones_.clave(i) + "\r\n", &respuesta))
        return;
    if (EmpiezaPor(PrimeraLinea(respuesta), "-ERR")) {
        fallo_ = true;
        presentacion_.dialogo(ansi::aTexto(buzones_.nombre(i) + textos::kClaveRechazada));
        presentacion_.consejo(textos::kClaveIncorrecta);
        presentacion_.icono(Bandera::Bandera2);
        CierraSesion();
        return;
    }

    if (!ordena("STAT\r\n", &respuesta))
        return;
    const QByteArray lineaStat = PrimeraLinea(respuesta);
    const int cuenta = LeeCuenta(lineaStat);
    mensajes_.setActuales(i, cuenta);
    // Lines past the last that can be kept would be dropped: their TOPs are not sent.
    for (int k = 1; k <= cuenta && !soloCuenta && !mensajes_.cabecerasLlenas(); ++k)
        recogeCabeceras(i, k);
    if (cuenta == -1) {
        fallo_ = true;
        presentacion_.dialogo(ansi::aTexto(textos::kProtocoloErroneo + Legible(lineaStat)));
    }
}

void Chequeo::recogeCabeceras(int i, int k)
{
    if (!roto())
        lector_.descarta();
    if (!lector_.cerrada())
        Sockets1.SetText("TOP " + QByteArray::number(k) + " 1\r\n");
    QByteArray respuesta;
    // After a failure the rest of the mailbox's answers are not waited for.
    if (!roto()) {
        lector_.inicia(espera);
        (void)lector_.multilinea(&respuesta, kRespuestaMax);
        vigilaPlazo();
    }
    (void)ConsumeTiempoAgotado();
    mensajes_.AgregaCab(LineaCabecera(buzones_.nombre(i), respuesta));
}

void Chequeo::CierraSesion()
{
    if (!chequeando_)
        return;
    // One QUIT per session, and none to a server that has already closed.
    if (sesionAbierta_ && !lector_.cerrada()) {
        sesionAbierta_ = false;
        cerrando_ = true;
        if (!roto())
            lector_.descarta();
        if (!lector_.cerrada()) {
            Sockets1.SetText("QUIT\r\n");
            QByteArray respuesta;
            lector_.inicia(espera > 0 ? qMin(espera, kEsperaQuit) : kEsperaQuit);
            (void)lector_.linea(&respuesta, kLineaMax);
            vigilaPlazo();
        }
        cerrando_ = false;
    }
    sesionAbierta_ = false;
    if (ConsumeTiempoAgotado() || ultimoError_ != 0)
        chequeando_ = false;
}

}
