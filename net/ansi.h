#pragma once
// The program's own texts are Windows-1252 bytes, as the stored settings and the
// server's headers are; these convert them where they meet Unicode (widgets, UTF-8 files).
#include <QByteArray>
#include <QString>

namespace pirel::ansi {

[[nodiscard]] QString aTexto(const QByteArray& bytes);
// Characters that Windows-1252 cannot hold become '?'.
[[nodiscard]] QByteArray deTexto(const QString& texto);

}
