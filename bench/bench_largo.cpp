// A long run: 2000 check cycles over 3 mailboxes of 20 messages each on a private Dovecot
// server, with the resident memory after the warm-up, along the way and at the end.
#include "chequeo.h"
#include "servidor_dovecot.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace pirel;

namespace {

constexpr int kBuzones = 3;
constexpr int kMensajes = 20;
constexpr int kCalentamiento = 20;
constexpr int kCiclos = 2000;
constexpr int kCadaCuanto = 250;
constexpr int kDirectosPorTramo = 10;

// Counts what the cycle would have shown; a box in a long run is a failure to report.
class Cuenta final : public Presentacion {
public:
    void caja(const QString& t, const QString&) override { anota(t); }
    void termina() override {}
    void cajaError(const QString& t) override { anota(t); }
    void dialogo(const QString& t) override { anota(t); }
    void icono(Bandera) override {}
    void consejo(const QString&) override {}
    void muestraAviso(const QString&, const QStringList&) override {}
    void pitido() override {}
    void reproduce(const QByteArray&) override {}
    int cajas = 0;

private:
    void anota(const QString& t)
    {
        if (cajas++ < 5)
            std::fprintf(stderr, "caja: %s\n", qUtf8Printable(t));
    }
};

// A figure of /proc/self/status in kB.
qint64 estado(const char* campo)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& linea : f.readAll().split('\n'))
        if (linea.startsWith(campo))
            return linea.mid(qstrlen(campo)).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

QByteArray usuario(int i) { return "u" + QByteArray::number(i); }

// Reads until `fin` ends what has been received.
bool leeHasta(int fd, QByteArray& pendiente, const char* fin)
{
    char buf[4096];
    for (;;) {
        const qsizetype donde = pendiente.indexOf(fin);
        if (donde >= 0) {
            pendiente.remove(0, donde + qstrlen(fin));
            return true;
        }
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return false;
        pendiente.append(buf, n);
    }
}

void orden(int fd, const QByteArray& texto) { (void)!::send(fd, texto.constData(), texto.size(), MSG_NOSIGNAL); }

// The same conversation from a minimal blocking client, to tell the server's share of a cycle.
void cicloDirecto(quint16 puerto)
{
    for (int i = 1; i <= kBuzones; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in dir{};
        dir.sin_family = AF_INET;
        dir.sin_port = htons(puerto);
        dir.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<sockaddr*>(&dir), sizeof dir);
        QByteArray p;
        leeHasta(fd, p, "\r\n");
        for (const QByteArray& o : {"USER " + usuario(i), QByteArray("PASS clave"), QByteArray("STAT")}) {
            orden(fd, o + "\r\n");
            leeHasta(fd, p, "\r\n");
        }
        for (int k = 1; k <= kMensajes; ++k) {
            orden(fd, "TOP " + QByteArray::number(k) + " 1\r\n");
            leeHasta(fd, p, "\r\n.\r\n");
        }
        orden(fd, "QUIT\r\n");
        leeHasta(fd, p, "\r\n");
        ::close(fd);
    }
}

}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    prueba::ServidorDovecot servidor;
    QList<prueba::MensajePrueba> mensajes;
    for (int k = 1; k <= kMensajes; ++k)
        mensajes.append({"Asunto del mensaje " + QByteArray::number(k), "Remitente <r@ejemplo.org>"});
    for (int i = 1; i <= kBuzones; ++i)
        servidor.agregaUsuario(usuario(i), "clave", mensajes);
    QString error;
    if (!servidor.arranca(&error)) {
        std::fprintf(stderr, "Dovecot no arranca: %s\n", qUtf8Printable(error));
        return 1;
    }

    Cuenta cuenta;
    TSockets sockets(nullptr, &cuenta);
    TBuzon buzones;
    for (int i = 1; i <= kBuzones; ++i)
        buzones.agregar("B" + QByteArray::number(i), "127.0.0.1", usuario(i), "clave", true);
    TMensaje tallies(buzones);
    TOpciones opciones;
    Chequeo chequeo(sockets, buzones, tallies, opciones, cuenta);
    chequeo.puerto = QByteArray::number(servidor.puerto());
    chequeo.espera = 10;

    int incompletos = 0;
    const auto ciclo = [&] {
        chequeo.CheckMail();
        if (tallies.numCabeceras() != kBuzones * kMensajes)
            ++incompletos;
    };
    for (int n = 0; n < kCalentamiento; ++n)
        ciclo();
    const qint64 inicio = estado("VmRSS:");
    std::printf("%d ciclos de %d buzones x %d mensajes, tras %d de calentamiento\n", kCiclos, kBuzones, kMensajes,
                kCalentamiento);
    std::printf("  memoria residente al empezar: %lld kB\n", inicio);
    // The direct client runs between stretches, so that both meet the same load on the machine.
    double segundos = 0, directos = 0;
    QElapsedTimer t;
    for (int n = 1; n <= kCiclos; ++n) {
        t.start();
        ciclo();
        segundos += t.nsecsElapsed() / 1e9;
        if (n % kCadaCuanto == 0) {
            t.start();
            for (int d = 0; d < kDirectosPorTramo; ++d)
                cicloDirecto(servidor.puerto());
            directos += t.nsecsElapsed() / 1e9;
            if (n < kCiclos)
                std::printf("  tras %4d ciclos: %lld kB\n", n, estado("VmRSS:"));
        }
    }
    const qint64 fin = estado("VmRSS:");
    std::printf("  memoria residente al acabar:  %lld kB (pico %lld kB)\n", fin, estado("VmHWM:"));
    std::printf("  crecimiento:                  %+lld kB (objetivo < 1024 kB)\n", fin - inicio);
    std::printf("  ciclos por segundo:           %.1f (%.2f ms por ciclo)\n", kCiclos / segundos,
                1000 * segundos / kCiclos);
    const int numDirectos = kCiclos / kCadaCuanto * kDirectosPorTramo;
    std::printf("  el cliente directo:           %.1f ciclos por segundo (%d ciclos entre tramos)\n",
                numDirectos / directos, numDirectos);
    std::printf("  ciclos incompletos: %d; cajas mostradas: %d\n", incompletos, cuenta.cajas);
    return incompletos == 0 && cuenta.cajas == 0 ? 0 : 1;
}
