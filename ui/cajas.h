#pragma once
// The program's message boxes, behind one interface so tests never wait on a click.
#include <QString>

namespace pirel {

class Cajas {
public:
    virtual ~Cajas() = default;
    // Critical icon, titled "Ludaren Electrónico".
    virtual void error(const QString& texto) = 0;
    // No icon, the application's title.
    virtual void mensaje(const QString& texto) = 0;
    // The socket component's own box: OK and Cancel, no icon, its own title.
    virtual void socket(const QString& texto, const QString& titulo) = 0;
};

// Modal QMessageBoxes that always show their text as plain text.
class CajasQt final : public Cajas {
public:
    void error(const QString& texto) override;
    void mensaje(const QString& texto) override;
    void socket(const QString& texto, const QString& titulo) override;
};

}
