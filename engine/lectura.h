#pragma once
// Reading the server's replies: pure functions over the bytes received.
#include <QByteArray>
#include <QList>
#include <QString>

namespace pirel {

// The text before the first CR; a reply without any CR gives the empty line.
[[nodiscard]] QByteArray PrimeraLinea(const QByteArray& respuesta);
// True when `linea` starts with `prefijo`, letters compared without regard to case.
[[nodiscard]] bool EmpiezaPor(const QByteArray& linea, const QByteArray& prefijo);
// The message count of a STAT answer line, or -1 when none can be read.
[[nodiscard]] int LeeCuenta(const QByteArray& linea);
// The APOP time stamp that ends a greeting, brackets included, or empty.
[[nodiscard]] QByteArray ExtraeSello(const QByteArray& linea);
// Subject and sender of a TOP answer, with the defaults for missing or empty ones.
// Folded lines joined and encoded words decoded; the line is cut to 255 characters.
[[nodiscard]] QString Asunto(const QByteArray& respuesta);
[[nodiscard]] QString Remitente(const QByteArray& respuesta);
[[nodiscard]] QString LineaCabecera(const QByteArray& nombre, const QByteArray& respuesta);
// The same line from the two parts, as kept from an earlier cycle.
[[nodiscard]] QString LineaCabecera(const QByteArray& nombre, const QString& asunto, const QString& remitente);
// The first `maximo` characters, a surrogate pair counted as one.
[[nodiscard]] QString CortaCaracteres(const QString& texto, qsizetype maximo);

// What a CAPA answer offers that the check uses; nothing when it is not "+OK".
struct Capacidades {
    bool encadena = false; // PIPELINING
    bool uidl = false;
};
[[nodiscard]] Capacidades LeeCapacidades(const QByteArray& respuesta);

// The unique ids of a UIDL answer for messages 1..`mensajes`, at index k; an id is empty
// where none was given, where it is not 1 to 70 characters from "!" to "~", where a message
// was listed twice, and where two messages share it. Only whole lines count: a listing cut
// short loses its last, partial, line.
[[nodiscard]] QList<QByteArray> LeeUIDL(const QByteArray& respuesta, int mensajes);

// Server text made safe to show anywhere, a terminal included: every control character
// (C0, DEL, and C1 once the text is Unicode) becomes a blank.
[[nodiscard]] QString Legible(QString texto);
// The same on Windows-1252 bytes, whose five unassigned bytes stand for C1 characters.
[[nodiscard]] QByteArray Legible(const QByteArray& texto);

}
