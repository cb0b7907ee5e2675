#pragma once
// One client TCP connection with WinSock's manners: blocking calls that wait in a
// nested event loop (so the program keeps answering) bounded each by Timeout, or
// notification events in non-blocking mode, and every failure reported with a
// WinSock code and its Spanish text.
#include "error_texto.h"
#include "transporte.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QString>

#include <functional>
#include <memory>

class QEventLoop;

namespace pirel {

// How the component shows its own boxes and ends the program; widgets live elsewhere.
class AvisosSocket {
public:
    virtual ~AvisosSocket() = default;
    // A modal box with OK and Cancel and no icon; the answer is not used.
    virtual void caja(const QString& texto, const QString& titulo) = 0;
    // Orderly end of the program with exit code 0.
    virtual void termina() = 0;
};

// The conversion error that SConnect lets through for a port that is neither a
// service name nor a number.
class ErrorConversion : public ErrorTexto {
    using ErrorTexto::ErrorTexto;
};

class TSockets : public QObject {
    Q_OBJECT
public:
    using TDataAvailable = std::function<void(TSockets* Sender, int Socket)>;
    using TDataNeeded = TDataAvailable;
    using TSessionClosed = TDataAvailable;
    using TSessionAvailable = TDataAvailable;
    using TSessionConnected = TDataAvailable;
    // Msg is the Spanish text in Windows-1252.
    using TErrorOccurred = std::function<void(TSockets* Sender, int Socket, int Error, const QByteArray& Msg)>;

    // Event values and the error threshold of a notification.
    static constexpr int FD_READ = 1, FD_WRITE = 2, FD_ACCEPT = 8, FD_CONNECT = 16, FD_CLOSE = 32;
    static constexpr int kUmbralError = 10000;

    explicit TSockets(QObject* parent = nullptr, AvisosSocket* avisos = nullptr,
                      std::unique_ptr<Transporte> transporte = nullptr);
    ~TSockets() override;

    // Published properties.
    QByteArray Aplicacion;
    int MaximumReceiveLength = 8192;
    QByteArray IPAddr;
    QByteArray Port;
    int Timeout = 30;
    bool NonBlocking() const { return noBloqueante_ == 1; }
    void setNonBlocking(bool valor) { noBloqueante_ = valor ? 1 : 0; }

    TDataAvailable OnDataAvailable;
    TDataNeeded OnDataNeeded;
    TSessionClosed OnSessionClosed;
    TSessionAvailable OnSessionAvailable;
    TSessionConnected OnSessionConnected;
    TErrorOccurred OnErrorOccurred;

    int SocketHandle() const { return transporte_->descriptor(); }

    // Throws ErrorConversion for a port that is neither a service nor a number.
    void SConnect();
    void Disconnect();
    void SetText(const QByteArray& Value);
    // One receive; the text ends at the first zero byte.
    [[nodiscard]] QByteArray GetText();
    [[nodiscard]] QByteArray PeekData();
    // One receive with every byte kept, zero bytes included. Empty after a failure
    // or when the peer has closed; `cerrada` says which.
    [[nodiscard]] QByteArray Recibe(bool* cerrada = nullptr);
    // Throws away, without waiting, up to `maximo` bytes that have arrived and not been
    // read. A failure is reported as a receive's; `cerrada` tells that the peer has closed.
    void Descarta(qint64 maximo, bool* cerrada = nullptr);
    // Bytes that have arrived and not been read, without waiting.
    [[nodiscard]] qint64 Disponibles() const { return transporte_->disponibles(); }

    // TLS over the open connection, its certificate checked for IPAddr; with a pin, that
    // certificate alone is trusted. A blocking call like the others: bounded by Timeout,
    // a time-out reported as theirs are. Every other failure is told only by the result,
    // and UltimoTLS() says more.
    [[nodiscard]] FalloTLS IniciaTLS(const QByteArray& huella = {});
    bool Cifrado() const { return transporte_->cifrado(); }
    InformeTLS UltimoTLS() const { return transporte_->informeTLS(); }

    // A notification as the window message carried it: event in the low 16 bits of
    // lParam, error in the high 16.
    void WMUser(int wParam, quint32 lParam);

    void setAvisos(AvisosSocket* avisos) { avisos_ = avisos; }
    // True while a blocking call waits.
    bool esperando() const { return bucle_ != nullptr; }

private:
    enum class Espera { Lista, Cancelada, EnCurso, Destruido };

    void ReportError(const QByteArray& donde, int socket, int codigo);
    // The time one blocking call may take, from now; every wait of the call runs its own
    // timer against it, so no other call can restart or stop it.
    [[nodiscard]] QDeadlineTimer StartTimeout() const;
    // A wait ran out of time: the 10060 report, before the interrupted call's own.
    void WMTimer();
    [[nodiscard]] bool refusaAnidada(const QByteArray& donde);
    [[nodiscard]] Espera espera(int fd, QSocketNotifier::Type tipo, const QDeadlineTimer& plazo);
    void cancelaEspera();
    [[nodiscard]] bool resuelve(in_addr_t* direccion);
    [[nodiscard]] QByteArray recibeUna(bool mirar, const QByteArray& donde, bool* cerrada);
    void conectaBloqueante(const sockaddr_in& destino);
    void vigila();
    void dejaDeVigilar();
    void alPoderLeer();
    void alPoderEscribir();
    AvisosSocket& avisos();

    std::unique_ptr<Transporte> transporte_;
    AvisosSocket* avisos_;
    int noBloqueante_ = 1;
    // The mode the open socket was connected in: only such a socket waits for data.
    bool socketBloqueante_ = false;
    QEventLoop* bucle_ = nullptr;
    bool cancelada_ = false;
    bool conectando_ = false;
    std::unique_ptr<QSocketNotifier> lectura_;
    std::unique_ptr<QSocketNotifier> escritura_;
};

}
