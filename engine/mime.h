#pragma once
// Header values as today's mail writes them: folded over several lines, with encoded
// words (=?charset?B|Q?...?=) in any charset and raw 8-bit bytes.
#include <QByteArray>
#include <QString>

#include <optional>

namespace pirel::mime {

// The first header `nombre` (after an LF, exact letter case) with its continuation lines
// joined, starting right after the colon; the line end is not part of it. `cr` tells
// whether the last line ended in CR LF. Nothing when the header is missing; an empty
// value when the header runs past `tope` bytes or its last line never ends.
struct Valor {
    QByteArray bytes;
    bool cr = false;
};
[[nodiscard]] std::optional<Valor> Desdobla(const QByteArray& respuesta, const QByteArray& nombre, qsizetype tope);

// Encoded words decoded, everything else read as UTF-8 when valid, else as Windows-1252.
[[nodiscard]] QString Decodifica(const QByteArray& valor);

// A display name's quoted strings lose their quotes and backslash escapes; the part
// before the first '<' outside quotes is the name.
[[nodiscard]] QByteArray NombreVisible(const QByteArray& valor);

}
