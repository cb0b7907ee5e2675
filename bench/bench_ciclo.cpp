// One check cycle over 20 mailboxes of 100 messages each on a private Dovecot server,
// against a minimal blocking client that asks for the headers the cycle shows, in the same
// run; the cycle again with no headers remembered; then the same over TLS from the first byte.
#include "chequeo.h"
#include "lectura.h"
#include "medidas.h"
#include "servidor_dovecot.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace pirel;

namespace {

constexpr int kBuzones = 20;
constexpr int kMensajes = 100;
constexpr int kRondas = 7;

QByteArray usuario(int i) { return "u" + QByteArray::number(i).rightJustified(2, '0'); }

// `tops` is how many TOP commands go out in all, as the cycle stops asking once it holds
// as many header lines as it can keep.
int clienteDirecto(quint16 puerto, int tops, bool tls = false)
{
    int respuestas = 0;
    for (int i = 1; i <= kBuzones; ++i) {
        const int aqui = qMin(tops, kMensajes);
        respuestas += tls ? prueba::SesionDirectaTLS(puerto, usuario(i), "clave", aqui)
                          : prueba::SesionDirecta(puerto, usuario(i), "clave", aqui);
        tops -= aqui;
    }
    return respuestas;
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
    QList<prueba::MensajePrueba> mensajes;
    for (int k = 1; k <= kMensajes; ++k)
        // Encoded as today's mail writes them, so the decoding is part of the cycle.
        mensajes.append({"=?UTF-8?B?" + ("Reunión del mensaje " + QByteArray::number(k)).toBase64() + "?=",
                         "=?ISO-8859-1?Q?Remitente_Pe=F1a?= <r@ejemplo.org>"});
    prueba::Dovecots dovecot([&](prueba::ServidorDovecot& s) {
        for (int i = 1; i <= kBuzones; ++i)
            s.agregaUsuario(usuario(i), "clave", mensajes);
    });
    prueba::ServidorDovecot* const arrancado = dovecot();
    if (!arrancado)
        return 1;
    prueba::ServidorDovecot& servidor = *arrancado;

    prueba::PresentacionCallada silencio;
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
    // The same cycle with nothing remembered from an earlier one: every header asked for.
    std::vector<double> frios;
    for (int ronda = 0; ronda < kRondas; ++ronda) {
        TMensaje otras(buzones);
        Chequeo nuevo(sockets, buzones, otras, opciones, silencio);
        nuevo.puerto = chequeo.puerto;
        QElapsedTimer t;
        t.start();
        nuevo.CheckMail();
        frios.push_back(t.nsecsElapsed() / 1e6);
    }
    std::printf("  ciclo de Pirel sin cabeceras recordadas: %.1f ms (mediana de %d)\n", mediana(frios), kRondas);
    std::printf("  cliente directo con un TOP por cada uno de los %d mensajes: %.1f ms\n", kBuzones * kMensajes,
                mediana(todos));

    // The same mailboxes over TLS from the first byte, both clients checking the certificate.
    TBuzon seguros;
    for (int i = 1; i <= kBuzones; ++i)
        seguros.agregar("B" + QByteArray::number(i), "127.0.0.1", usuario(i), "clave", true,
                        {Seguridad::SSL, servidor.puertoTLS(), {}});
    TMensaje talliesTLS(seguros);
    Chequeo chequeoTLS(sockets, seguros, talliesTLS, opciones, silencio);
    std::vector<double> nuestroTLS, directoTLS;
    int lineasTLS = 0, respuestasTLS = 0;
    for (int ronda = 0; ronda <= kRondas; ++ronda) {
        QElapsedTimer t;
        t.start();
        chequeoTLS.CheckMail();
        const double a = t.nsecsElapsed() / 1e6;
        lineasTLS = talliesTLS.numCabeceras();
        t.restart();
        respuestasTLS = clienteDirecto(servidor.puertoTLS(), lineasTLS, true);
        const double b = t.nsecsElapsed() / 1e6;
        if (ronda > 0) {
            nuestroTLS.push_back(a);
            directoTLS.push_back(b);
        }
    }
    const double mt = mediana(nuestroTLS), dt = mediana(directoTLS);
    std::printf("ciclo sobre TLS (SSL/TLS, puerto %d): %d lineas, el cliente directo %d respuestas\n",
                servidor.puertoTLS(), lineasTLS, respuestasTLS);
    std::printf("  ciclo de Pirel:   %.1f ms (mediana de %d)\n", mt, kRondas);
    std::printf("  cliente directo:  %.1f ms (mediana de %d)\n", dt, kRondas);
    std::printf("  razon:            %.3f (objetivo <= 1.10)\n", mt / dt);
    std::printf("  memoria residente de este proceso: %lld kB (maximo %lld kB)\n",
                static_cast<long long>(prueba::EstadoProceso("VmRSS:")),
                static_cast<long long>(prueba::EstadoProceso("VmHWM:")));

    // The decoding alone, over the same TOP answers, as a share of the cycle.
    QList<QByteArray> tops;
    for (const auto& m : mensajes)
        tops.append("+OK\r\nReturn-Path: <r@ejemplo.org>\r\nFrom: " + m.remitente + "\r\nSubject: " + m.asunto
                    + "\r\nDate: Mon, 7 Dec 2026 10:00:00 +0000\r\n\r\nHola.\r\n.\r\n");
    QElapsedTimer t;
    t.start();
    constexpr int kVueltas = 200;
    qsizetype total = 0;
    for (int v = 0; v < kVueltas; ++v)
        for (int n = 0; n < lineas; ++n)
            total += LineaCabecera("B1", tops[n % tops.size()]).size();
    const double decodifica = t.nsecsElapsed() / 1e6 / kVueltas;
    std::printf("  lectura de las %d cabeceras codificadas (%lld caracteres): %.2f ms por ciclo, %.2f %% del ciclo"
                " (objetivo < 5 %%)\n",
                lineas, static_cast<long long>(total / kVueltas), decodifica, 100.0 * decodifica / mc);
    return 0;
}
