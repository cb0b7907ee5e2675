#pragma once
// Plain measurements for benchmarks.
#include "presentacion.h"

#include <QByteArray>

#include <cstdio>

namespace pirel::prueba {

// A figure of /proc/self/status in kB ("VmRSS:", "VmHWM:"), -1 when it is not there.
qint64 EstadoProceso(const char* campo);

// One POP3 conversation from a minimal blocking client: USER, PASS, STAT, `tops` TOP
// commands, QUIT. Returns how many TOP answers came whole.
int SesionDirecta(quint16 puerto, const QByteArray& usuario, const QByteArray& clave, int tops);
// The same over TLS from the first byte, the certificate checked for 127.0.0.1 against the
// default trust store.
int SesionDirectaTLS(quint16 puerto, const QByteArray& usuario, const QByteArray& clave, int tops);

// Shows nothing, but says on standard error what would have reached the user as a box,
// so a benchmark that goes wrong says why.
class PresentacionCallada final : public Presentacion {
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

}
