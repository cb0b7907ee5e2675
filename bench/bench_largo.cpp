// A long run: 2000 check cycles over 3 mailboxes of 20 messages each on a private Dovecot
// server, with the resident memory after the warm-up, along the way and at the end.
#include "chequeo.h"
#include "medidas.h"
#include "servidor_dovecot.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

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

QByteArray usuario(int i) { return "u" + QByteArray::number(i); }

// The same conversation from a minimal blocking client, to tell the server's share of a cycle.
void cicloDirecto(quint16 puerto)
{
    for (int i = 1; i <= kBuzones; ++i)
        prueba::SesionDirecta(puerto, usuario(i), "clave", kMensajes);
}

}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QList<prueba::MensajePrueba> mensajes;
    for (int k = 1; k <= kMensajes; ++k)
        mensajes.append({"Asunto del mensaje " + QByteArray::number(k), "Remitente <r@ejemplo.org>"});
    prueba::Dovecots dovecot([&](prueba::ServidorDovecot& s) {
        for (int i = 1; i <= kBuzones; ++i)
            s.agregaUsuario(usuario(i), "clave", mensajes);
    });
    prueba::ServidorDovecot* const arrancado = dovecot();
    if (!arrancado)
        return 1;
    prueba::ServidorDovecot& servidor = *arrancado;

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
    const qint64 inicio = prueba::EstadoProceso("VmRSS:");
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
                std::printf("  tras %4d ciclos: %lld kB\n", n, prueba::EstadoProceso("VmRSS:"));
        }
    }
    const qint64 fin = prueba::EstadoProceso("VmRSS:");
    std::printf("  memoria residente al acabar:  %lld kB (pico %lld kB)\n", fin, prueba::EstadoProceso("VmHWM:"));
    std::printf("  crecimiento:                  %+lld kB (objetivo < 1024 kB)\n", fin - inicio);
    std::printf("  ciclos por segundo:           %.1f (%.2f ms por ciclo)\n", kCiclos / segundos,
                1000 * segundos / kCiclos);
    const int numDirectos = kCiclos / kCadaCuanto * kDirectosPorTramo;
    std::printf("  el cliente directo:           %.1f ciclos por segundo (%d ciclos entre tramos)\n",
                numDirectos / directos, numDirectos);
    std::printf("  ciclos incompletos: %d; cajas mostradas: %d\n", incompletos, cuenta.cajas);
    return incompletos == 0 && cuenta.cajas == 0 ? 0 : 1;
}
