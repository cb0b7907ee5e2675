#pragma once
// Stand-ins for what the machine lacks or no one can click: the desktop's notification
// area, the message boxes and the loudspeaker; each keeps what it was asked.
#include "cajas.h"
#include "sonido.h"
#include "tray_icon.h"

#include <QStringList>

#include <functional>

namespace pirel::prueba {

struct AreaGrabada final : AreaNotificacion {
    QString* consejo = nullptr;
    explicit AreaGrabada(QString* c = nullptr) : consejo(c) {}
    void agrega(const QIcon&, const QString& c) override { guarda(c); }
    void modifica(const QIcon&, const QString& c) override { guarda(c); }
    void quita() override {}
    QPoint cursor() const override { return {}; }
    void muestraMenu(QMenu*, const QPoint&) override {}

private:
    void guarda(const QString& c)
    {
        if (consejo)
            *consejo = c;
    }
};

struct CajasGrabadas final : Cajas {
    QStringList vistas;
    // What happens while a plain message box would be open.
    std::function<void()> mientras;
    void error(const QString& t) override { vistas << "error: " + t; }
    void mensaje(const QString& t) override
    {
        vistas << "mensaje: " + t;
        if (mientras)
            mientras();
    }
    void socket(const QString& t, const QString&) override { vistas << "socket: " + t; }
};

struct AltavozGrabado final : Altavoz {
    QStringList* hechos = nullptr;
    bool resultado = true;
    explicit AltavozGrabado(QStringList* h = nullptr, bool r = true) : hechos(h), resultado(r) {}
    bool evento(const char* id) override
    {
        if (hechos)
            *hechos << QStringLiteral("evento: ") + QLatin1String(id);
        return resultado;
    }
    bool fichero(const QString& ruta) override
    {
        if (hechos)
            *hechos << "fichero: " + ruta;
        return resultado;
    }
};

}
