// One check cycle over 20 mailboxes of 100 messages each on a private Dovecot server,
// against a minimal blocking client that sends the same commands in the same run.
#include "chequeo.h"
#include "servidor_dovecot.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace pirel;

namespace {

constexpr int kBuzones = 20;
constexpr int kMensajes = 100;
constexpr int kRondas = 7;

class Silencio final : public Presentacion {
public:
    void caja(const QString& t, const QString&) override { std::fprintf(stderr, "caja: %s\n", qUtf8Printable(t)); }
    void termina() override {}
    void cajaError(const QString& t) override { std::fprintf(stderr, "error: %s\n", qUtf8Printable(t)); }
    void dialogo(const QString& t) override { std::fprintf(stderr, "dialogo: %s\n", qUtf8Printable(t)); }
    void icono(Bandera) override {}
    void consejo(const QString&) override {}
    void muestraAviso(const QString&, const QStringList&) override {}
    void pitido() override {}
    void reproduce(const QByteArray&) override {}
};

QByteArray usuario(int i) { return "u" + QByteArray::number(i).rightJustified(2, '0'); }

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

// `tops` is how many TOP commands go out in all, as the cycle stops asking once it holds
// as many header lines as it can keep.
int clienteDirecto(quint16 puerto, int tops)
{
    int mensajes = 0;
    for (int i = 1; i <= kBuzones; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in dir{};
        dir.sin_family = AF_INET;
        dir.sin_port = htons(puerto);
        dir.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<sockaddr*>(&dir), sizeof dir);
        QByteArray p;
        leeHasta(fd, p, "\r\n");
        orden(fd, "USER " + usuario(i) + "\r\n");
        leeHasta(fd, p, "\r\n");
        orden(fd, "PASS clave\r\n");
        leeHasta(fd, p, "\r\n");
        orden(fd, "STAT\r\n");
        leeHasta(fd, p, "\r\n");
        for (int k = 1; k <= kMensajes && tops > 0; ++k, --tops) {
            orden(fd, "TOP " + QByteArray::number(k) + " 1\r\n");
            if (leeHasta(fd, p, "\r\n.\r\n"))
                ++mensajes;
        }
        orden(fd, "QUIT\r\n");
        leeHasta(fd, p, "\r\n");
        ::close(fd);
    }
    return mensajes;
}

double mediana(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
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

    Silencio silencio;
    TSockets sockets(nullptr, &silencio);
    TBuzon buzones;
    for (int i = 1; i <= kBuzones; ++i)
        buzones.agregar("B" + QByteArray::number(i), "127.0.0.1", usuario(i), "clave", true);
    TMensaje tallies(buzones);
    TOpciones opciones;
    Chequeo chequeo(sockets, buzones, tallies, opciones, silencio);
    chequeo.puerto = QByteArray::number(servidor.puerto());

    std::vector<double> nuestro, directo, todos;
    int lineas = 0, respuestas = 0;
    for (int ronda = 0; ronda <= kRondas; ++ronda) {
        QElapsedTimer t;
        t.start();
        chequeo.CheckMail();
        const double a = t.nsecsElapsed() / 1e6;
        lineas = tallies.numCabeceras();
        t.restart();
        respuestas = clienteDirecto(servidor.puerto(), lineas);
        const double b = t.nsecsElapsed() / 1e6;
        t.restart();
        (void)clienteDirecto(servidor.puerto(), kBuzones * kMensajes);
        const double c = t.nsecsElapsed() / 1e6;
        if (ronda > 0) { // the first round warms Dovecot's indexes
            nuestro.push_back(a);
            directo.push_back(b);
            todos.push_back(c);
        }
    }
    const double mc = mediana(nuestro), md = mediana(directo);
    std::printf("ciclo de %d buzones x %d mensajes (%d lineas, el cliente directo %d respuestas)\n", kBuzones,
                kMensajes, lineas, respuestas);
    std::printf("  ciclo de Pirel:   %.1f ms (mediana de %d)\n", mc, kRondas);
    std::printf("  cliente directo:  %.1f ms (mediana de %d)\n", md, kRondas);
    std::printf("  razon:            %.3f (objetivo <= 1.10)\n", mc / md);
    std::printf("  cliente directo con un TOP por cada uno de los %d mensajes: %.1f ms\n", kBuzones * kMensajes,
                mediana(todos));
    return 0;
}
