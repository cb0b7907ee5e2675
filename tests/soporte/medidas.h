#pragma once
// Plain measurements for benchmarks and bounded-memory tests.
#include <QByteArray>

namespace pirel::prueba {

// A figure of /proc/self/status in kB ("VmRSS:", "VmHWM:"), -1 when it is not there.
qint64 EstadoProceso(const char* campo);

// One POP3 conversation from a minimal blocking client: USER, PASS, STAT, `tops` TOP
// commands, QUIT. Returns how many TOP answers came whole.
int SesionDirecta(quint16 puerto, const QByteArray& usuario, const QByteArray& clave, int tops);
// The same over TLS from the first byte, the certificate checked for 127.0.0.1 against the
// default trust store.
int SesionDirectaTLS(quint16 puerto, const QByteArray& usuario, const QByteArray& clave, int tops);

}
