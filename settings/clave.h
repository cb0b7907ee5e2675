#pragma once
// The scrambling of stored passwords: a XOR with a fixed key, written as upper-case
// hexadecimal. It keeps passwords from being read at a glance, nothing more.
#include <QByteArray>

namespace pirel {

[[nodiscard]] QByteArray CodificaClave(const QByteArray& clave);
[[nodiscard]] QByteArray DecodificaClave(const QByteArray& codigo);

}
