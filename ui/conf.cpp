#include "conf.h"

#include "pirel.h"

namespace pirel {

void AbreConfiguracion(TPirel& pirel)
{
    pirel.dialogo(QStringLiteral("La ventana de configuración todavía no está disponible en esta versión."));
}

}
