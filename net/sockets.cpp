#include "sockets.h"

#include "ansi.h"
#include "errores_winsock.h"
#include "transporte_tls.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <netdb.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace pirel {
namespace {

// Without an owner to show them, the component's boxes go to standard error.
class AvisosPorDefecto final : public AvisosSocket {
public:
    void caja(const QString& texto, const QString& titulo) override
    {
        std::fprintf(stderr, "%s: %s\n", qUtf8Printable(titulo), qUtf8Printable(texto));
    }
    void termina() override { QCoreApplication::exit(0); }
};

// The name lookup runs on a thread of its own so the program keeps answering; the
// thread may outlive a wait that timed out, so it shares this record with the caller.
struct Resolucion {
    int tubo[2] = {-1, -1};
    in_addr_t direccion = 0;
    std::atomic<bool> resuelta{false};
    ~Resolucion()
    {
        for (int fd : tubo)
            if (fd >= 0)
                ::close(fd);
    }
};

QSocketNotifier::Type tipo(Direccion d)
{
    return d == Direccion::Escribir ? QSocketNotifier::Write : QSocketNotifier::Read;
}

QByteArray dondeDeEvento(int evento)
{
    switch (evento) {
    case TSockets::FD_READ: return "FD_READ";
    case TSockets::FD_WRITE: return "FD_WRITE";
    case TSockets::FD_ACCEPT: return "FD_ACCEPT";
    case TSockets::FD_CONNECT: return "FD_CONNECT";
    case TSockets::FD_CLOSE: return "FD_CLOSE";
    default: return {};
    }
}

}

TSockets::TSockets(QObject* parent, AvisosSocket* avisos, std::unique_ptr<Transporte> transporte)
    : QObject(parent)
    , transporte_(transporte ? std::move(transporte) : std::make_unique<TransporteTLS>())
    , avisos_(avisos)
{
}

TSockets::~TSockets()
{
    cancelaEspera();
    dejaDeVigilar();
    // The owner should have disconnected; a descriptor is never leaked all the same.
    if (transporte_->descriptor() >= 0)
        transporte_->cierra();
}

AvisosSocket& TSockets::avisos()
{
    static AvisosPorDefecto porDefecto;
    return avisos_ ? *avisos_ : porDefecto;
}

void TSockets::ReportError(const QByteArray& donde, int socket, int codigo)
{
    const QByteArray texto = ErrorText(codigo);
    if (OnErrorOccurred) {
        OnErrorOccurred(this, socket, codigo, texto);
        return;
    }
    const QByteArray compuesto = "Error " + QByteArray::number(codigo) + " en funcion " + donde + "\r\n" + texto;
    avisos().caja(ansi::aTexto(compuesto), ansi::aTexto(Aplicacion));
    avisos().termina();
}

QDeadlineTimer TSockets::StartTimeout() const
{
    if (NonBlocking() || Timeout <= 0)
        return QDeadlineTimer(QDeadlineTimer::Forever);
    return QDeadlineTimer(std::chrono::seconds(Timeout));
}

void TSockets::WMTimer()
{
    if (OnErrorOccurred)
        OnErrorOccurred(this, SocketHandle(), winsock::kTiempoAgotado, "Llamada bloqueada");
    else
        avisos().caja(QStringLiteral("Error 10060\r\nBlocking call timed out"),
                      QStringLiteral("LLAMADA A WINSOCK CANCELADA"));
}

bool TSockets::refusaAnidada(const QByteArray& donde)
{
    // One blocking call at a time, as WinSock allows: a call made from a handler while
    // another waits fails at once and leaves that wait, its socket and its timer alone.
    if (!esperando())
        return false;
    ReportError(donde, SocketHandle(), winsock::kEnProgreso);
    return true;
}

TSockets::Espera TSockets::espera(int fd, QSocketNotifier::Type tipo, const QDeadlineTimer& plazo)
{
    if (bucle_)
        return Espera::EnCurso;
    QPointer<TSockets> vivo(this);
    QEventLoop bucle;
    QSocketNotifier aviso(fd, tipo);
    QTimer reloj;
    reloj.setSingleShot(true);
    enum { Esperando, Avisada, Agotada } fin = Esperando;
    connect(&aviso, &QSocketNotifier::activated, &bucle, [&] {
        if (fin == Esperando)
            fin = Avisada;
        bucle.quit();
    });
    connect(&reloj, &QTimer::timeout, &bucle, [&] {
        if (fin == Esperando)
            fin = Agotada;
        bucle.quit();
    });
    if (!plazo.isForever())
        reloj.start(std::chrono::milliseconds(qMax<qint64>(0, plazo.remainingTime())));
    bucle_ = &bucle;
    cancelada_ = false;
    bucle.exec();
    if (!vivo)
        return Espera::Destruido;
    bucle_ = nullptr;
    if (cancelada_)
        return Espera::Cancelada;
    if (fin == Agotada) {
        WMTimer();
        return Espera::Cancelada;
    }
    // A loop that ends on neither event is the application quitting: a cancellation.
    return fin == Avisada ? Espera::Lista : Espera::Cancelada;
}

void TSockets::cancelaEspera()
{
    if (!bucle_)
        return;
    cancelada_ = true;
    bucle_->quit();
}

bool TSockets::resuelve(in_addr_t* direccion)
{
    const in_addr_t punteada = ::inet_addr(IPAddr.constData());
    if (punteada != INADDR_NONE) {
        *direccion = punteada;
        return true;
    }
    auto r = std::make_shared<Resolucion>();
    if (::pipe2(r->tubo, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    std::thread([r, nombre = std::string(IPAddr.constData())] {
        addrinfo pista{};
        pista.ai_family = AF_INET;
        pista.ai_socktype = SOCK_STREAM;
        addrinfo* lista = nullptr;
        if (::getaddrinfo(nombre.c_str(), nullptr, &pista, &lista) == 0 && lista) {
            r->direccion = reinterpret_cast<const sockaddr_in*>(lista->ai_addr)->sin_addr.s_addr;
            r->resuelta.store(true, std::memory_order_release);
        }
        if (lista)
            ::freeaddrinfo(lista);
        const char listo = 1;
        [[maybe_unused]] const auto n = ::write(r->tubo[1], &listo, 1);
    }).detach();

    const Espera e = espera(r->tubo[0], QSocketNotifier::Read, StartTimeout());
    if (e != Espera::Lista || !r->resuelta.load(std::memory_order_acquire))
        return false;
    *direccion = r->direccion;
    return true;
}

void TSockets::SConnect()
{
    if (Port.isEmpty()) {
        avisos().caja(QStringLiteral("No se ha especificado el Puerto"), ansi::aTexto(Aplicacion));
        return;
    }
    if (IPAddr.isEmpty()) {
        avisos().caja(QStringLiteral("No se ha especificado direccion IP"), ansi::aTexto(Aplicacion));
        return;
    }
    // Even the service and name look-ups wait; the new socket would also replace the one waited on.
    if (refusaAnidada("SConnect"))
        return;
    sockaddr_in destino{};
    destino.sin_family = AF_INET;
    // The reentrant look-up: sockets on other threads may be connecting at the same time.
    servent registro{};
    servent* servicio = nullptr;
    char memoria[1024];
    if (::getservbyname_r(Port.constData(), "tcp", &registro, memoria, sizeof memoria, &servicio) == 0 && servicio) {
        destino.sin_port = static_cast<in_port_t>(servicio->s_port);
    } else {
        bool ok = false;
        const int numero = Port.toInt(&ok, 10);
        if (!ok)
            throw ErrorConversion(QStringLiteral("'%1' is not a valid integer value").arg(ansi::aTexto(Port)));
        destino.sin_port = htons(static_cast<uint16_t>(numero));
    }
    if (!resuelve(&destino.sin_addr.s_addr))
        return;

    dejaDeVigilar();
    socketBloqueante_ = !NonBlocking();
    if (const int e = transporte_->abre())
        ReportError("SConnect (socket)", -1, CodigoWinsock(e));
    if (NonBlocking()) {
        vigila();
        const int e = transporte_->conecta(destino);
        conectando_ = e == 0 || e == EINPROGRESS;
        if (!conectando_)
            ReportError("SConnect", SocketHandle(), CodigoWinsock(e));
    } else {
        conectaBloqueante(destino);
    }
}

void TSockets::conectaBloqueante(const sockaddr_in& destino)
{
    const QDeadlineTimer plazo = StartTimeout();
    int e = transporte_->conecta(destino);
    if (e == EINPROGRESS) {
        switch (espera(transporte_->descriptor(), QSocketNotifier::Write, plazo)) {
        case Espera::Destruido: return;
        case Espera::Lista: e = transporte_->resultadoConexion(); break;
        default: e = EINTR; break;
        }
    }
    if (e != 0)
        ReportError("SConnect", SocketHandle(), CodigoWinsock(e));
}

void TSockets::Disconnect()
{
    dejaDeVigilar();
    conectando_ = false;
    cancelaEspera();
    if (const int e = transporte_->cierra())
        ReportError("Disconnect (closesocket)", SocketHandle(), CodigoWinsock(e));
}

void TSockets::SetText(const QByteArray& Value)
{
    const bool bloqueante = !NonBlocking() && socketBloqueante_;
    if (!NonBlocking() && refusaAnidada("SetText (Send)"))
        return;
    const QDeadlineTimer plazo = StartTimeout();
    qint64 hecho = 0;
    int error = 0;
    // A blocking send sends everything; a non-blocking one makes a single attempt.
    do {
        const qint64 n = transporte_->envia(Value.constData() + hecho, Value.size() - hecho);
        if (n >= 0) {
            hecho += n;
            if (!bloqueante)
                break;
            continue;
        }
        if (-n != EAGAIN || !bloqueante) {
            error = static_cast<int>(-n);
            break;
        }
        const Espera e = espera(transporte_->descriptor(), tipo(transporte_->aguarda(Direccion::Escribir)), plazo);
        if (e == Espera::Destruido)
            return;
        if (e != Espera::Lista) {
            error = EINTR;
            break;
        }
    } while (hecho < Value.size());
    if (error != 0) {
        if (error == EAGAIN && escritura_)
            escritura_->setEnabled(true);
        ReportError("SetText (Send)", SocketHandle(), CodigoWinsock(error));
    }
}

QByteArray TSockets::recibeUna(bool mirar, const QByteArray& donde, bool* cerrada)
{
    if (cerrada)
        *cerrada = false;
    if (SocketHandle() == -1)
        return {};
    const bool bloqueante = !NonBlocking() && socketBloqueante_;
    if (!NonBlocking() && refusaAnidada(donde))
        return {};
    QByteArray datos(qMax(1, MaximumReceiveLength), Qt::Uninitialized);
    const QDeadlineTimer plazo = StartTimeout();
    qint64 n;
    for (;;) {
        n = transporte_->recibe(datos.data(), datos.size(), mirar);
        if (n >= 0 || -n != EAGAIN || !bloqueante)
            break;
        const Espera e = espera(transporte_->descriptor(), tipo(transporte_->aguarda(Direccion::Leer)), plazo);
        if (e == Espera::Destruido)
            return {};
        if (e != Espera::Lista) {
            n = -EINTR;
            break;
        }
    }
    if (n < 0) {
        ReportError(donde, SocketHandle(), CodigoWinsock(static_cast<int>(-n)));
        return {};
    }
    if (n == 0) {
        if (cerrada)
            *cerrada = true;
        return {};
    }
    if (lectura_ && !conectando_)
        lectura_->setEnabled(true);
    datos.truncate(n);
    return datos;
}

QByteArray TSockets::Recibe(bool* cerrada)
{
    return recibeUna(false, "GetText (Recv)", cerrada);
}

void TSockets::Descarta(qint64 maximo, bool* cerrada)
{
    bool cerro = false;
    if (SocketHandle() != -1 && !(!NonBlocking() && refusaAnidada("GetText (Recv)"))) {
        if (const int e = transporte_->descarta(maximo, &cerro))
            ReportError("GetText (Recv)", SocketHandle(), CodigoWinsock(e));
        else if (lectura_ && !conectando_ && !cerro)
            lectura_->setEnabled(true);
    }
    if (cerrada)
        *cerrada = cerro;
}

QByteArray TSockets::GetText()
{
    const QByteArray datos = recibeUna(false, "GetText (Recv)", nullptr);
    return datos.left(datos.indexOf('\0') < 0 ? datos.size() : datos.indexOf('\0'));
}

QByteArray TSockets::PeekData()
{
    const QByteArray datos = recibeUna(true, "PeekData (Peek)", nullptr);
    return datos.left(datos.indexOf('\0') < 0 ? datos.size() : datos.indexOf('\0'));
}

FalloTLS TSockets::IniciaTLS(const QByteArray& huella)
{
    if (SocketHandle() == -1 || refusaAnidada("IniciaTLS"))
        return FalloTLS::Negociacion;
    if (transporte_->empiezaTLS(IPAddr, huella) != 0)
        return FalloTLS::Negociacion;
    const QDeadlineTimer plazo = StartTimeout();
    for (;;) {
        const int r = transporte_->negocia();
        if (r == 0)
            return FalloTLS::Ninguno;
        if (r != EAGAIN) {
            const FalloTLS fallo = transporte_->informeTLS().fallo;
            return fallo == FalloTLS::Ninguno ? FalloTLS::Negociacion : fallo;
        }
        switch (espera(transporte_->descriptor(), tipo(transporte_->aguarda(Direccion::Leer)), plazo)) {
        case Espera::Lista: break;
        case Espera::Destruido: return FalloTLS::Negociacion;
        default:
            ReportError("IniciaTLS", SocketHandle(), winsock::kInterrumpida);
            return FalloTLS::Negociacion;
        }
    }
}

void TSockets::vigila()
{
    const int fd = transporte_->descriptor();
    if (fd < 0) {
        ReportError("WSAAsyncSelect", SocketHandle(), winsock::kNoSocket);
        return;
    }
    lectura_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    escritura_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    // Nothing is read until the connection is made, so a refusal is told once, as FD_CONNECT.
    lectura_->setEnabled(false);
    connect(lectura_.get(), &QSocketNotifier::activated, this, &TSockets::alPoderLeer);
    connect(escritura_.get(), &QSocketNotifier::activated, this, &TSockets::alPoderEscribir);
}

void TSockets::dejaDeVigilar()
{
    // A handler may disconnect from inside the notifier's own signal.
    if (lectura_)
        lectura_.release()->deleteLater();
    if (escritura_)
        escritura_.release()->deleteLater();
}

void TSockets::alPoderEscribir()
{
    escritura_->setEnabled(false);
    const int fd = SocketHandle();
    if (conectando_) {
        conectando_ = false;
        const int e = transporte_->resultadoConexion();
        if (e != 0) {
            WMUser(fd, static_cast<quint32>(FD_CONNECT) | static_cast<quint32>(CodigoWinsock(e)) << 16);
            return;
        }
        if (lectura_)
            lectura_->setEnabled(true);
        WMUser(fd, FD_CONNECT);
        if (fd != SocketHandle())
            return;
    }
    WMUser(fd, FD_WRITE);
}

void TSockets::alPoderLeer()
{
    char uno;
    const qint64 n = transporte_->recibe(&uno, 1, true);
    if (n < 0 && -n == EAGAIN)
        return;
    // Told once until the program reads; a receive arms it again.
    lectura_->setEnabled(false);
    const int fd = SocketHandle();
    if (n > 0)
        WMUser(fd, FD_READ);
    else if (n == 0)
        WMUser(fd, FD_CLOSE);
    else
        WMUser(fd, static_cast<quint32>(FD_CLOSE) | static_cast<quint32>(CodigoWinsock(static_cast<int>(-n))) << 16);
}

void TSockets::WMUser(int wParam, quint32 lParam)
{
    const int evento = static_cast<int>(lParam & 0xFFFF);
    const int error = static_cast<int>(lParam >> 16);
    if (error > kUmbralError) {
        ReportError(dondeDeEvento(evento), wParam, error);
        return;
    }
    const TDataAvailable* manejador = nullptr;
    switch (evento) {
    case FD_READ: manejador = &OnDataAvailable; break;
    case FD_WRITE: manejador = &OnDataNeeded; break;
    case FD_ACCEPT: manejador = &OnSessionAvailable; break;
    case FD_CONNECT: manejador = &OnSessionConnected; break;
    case FD_CLOSE: manejador = &OnSessionClosed; break;
    default: return;
    }
    if (*manejador)
        (*manejador)(this, wParam);
}

}
