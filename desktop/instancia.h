#pragma once
// One program per session: the first start owns a name on the session bus; a later start
// hands over to it and ends. Without a session bus every start runs, as before.
#include <QObject>

#include <functional>

namespace pirel {

class Instancia : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.ludaren.Pirel")
public:
    static constexpr char kServicio[] = "org.ludaren.Pirel";
    static constexpr char kRuta[] = "/org/ludaren/Pirel";
    enum class Resultado { Unica, OtraCorre, SinBus };

    // Offers the calls below, then claims the name.
    [[nodiscard]] Resultado reclama();
    // Calls `metodo` on the program that runs; false when none answers.
    [[nodiscard]] static bool entrega(const char* metodo);

    // Set once the main form exists; each runs after the caller has had its answer.
    std::function<void()> alConfigurar;
    std::function<void()> alSalir;

public slots:
    // Opens the configuration dialog, or raises it.
    void Configura();
    // Ends the program as "Salir" does.
    void Sal();
};

}
