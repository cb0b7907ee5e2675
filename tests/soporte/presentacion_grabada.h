#pragma once
// Keeps, in order, everything the engine would have shown the user.
#include "presentacion.h"

#include <QStringList>

#include <cstdio>

namespace pirel::prueba {

class PresentacionGrabada : public Presentacion {
public:
    void caja(const QString& texto, const QString& titulo) override { hechos << "caja: " + titulo + ": " + texto; }
    void termina() override { hechos << QStringLiteral("termina"); }
    void cajaError(const QString& texto) override { hechos << "error: " + texto; }
    void dialogo(const QString& texto) override { hechos << "dialogo: " + texto; }
    void icono(Bandera b) override
    {
        static const char* const kNombres[] = {"bandera0", "bandera1", "Bandera2", "Bandera5"};
        ultimoIcono = b;
        hechos << QStringLiteral("icono: ") + kNombres[static_cast<int>(b)];
    }
    void consejo(const QString& texto) override
    {
        ultimoConsejo = texto;
        hechos << "consejo: " + texto;
    }
    void muestraAviso(const QString& textoCuenta, const QStringList& cabeceras) override
    {
        hechos << "aviso: " + textoCuenta;
        lineasAviso = cabeceras;
    }
    void pitido() override { hechos << QStringLiteral("pitido"); }
    void reproduce(const QByteArray& fichero) override { hechos << "reproduce: " + QString::fromLatin1(fichero); }

    // Only the message boxes and dialogs, in order.
    QStringList cajas() const
    {
        QStringList r;
        for (const QString& h : hechos)
            if (h.startsWith(u"error: ") || h.startsWith(u"dialogo: ") || h.startsWith(u"caja: "))
                r << h;
        return r;
    }

    QStringList hechos;
    QStringList lineasAviso;
    QString ultimoConsejo;
    Bandera ultimoIcono = Bandera::bandera0;
};

// Shows nothing, but says on standard error what would have reached the user as a box,
// so a benchmark that goes wrong says why.
class PresentacionCallada final : public Presentacion {
public:
    void caja(const QString& t, const QString&) override { std::fprintf(stderr, "caja: %s\n", qUtf8Printable(t)); }
    void termina() override {}
    void cajaError(const QString& t) override { std::fprintf(stderr, "error: %s\n", qUtf8Printable(t)); }
    void dialogo(const QString& t) override { std::fprintf(stderr, "dialogo: %s\n", qUtf8Printable(t)); }
    void icono(Bandera) override {}
    void consejo(const QString&) override {}
    void muestraAviso(const QString&, const QStringList&) override {}
    void pitido() override {}
    void reproduce(const QByteArray&) override {}
};

}
