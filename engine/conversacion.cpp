#include "conversacion.h"

#include "ansi.h"
#include "errores_winsock.h"
#include "textos.h"

#include <algorithm>

namespace pirel {
namespace {

// A reply line is short; a server that sends more is not kept beyond this.
constexpr qsizetype kLineaMax = 4096;
// A TOP answer is the header and one line; the headers read come long before this.
constexpr qsizetype kRespuestaMax = 256 * 1024;
// A capability list is a few short lines.
constexpr qsizetype kCapacidadesMax = 16 * 1024;
// The ids of the 255 messages that can be shown take some 20 kB; the rest are not needed.
constexpr qsizetype kListaMax = 64 * 1024;
// An answer drained unread keeps only enough to tell a multi-line one.
constexpr qsizetype kDrenaje = 16;
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

Reparto::Reparto(int sesiones)
    : lineas_(static_cast<size_t>(qMax(0, sesiones)), 0)
{
}

void Reparto::anota(int orden, int lineas)
{
    std::lock_guard l(mutex_);
    if (orden >= 0 && static_cast<size_t>(orden) < lineas_.size())
        lineas_[static_cast<size_t>(orden)] = qMax(0, lineas);
}

int Reparto::tope(int orden) const
{
    std::lock_guard l(mutex_);
    qint64 antes = 0;
    for (size_t j = 0; j < lineas_.size() && j < static_cast<size_t>(qMax(0, orden)); ++j)
        antes += lineas_[j];
    return static_cast<int>(kMaxCabeceras - qMin<qint64>(antes, kMaxCabeceras));
}

Conversacion::Conversacion(TSockets& sockets, const DatosBuzon& datos, Reparto& reparto, int orden)
    : Sockets1(sockets)
    , datos_(datos)
    , reparto_(reparto)
    , orden_(orden)
    , lector_(sockets, [this] { return roto(); })
    , conError_(datos.conError)
{
    Sockets1.OnErrorOccurred = [this](TSockets*, int, int error, const QByteArray& msg) {
        Sockets1ErrorOccurred(error, msg);
    };
    Sockets1.setAvisos(this);
}

Conversacion::~Conversacion()
{
    Sockets1.OnErrorOccurred = [](TSockets*, int, int, const QByteArray&) {};
    Sockets1.setAvisos(nullptr);
}

void Conversacion::anota(Efecto::Tipo tipo, const QString& texto, int valor)
{
    diario_.efectos.append({tipo, etiqueta_, texto, {}, valor, {}});
}

void Conversacion::caja(const QString& texto, const QString& titulo)
{
    diario_.efectos.append({Efecto::Caja, etiqueta_, texto, titulo, 0, {}});
}

void Conversacion::termina()
{
    anota(Efecto::Termina);
}

void Conversacion::fallo()
{
    anota(Efecto::Fallo);
}

void Conversacion::setConError(bool valor)
{
    conError_ = valor;
    anota(Efecto::ConError, {}, valor ? 1 : 0);
}

bool Conversacion::ConsumeTiempoAgotado()
{
    const bool agotado = tiempoAgotado_;
    tiempoAgotado_ = false;
    return agotado;
}

QByteArray Conversacion::noResponde() const
{
    return datos_.nombre + textos::kElServidor + datos_.host + textos::kNoResponde;
}

void Conversacion::Sockets1ErrorOccurred(int Error, const QByteArray& Msg)
{
    ultimoError_ = Error;
    if (Error == winsock::kTiempoAgotado) {
        tiempoAgotado_ = true;
        ultimoError_ = 0;
    }
    // A server that fumbles its goodbye has still been read: nothing counts against it.
    if (cerrando_)
        return;
    fallo();
    const QByteArray aviso = Error == winsock::kTiempoAgotado ? noResponde() : datos_.host + ": " + Msg;
    // An unreachable server is told once, until it answers again.
    if (!conError_) {
        setConError(true);
        anota(Efecto::Actuales, {}, 0);
        anota(Efecto::CajaError, ansi::aTexto(aviso));
    }
    anota(Efecto::Icono, {}, static_cast<int>(Bandera::Bandera2));
}

void Conversacion::vigilaPlazo()
{
    // A reply that kept coming past its time fails as a call that timed out would.
    if (!lector_.excedido())
        return;
    Sockets1ErrorOccurred(winsock::kTiempoAgotado, "Llamada bloqueada");
    Sockets1ErrorOccurred(winsock::kInterrumpida, ErrorText(winsock::kInterrumpida));
}

Diario Conversacion::atiende()
{
    abierta_ = true;
    lector_.reinicia();
    if (conecta())
        conversa();
    CierraSesion();
    Sockets1.Disconnect();
    abierta_ = false;
    if (!lineasAnotadas_)
        reparto_.anota(orden_, 0);

    diario_.recuerdo = recuerdoFinal();
    diario_.tls = Sockets1.UltimoTLS();
    return std::move(diario_);
}

std::optional<CabecerasBuzon> Conversacion::recuerdoFinal() const
{
    // Out of step, any answer may have been another's: nothing of this session is kept.
    if (datos_.soloCuenta || desfase_)
        return std::nullopt;
    if (sinUIDL_)
        return CabecerasBuzon();
    // A failure before a whole listing leaves what was known as it was.
    if (!listaLeida_)
        return std::nullopt;
    // The messages listed, their headers read now or known from before; the rest are gone.
    CabecerasBuzon r;
    for (qsizetype k = 1; k < ids_.size(); ++k) {
        const QByteArray& id = ids_[k];
        if (id.isEmpty())
            continue;
        if (const auto nueva = nuevas_.constFind(id); nueva != nuevas_.constEnd())
            r.insert(id, *nueva);
        else if (const auto vieja = datos_.recuerdo.constFind(id); vieja != datos_.recuerdo.constEnd())
            r.insert(id, *vieja);
    }
    return r;
}

bool Conversacion::conecta()
{
    Sockets1.IPAddr = datos_.host;
    Sockets1.Port = datos_.puerto;
    Sockets1.MaximumReceiveLength = kLongitudRecepcion;
    Sockets1.Timeout = datos_.espera;
    Sockets1.setNonBlocking(false);
    bool informado = false;
    try {
        Sockets1.SConnect();
    } catch (const ErrorConversion& error) {
        anota(Efecto::CajaError, error.texto());
        informado = true;
    }
    if (ConsumeTiempoAgotado() || ultimoError_ != 0 || Sockets1.SocketHandle() == -1) {
        if (Sockets1.SocketHandle() == -1 && !conError_ && !informado)
            anota(Efecto::CajaError, ansi::aTexto(noResponde()));
        anota(Efecto::Actuales, {}, 0);
        anota(Efecto::Icono, {}, static_cast<int>(Bandera::Bandera2));
        setConError(true);
        fallo();
        return false;
    }
    return true;
}

bool Conversacion::cifra()
{
    const FalloTLS resultado = Sockets1.IniciaTLS(datos_.conexion.huella);
    if (resultado == FalloTLS::Ninguno) {
        setConError(false);
        return true;
    }
    // A time-out has been told by the socket's report, as any other.
    if (roto())
        sesionAbierta_ = false;
    else
        fallaSeguridad(motivo(resultado));
    return false;
}

bool Conversacion::pasaASTLS()
{
    QByteArray respuesta;
    // STLS goes out whether or not the server offers it: a list read in clear proves nothing.
    if (!ordena("STLS\r\n", &respuesta)) {
        sesionAbierta_ = false;
        return false;
    }
    if (!EmpiezaPor(PrimeraLinea(respuesta), "+OK")) {
        fallaSeguridad(textos::kSinSTLS);
        return false;
    }
    // A server says nothing between its +OK and the handshake: such bytes were put in on
    // the way, to be read later as answers under TLS.
    if (lector_.quedaAlgo()) {
        fallaSeguridad(textos::kDatosInyectados);
        return false;
    }
    return cifra();
}

void Conversacion::fallaSeguridad(const QString& motivoFallo)
{
    fallo();
    // Nothing more goes out in clear, not even QUIT.
    sesionAbierta_ = false;
    if (!conError_) {
        setConError(true);
        anota(Efecto::CajaError, textos::kSinConexionSegura.arg(ansi::aTexto(datos_.nombre),
                                                                ansi::aTexto(datos_.host), motivoFallo));
    }
    anota(Efecto::Actuales, {}, 0);
    anota(Efecto::Icono, {}, static_cast<int>(Bandera::Bandera2));
}

void Conversacion::conversa()
{
    const Seguridad modo = datos_.conexion.seguridad;
    if (modo == Seguridad::SSL && !cifra())
        return;
    // A secure mailbox answers once TLS holds; a plain one as soon as it connects.
    if (modo == Seguridad::Ninguna)
        setConError(false);
    sesionAbierta_ = true;

    QByteArray saludo;
    lector_.inicia(datos_.espera);
    (void)lector_.linea(&saludo, kLineaMax);
    vigilaPlazo();
    if (roto())
        saludo.clear();
    const QByteArray linea = PrimeraLinea(saludo);
    // Nothing said in clear before STLS is trusted afterwards, its APOP stamp included.
    diario_.efectos.append(
        {Efecto::Sello, etiqueta_, {}, {}, 0, modo == Seguridad::STLS ? QByteArray() : ExtraeSello(linea)});
    if (!EmpiezaPor(linea, "+OK")) {
        fallo();
        anota(Efecto::Dialogo, ansi::aTexto(datos_.nombre + textos::kElServidor + datos_.host + textos::kNoResponde
                                            + " (" + Legible(linea) + ")."));
        return;
    }

    if (modo == Seguridad::STLS && !pasaASTLS())
        return;
    // Whatever happened above, the log-in of a secure mailbox never leaves in clear.
    if (modo != Seguridad::Ninguna && !Sockets1.Cifrado())
        return;

    // The test of one mailbox only logs in and counts: it asks for nothing else.
    Capacidades capacidades;
    if (!datos_.soloCuenta) {
        QByteArray respuesta;
        if (!ordena("CAPA\r\n", &respuesta, Forma::Multilinea, kCapacidadesMax))
            return;
        capacidades = LeeCapacidades(respuesta);
        sinUIDL_ = !capacidades.uidl;
    }
    if (capacidades.encadena)
        enCadena(capacidades);
    else
        pasoAPaso(capacidades);
}

bool Conversacion::ordena(const QByteArray& orden, QByteArray* respuesta, Forma forma, qsizetype guardar)
{
    // Nothing goes out ahead of an answer, so what is pending now answers nothing.
    lector_.descarta();
    // A server that has hung up is sent nothing more: the send would fail on its reset
    // or not, as the timing goes, and the report with it.
    if (!lector_.cerrada() && !roto())
        Sockets1.SetText(orden);
    lector_.inicia(datos_.espera);
    if (forma == Forma::Linea)
        (void)lector_.linea(respuesta, guardar);
    else
        (void)lector_.multilinea(respuesta, guardar);
    vigilaPlazo();
    return !(ConsumeTiempoAgotado() || ultimoError_ != 0);
}

void Conversacion::claveRechazada()
{
    fallo();
    anota(Efecto::Dialogo, ansi::aTexto(datos_.nombre + textos::kClaveRechazada));
    anota(Efecto::Consejo, textos::kClaveIncorrecta);
    anota(Efecto::Icono, {}, static_cast<int>(Bandera::Bandera2));
    CierraSesion();
}

void Conversacion::cuentaLeida(int cuenta)
{
    anota(Efecto::Actuales, {}, cuenta);
    reparto_.anota(orden_, datos_.soloCuenta ? 0 : cuenta);
    lineasAnotadas_ = true;
    // An empty mailbox needs no listing to tell that every message known is gone.
    if (cuenta == 0)
        listaLeida_ = true;
}

bool Conversacion::conocido(int k) const
{
    return k < ids_.size() && !ids_[k].isEmpty() && datos_.recuerdo.contains(ids_[k]);
}

void Conversacion::anotaLinea(const Partes& partes)
{
    anota(Efecto::Linea, LineaCabecera(datos_.nombre, partes.asunto, partes.remitente));
}

void Conversacion::recuerdaLista(const QByteArray& respuesta, int cuenta)
{
    ids_ = LeeUIDL(respuesta, qMin(cuenta, kMaxCabeceras));
    if (!EmpiezaPor(respuesta, "+OK")) {
        // A server that keeps no ids: its headers are asked for every time, as before.
        sinUIDL_ = !roto();
        return;
    }
    // A listing cut short by a failure still names some messages, but not which are gone.
    listaLeida_ = !roto();
}

void Conversacion::pasoAPaso(const Capacidades& capacidades)
{
    QByteArray respuesta;
    // The answer to USER is not examined: the one to PASS decides.
    if (!ordena("USER " + datos_.usuario + "\r\n", &respuesta))
        return;
    if (!ordena("PASS " + datos_.clave + "\r\n", &respuesta))
        return;
    if (EmpiezaPor(PrimeraLinea(respuesta), "-ERR")) {
        claveRechazada();
        return;
    }
    if (!ordena("STAT\r\n", &respuesta))
        return;
    const QByteArray lineaStat = PrimeraLinea(respuesta);
    const int cuenta = LeeCuenta(lineaStat);
    cuentaLeida(cuenta);
    if (!datos_.soloCuenta) {
        // A failed listing counts as the first TOP's failure would: the lines still come.
        if (capacidades.uidl && cuenta > 0 && reparto_.tope(orden_) > 0) {
            etiqueta_ = 1;
            (void)ordena("UIDL\r\n", &respuesta, Forma::Multilinea, kListaMax);
            recuerdaLista(respuesta, cuenta);
        }
        // Lines past the last that can be kept would be dropped: their TOPs are not sent.
        for (int k = 1; k <= cuenta && k <= reparto_.tope(orden_); ++k) {
            etiqueta_ = k;
            if (conocido(k))
                anotaLinea(datos_.recuerdo.value(ids_[k]));
            else
                recogeCabeceras(k);
        }
        etiqueta_ = 0;
    }
    if (cuenta == -1) {
        fallo();
        anota(Efecto::Dialogo, ansi::aTexto(textos::kProtocoloErroneo + Legible(lineaStat)));
    }
}

void Conversacion::recogeCabeceras(int k)
{
    if (!roto())
        lector_.descarta();
    if (!lector_.cerrada())
        Sockets1.SetText("TOP " + QByteArray::number(k) + " 1\r\n");
    QByteArray respuesta;
    bool entera = false;
    // After a failure the rest of the mailbox's answers are not waited for.
    if (!roto()) {
        lector_.inicia(datos_.espera);
        entera = lector_.multilinea(&respuesta, kRespuestaMax);
        vigilaPlazo();
    }
    (void)ConsumeTiempoAgotado();
    const Partes partes{Asunto(respuesta), Remitente(respuesta)};
    // Only a whole answer that said +OK is worth keeping for later cycles.
    if (entera && !roto() && EmpiezaPor(respuesta, "+OK") && k < ids_.size() && !ids_[k].isEmpty())
        nuevas_.insert(ids_[k], partes);
    anotaLinea(partes);
}

void Conversacion::encola(const QByteArray& ordenes, std::initializer_list<Forma> formas)
{
    if (!lector_.cerrada() && !roto())
        Sockets1.SetText(ordenes);
    pendientes_.insert(pendientes_.end(), formas);
}

bool Conversacion::leeSiguiente(QByteArray* respuesta, qsizetype guardar, bool* entera)
{
    respuesta->clear();
    bool completa = false;
    if (!pendientes_.empty()) {
        const Forma forma = pendientes_.front();
        pendientes_.pop_front();
        lector_.inicia(datos_.espera);
        completa = forma == Forma::Linea ? lector_.linea(respuesta, guardar) : lector_.multilinea(respuesta, guardar);
        vigilaPlazo();
        if (completa && !EmpiezaPor(*respuesta, "+OK") && !EmpiezaPor(*respuesta, "-ERR"))
            desfase_ = true;
    }
    if (entera)
        *entera = completa;
    return !(ConsumeTiempoAgotado() || ultimoError_ != 0);
}

void Conversacion::enCadena(const Capacidades& capacidades)
{
    // Log-in, count and listing go out together; RFC 2449 has the server take them in turn.
    lector_.descarta();
    const QByteArray entrada = "USER " + datos_.usuario + "\r\nPASS " + datos_.clave + "\r\nSTAT\r\n";
    if (capacidades.uidl)
        encola(entrada + "UIDL\r\n", {Forma::Linea, Forma::Linea, Forma::Linea, Forma::Multilinea});
    else
        encola(entrada, {Forma::Linea, Forma::Linea, Forma::Linea});

    QByteArray respuesta;
    if (!leeSiguiente(&respuesta) || !leeSiguiente(&respuesta))
        return;
    if (EmpiezaPor(PrimeraLinea(respuesta), "-ERR")) {
        claveRechazada();
        return;
    }
    if (!leeSiguiente(&respuesta))
        return;
    const QByteArray lineaStat = PrimeraLinea(respuesta);
    const int cuenta = LeeCuenta(lineaStat);
    cuentaLeida(cuenta);
    if (cuenta == -1) {
        fallo();
        anota(Efecto::Dialogo, ansi::aTexto(textos::kProtocoloErroneo + Legible(lineaStat)));
        return;
    }
    if (capacidades.uidl) {
        etiqueta_ = 1;
        (void)leeSiguiente(&respuesta, kListaMax);
        recuerdaLista(respuesta, cuenta);
    }
    recogeEnCadena(cuenta);
    // An answer that never came shifts every later one onto the wrong command; that shows
    // only at the end, so a session in a row that failed keeps nothing it read.
    if (roto())
        desfase_ = true;
}

void Conversacion::pideTops(int desde)
{
    if (roto() || lector_.cerrada())
        return;
    const int hasta = reparto_.tope(orden_);
    QByteArray lote;
    int primero = 0;
    for (int m = qMax(siguiente_, desde); m <= hasta && m <= cuentaEnCadena_ && pedidos_.size() < kVentana; ++m) {
        siguiente_ = m + 1;
        if (conocido(m))
            continue;
        if (primero == 0)
            primero = m;
        lote += "TOP " + QByteArray::number(m) + " 1\r\n";
        pedidos_.push_back(m);
        pendientes_.push_back(Forma::Multilinea);
    }
    if (lote.isEmpty())
        return;
    // A failed send is the failure of the first message it asks for.
    const int antes = etiqueta_;
    etiqueta_ = primero;
    Sockets1.SetText(lote);
    etiqueta_ = antes;
}

void Conversacion::recogeEnCadena(int cuenta)
{
    cuentaEnCadena_ = cuenta;
    for (int k = 1; k <= cuenta && k <= reparto_.tope(orden_); ++k) {
        etiqueta_ = k;
        if (conocido(k)) {
            anotaLinea(datos_.recuerdo.value(ids_[k]));
            continue;
        }
        // The window is topped up once half of it has been answered.
        if (pedidos_.empty() || pedidos_.front() != k || pedidos_.size() <= kVentana / 2)
            pideTops(k);
        QByteArray respuesta;
        bool entera = false;
        if (!pedidos_.empty() && pedidos_.front() == k) {
            pedidos_.pop_front();
            (void)leeSiguiente(&respuesta, kRespuestaMax, &entera);
        }
        const Partes partes{Asunto(respuesta), Remitente(respuesta)};
        if (entera && !roto() && EmpiezaPor(respuesta, "+OK") && k < ids_.size() && !ids_[k].isEmpty())
            nuevas_.insert(ids_[k], partes);
        anotaLinea(partes);
    }
    etiqueta_ = 0;
}

void Conversacion::CierraSesion()
{
    if (!abierta_)
        return;
    // One QUIT per session, and none to a server that has already closed.
    if (sesionAbierta_ && !lector_.cerrada()) {
        sesionAbierta_ = false;
        cerrando_ = true;
        if (pendientes_.empty() && !roto())
            lector_.descarta();
        if (!lector_.cerrada()) {
            Sockets1.SetText("QUIT\r\n");
            lector_.inicia(datos_.espera > 0 ? qMin(datos_.espera, kEsperaQuit) : kEsperaQuit);
            // Answers still on their way come before QUIT's, in their own framing.
            QByteArray respuesta;
            bool entera = true;
            while (!pendientes_.empty() && entera) {
                const Forma forma = pendientes_.front();
                pendientes_.pop_front();
                entera = forma == Forma::Linea ? lector_.linea(&respuesta, kDrenaje)
                                               : lector_.multilinea(&respuesta, kDrenaje);
            }
            if (entera)
                (void)lector_.linea(&respuesta, kLineaMax);
            vigilaPlazo();
        }
        cerrando_ = false;
    }
    sesionAbierta_ = false;
    pendientes_.clear();
    pedidos_.clear();
    (void)ConsumeTiempoAgotado();
}

}
