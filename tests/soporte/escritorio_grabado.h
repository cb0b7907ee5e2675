#pragma once
// Stand-ins for what the machine lacks or no one can click: the desktop's notification
// area, the message boxes and the loudspeaker; each keeps what it was asked.
#include "cajas.h"
#include "clave.h"
#include "pirel.h"
#include "sonido.h"
#include "tray_icon.h"

#include <QDir>
#include <QMenu>
#include <QTemporaryDir>

namespace pirel::prueba {

// "agrega:<tooltip>", "modifica:<tooltip>", "quita", "menu:<items>@x,y"; the last picture.
struct AreaGrabada final : AreaNotificacion {
    QStringList envios;
    QIcon icono;
    void agrega(const QIcon& i, const QString& c) override
    {
        icono = i;
        envios << "agrega:" + c;
    }
    void modifica(const QIcon& i, const QString& c) override
    {
        icono = i;
        envios << "modifica:" + c;
    }
    void quita() override { envios << QStringLiteral("quita"); }
    QPoint cursor() const override { return {640, 12}; }
    void muestraMenu(QMenu* m, const QPoint& p) override
    {
        envios << QStringLiteral("menu:%1@%2,%3").arg(m->actions().size()).arg(p.x()).arg(p.y());
    }
};
struct CajasGrabadas final : Cajas {
    QStringList vistas;
    void error(const QString& t) override { vistas << "error: " + t; }
    void mensaje(const QString& t) override { vistas << "mensaje: " + t; }
    void socket(const QString& t, const QString&) override { vistas << "socket: " + t; }
};
// Keeps what was asked and passes it on to `real`, when there is one.
struct AltavozGrabado final : Altavoz {
    QStringList hechos;
    Altavoz* real = nullptr;
    bool evento(const char* id) override
    {
        hechos << "evento: " + QLatin1String(id);
        return !real || real->evento(id);
    }
    bool fichero(const QString& r) override
    {
        hechos << "fichero: " + r;
        return !real || real->fichero(r);
    }
};

// A settings file with these options and one mailbox, "Casa": pepe at 127.0.0.1, password "secreta".
inline QByteArray configurado(const QByteArray& opciones)
{
    return "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion]\n" + opciones
        + "\n[HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion\\Buzones]\n\"Buzon1\"=\"Casa\"\n\"Host1\"=\"127.0.0.1\"\n"
          "\"usuario1\"=\"pepe\"\n\"Codigo1\"=\""
        + CodificaClave("secreta")
        + "\"\n\"Chequear1\"=\"Si\"\n\"nBuzon\"=\"1\"\n\n[HKEY_CURRENT_USER\\Software\\Ludaren\\Version]\n\"Numero\"=\"2.0\"\n";
}

// The main form on a settings folder of its own (XDG_CONFIG_HOME) holding this store, with
// the stand-ins above; created again on what is stored by every crea(), false when the
// program must end there.
struct Escritorio {
    QTemporaryDir dir;
    CajasGrabadas cajas;
    AreaGrabada* area = nullptr;
    AltavozGrabado* altavoz = nullptr;
    std::unique_ptr<TPirel> pirel;
    explicit Escritorio(const QByteArray& registro) {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
        if (QFile f(fichero());
            QDir().mkpath(dir.filePath(QStringLiteral("Ludaren"))) && !registro.isEmpty() && f.open(QIODevice::WriteOnly))
            f.write(registro);
    }
    QString fichero() const { return dir.filePath(QStringLiteral("Ludaren/registro.reg")); }
    QByteArray guardado() const
    {
        QFile f(fichero());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    bool enArranque() const { return QFile::exists(dir.filePath(QStringLiteral("autostart/ludaren-electronico.desktop"))); }
    bool crea(const QString& datos = {}) {
        pirel.reset();
        cajas.vistas.clear();
        auto a = std::make_unique<AreaGrabada>();
        auto v = std::make_unique<AltavozGrabado>();
        area = a.get();
        altavoz = v.get();
        pirel = std::make_unique<TPirel>(
            TPirel::Piezas{std::move(a), &cajas, fichero(), QStringLiteral("/usr/bin/pirel"), {}, datos, std::move(v)});
        return pirel->FormCreate() && (pirel->chequeo->espera = 2);
    }
};

}
