#pragma once

namespace pirel {

class TPirel;

// Creates and shows the configuration dialog, unless one is already open.
void AbreConfiguracion(TPirel& pirel);

}
