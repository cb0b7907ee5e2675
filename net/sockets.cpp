#include "sockets.h"

#include "ansi.h"
#include "errores_winsock.h"

#include <QCoreApplication>
#include <QEventLoop>

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
    , transporte_(transporte ? std::move(transporte) : std::make_unique<TransportePosix>())
    , avisos_(avisos)
{
    temporizador_.setSingleShot(true);
    connect(&temporizador_, &QTimer::timeout, this, &TSockets::WMTimer);
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

void TSockets::StartTimeout()
{
    if (Timeout > 0)
        temporizador_.start(std::chrono::seconds(Timeout));
}

void TSockets::StopTimeout()
{
    if (Timeout > 0)
        temporizador_.stop();
}

void TSockets::WMTimer()
{
    temporizador_.stop();
    if (!esperando())
        return;
    cancelaEspera();
    if (OnErrorOccurred)
        OnErrorOccurred(this, SocketHandle(), winsock::kTiempoAgotado, "Llamada bloqueada");
    else
        avisos().caja(QStringLiteral("Error 10060\r\nBlocking call timed out"),
                      QStringLiteral("LLAMADA A WINSOCK CANCELADA"));
}

TSockets::Espera TSockets::espera(int fd, QSocketNotifier::Type tipo)
{
    if (bucle_)
        return Espera::EnCurso;
    QPointer<TSockets> vivo(this);
    QEventLoop bucle;
    QSocketNotifier aviso(fd, tipo);
    bool listo = false;
    connect(&aviso, &QSocketNotifier::activated, &bucle, [&] {
        listo = true;
        bucle.quit();
    });
    bucle_ = &bucle;
    cancelada_ = false;
    bucle.exec();
    if (!vivo)
        return Espera::Destruido;
    bucle_ = nullptr;
    // A loop that ends on neither event is the application quitting: a cancellation.
    return listo && !cancelada_ ? Espera::Lista : Espera::Cancelada;
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

    const bool bloqueante = !NonBlocking();
    if (bloqueante)
        StartTimeout();
    const Espera e = espera(r->tubo[0], QSocketNotifier::Read);
    if (e == Espera::Destruido)
        return false;
    if (bloqueante)
        StopTimeout();
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
    sockaddr_in destino{};
    destino.sin_family = AF_INET;
    if (const servent* servicio = ::getservbyname(Port.constData(), "tcp")) {
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
    if (esperando()) {
        ReportError("SConnect", SocketHandle(), winsock::kEnProgreso);
        return;
    }
    StartTimeout();
    int e = transporte_->conecta(destino);
    if (e == EINPROGRESS) {
        switch (espera(transporte_->descriptor(), QSocketNotifier::Write)) {
        case Espera::Destruido: return;
        case Espera::Lista: e = transporte_->resultadoConexion(); break;
        default: e = EINTR; break;
        }
    }
    StopTimeout();
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
    if (!NonBlocking() && esperando()) {
        ReportError("SetText (Send)", SocketHandle(), winsock::kEnProgreso);
        return;
    }
    if (!NonBlocking())
        StartTimeout();
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
        const Espera e = espera(transporte_->descriptor(), QSocketNotifier::Write);
        if (e == Espera::Destruido)
            return;
        if (e != Espera::Lista) {
            error = EINTR;
            break;
        }
    } while (hecho < Value.size());
    if (!NonBlocking())
        StopTimeout();
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
    if (!NonBlocking() && esperando()) {
        ReportError(donde, SocketHandle(), winsock::kEnProgreso);
        return {};
    }
    QByteArray datos(qMax(1, MaximumReceiveLength), Qt::Uninitialized);
    if (!NonBlocking())
        StartTimeout();
    qint64 n;
    for (;;) {
        n = transporte_->recibe(datos.data(), datos.size(), mirar);
        if (n >= 0 || -n != EAGAIN || !bloqueante)
            break;
        const Espera e = espera(transporte_->descriptor(), QSocketNotifier::Read);
        if (e == Espera::Destruido)
            return {};
        if (e != Espera::Lista) {
            n = -EINTR;
            break;
        }
    }
    if (!NonBlocking())
        StopTimeout();
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
