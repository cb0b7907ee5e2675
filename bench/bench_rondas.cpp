// The check cycle over a slow network: the tests' Dovecot behind a proxy of this program
// that delays every byte by 25 ms each way (a 50 ms round trip, and one more for the
// handshake that loopback hides), with 20 mailboxes of 200 down to 10 messages. Prints a
// cold cycle, a warm one (headers known), the slowest mailbox alone, and whether the lines
// stay the same.
#include "chequeo.h"
#include "medidas.h"
#include "servidor_dovecot.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <fcntl.h>
#include <list>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace pirel;
using Reloj = std::chrono::steady_clock;

namespace {

constexpr int kBuzones = 20;
constexpr auto kIda = std::chrono::milliseconds(25);

sockaddr_in loopback(quint16 puerto)
{
    return {AF_INET, htons(puerto), {htonl(INADDR_LOOPBACK)}, {}};
}

// A TCP proxy on loopback that hands every piece on `kIda` after it arrived, in both
// directions, and opens the way to the server a round trip after the client connected.
class Retardo {
public:
    explicit Retardo(quint16 destino)
        : destino_(destino)
    {
        escucha_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in dir = loopback(0);
        socklen_t largo = sizeof dir;
        ::bind(escucha_, reinterpret_cast<sockaddr*>(&dir), largo);
        ::listen(escucha_, 64);
        ::getsockname(escucha_, reinterpret_cast<sockaddr*>(&dir), &largo);
        puerto_ = ntohs(dir.sin_port);
        hilo_ = std::thread([this] { bucle(); });
    }
    ~Retardo()
    {
        parar_ = true;
        hilo_.join();
        for (Par& p : pares_)
            cierra(p);
        ::close(escucha_);
    }
    quint16 puerto() const { return puerto_; }

private:
    struct Trozo {
        Reloj::time_point cuando;
        QByteArray datos; // empty: the end of the stream
    };
    struct Sentido {
        int desde = -1, hacia = -1;
        std::deque<Trozo> cola;
        bool leidoFin = false, escritoFin = false;
    };
    struct Par {
        int cliente = -1, servidor = -1;
        Reloj::time_point abre;
        Sentido ida, vuelta;
    };

    static void cierra(Par& p)
    {
        for (int fd : {p.cliente, p.servidor})
            if (fd >= 0)
                ::close(fd);
        p.cliente = p.servidor = -1;
    }

    void lee(Sentido& s)
    {
        char buf[65536];
        const ssize_t n = ::recv(s.desde, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0)
            s.cola.push_back({Reloj::now() + kIda, QByteArray(buf, n)});
        else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            s.leidoFin = true;
            s.cola.push_back({Reloj::now() + kIda, {}});
        }
    }

    static void entrega(Sentido& s)
    {
        while (!s.cola.empty() && s.cola.front().cuando <= Reloj::now() && !s.escritoFin) {
            Trozo& t = s.cola.front();
            if (t.datos.isEmpty()) {
                ::shutdown(s.hacia, SHUT_WR);
                s.escritoFin = true;
                s.cola.pop_front();
                break;
            }
            const ssize_t n = ::send(s.hacia, t.datos.constData(), static_cast<size_t>(t.datos.size()),
                                     MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n <= 0) {
                if (errno != EAGAIN && errno != EINTR)
                    s.escritoFin = true;
                return;
            }
            t.datos.remove(0, n);
            if (t.datos.isEmpty())
                s.cola.pop_front();
        }
    }

    void bucle()
    {
        while (!parar_) {
            std::vector<pollfd> fds{{escucha_, POLLIN, 0}};
            std::vector<Sentido*> lectores{nullptr};
            auto proximo = Reloj::now() + std::chrono::milliseconds(20);
            for (Par& p : pares_) {
                if (p.servidor < 0) {
                    proximo = std::min(proximo, p.abre);
                    continue;
                }
                for (Sentido* s : {&p.ida, &p.vuelta}) {
                    if (!s->leidoFin) {
                        fds.push_back({s->desde, POLLIN, 0});
                        lectores.push_back(s);
                    }
                    if (!s->cola.empty())
                        proximo = std::min(proximo, s->cola.front().cuando);
                }
            }
            const auto espera = std::chrono::duration_cast<std::chrono::milliseconds>(proximo - Reloj::now()).count();
            ::poll(fds.data(), fds.size(), static_cast<int>(std::max<long long>(0, espera) + 1));
            if (fds[0].revents & POLLIN) {
                const int c = ::accept4(escucha_, nullptr, nullptr, SOCK_CLOEXEC);
                if (c >= 0) {
                    const int si = 1;
                    ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &si, sizeof si);
                    pares_.push_back({c, -1, Reloj::now() + 2 * kIda, {}, {}});
                }
            }
            for (size_t n = 1; n < fds.size(); ++n)
                if (fds[n].revents & (POLLIN | POLLHUP | POLLERR))
                    lee(*lectores[n]);
            for (auto p = pares_.begin(); p != pares_.end();) {
                if (p->servidor < 0 && p->abre <= Reloj::now()) {
                    p->servidor = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                    const sockaddr_in dir = loopback(destino_);
                    ::connect(p->servidor, reinterpret_cast<const sockaddr*>(&dir), sizeof dir);
                    const int si = 1;
                    ::setsockopt(p->servidor, IPPROTO_TCP, TCP_NODELAY, &si, sizeof si);
                    p->ida.desde = p->vuelta.hacia = p->cliente;
                    p->ida.hacia = p->vuelta.desde = p->servidor;
                }
                if (p->servidor >= 0) {
                    entrega(p->ida);
                    entrega(p->vuelta);
                }
                const bool acabado = p->servidor >= 0 && p->ida.escritoFin && p->vuelta.escritoFin;
                if (acabado) {
                    cierra(*p);
                    p = pares_.erase(p);
                } else {
                    ++p;
                }
            }
        }
    }

    quint16 destino_;
    int escucha_ = -1;
    quint16 puerto_ = 0;
    std::atomic<bool> parar_{false};
    std::list<Par> pares_;
    std::thread hilo_;
};

QByteArray usuario(int i) { return "u" + QByteArray::number(i).rightJustified(2, '0'); }
int mensajesDe(int i) { return 210 - 10 * i; }

// What the server says to CAPA, straight, one line per capability.
QByteArray capacidades(quint16 puerto)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in dir = loopback(puerto);
    QByteArray r;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&dir), sizeof dir) == 0) {
        char buf[4096];
        ssize_t n = ::read(fd, buf, sizeof buf); // the greeting
        (void)!::write(fd, "CAPA\r\nQUIT\r\n", 12);
        while (!r.contains("\r\n.\r\n") && (n = ::read(fd, buf, sizeof buf)) > 0)
            r.append(buf, n);
    }
    ::close(fd);
    r = r.left(r.indexOf("\r\n.\r\n"));
    return r.mid(r.indexOf('\n') + 1).replace("\r\n", " ");
}

struct Medida {
    double ms = 0;
    QStringList lineas;
};

Medida ciclo(Chequeo& chequeo, const TMensaje& tallies)
{
    QElapsedTimer t;
    t.start();
    chequeo.CheckMail();
    Medida m{t.nsecsElapsed() / 1e6, {}};
    for (int n = 1; n <= tallies.numCabeceras(); ++n)
        m.lineas << tallies.cabecera(n);
    return m;
}

}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList esperadas;
    prueba::Dovecots dovecot([&](prueba::ServidorDovecot& s) {
        for (int i = 1; i <= kBuzones; ++i) {
            QList<prueba::MensajePrueba> mensajes;
            for (int k = 1; k <= mensajesDe(i); ++k) {
                const QByteArray asunto = "Mensaje " + QByteArray::number(k) + " de " + usuario(i);
                mensajes.append({"=?UTF-8?B?" + asunto.toBase64() + "?=", "=?ISO-8859-1?Q?Remitente_Pe=F1a?= <r@ejemplo.org>"});
                esperadas << "B" + QString::number(i) + " => " + QString::fromLatin1(asunto) + ": Remitente Peña";
            }
            s.agregaUsuario(usuario(i), "clave", mensajes);
        }
    });
    prueba::ServidorDovecot* const arrancado = dovecot();
    if (!arrancado)
        return 1;
    prueba::ServidorDovecot& servidor = *arrancado;
    esperadas = esperadas.mid(0, kMaxCabeceras);
    std::printf("CAPA de Dovecot: %s\n", capacidades(servidor.puerto()).constData());
    Retardo retardo(servidor.puerto());

    prueba::PresentacionCallada silencio;
    TSockets sockets(nullptr, &silencio);
    TOpciones opciones;
    const auto tabla = [](TBuzon* b, int desde, int hasta) {
        for (int i = desde; i <= hasta; ++i)
            b->agregar("B" + QByteArray::number(i), "127.0.0.1", usuario(i), "clave", true);
    };
    TBuzon buzones;
    tabla(&buzones, 1, kBuzones);
    const auto cicloDeTodos = [&](int simultaneos, Medida* frio, Medida* templado) {
        TMensaje tallies(buzones);
        Chequeo chequeo(sockets, buzones, tallies, opciones, silencio);
        chequeo.puerto = QByteArray::number(retardo.puerto());
        chequeo.simultaneos = simultaneos;
        *frio = ciclo(chequeo, tallies);
        if (templado)
            *templado = ciclo(chequeo, tallies);
    };
    // The first session warms Dovecot's indexes, which a real server has warm.
    Medida calentamiento;
    cicloDeTodos(kBuzones, &calentamiento, nullptr);

    Medida frio, templado, seguido;
    cicloDeTodos(kBuzones, &frio, &templado);
    cicloDeTodos(1, &seguido, nullptr);

    double peor = 0;
    int cual = 0;
    for (int i = 1; i <= kBuzones; ++i) {
        TBuzon solo;
        tabla(&solo, i, i);
        TMensaje tallies(solo);
        Chequeo chequeo(sockets, solo, tallies, opciones, silencio);
        chequeo.puerto = QByteArray::number(retardo.puerto());
        const Medida m = ciclo(chequeo, tallies);
        if (m.ms > peor) {
            peor = m.ms;
            cual = i;
        }
    }

    std::printf("%d buzones de %d a %d mensajes tras un retardo de 50 ms ida y vuelta (%d lineas)\n", kBuzones,
                mensajesDe(kBuzones), mensajesDe(1), static_cast<int>(frio.lineas.size()));
    std::printf("  ciclo en frio:                       %7.1f ms\n", frio.ms);
    std::printf("  ciclo templado (cabeceras conocidas): %7.1f ms (objetivo < 1000 ms)\n", templado.ms);
    std::printf("  el buzon mas lento solo, en frio:    %7.1f ms (B%d, %d mensajes)\n", peor, cual, mensajesDe(cual));
    std::printf("  razon frio / buzon mas lento:        %7.2f (objetivo <= 1.5)\n", frio.ms / peor);
    std::printf("  uno tras otro en frio:               %7.1f ms\n", seguido.ms);
    const bool iguales = frio.lineas == esperadas && templado.lineas == esperadas && seguido.lineas == esperadas;
    std::printf("  lineas iguales a las esperadas en los tres ciclos: %s\n", iguales ? "si" : "NO");
    return iguales ? 0 : 1;
}
