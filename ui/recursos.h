#pragma once
#include <QIcon>
#include <QString>

namespace pirel {

// The folder of the program's data files: share/pirel beside bin/, both installed and
// in the build tree, which mirrors the installed layout.
[[nodiscard]] QString DirectorioDatos();

// A picture of the program's own, drawn from its SVG at the sizes a tray asks for.
[[nodiscard]] QIcon IconoSvg(const QString& recurso);

}
