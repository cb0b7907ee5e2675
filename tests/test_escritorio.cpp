// The real program under Xvfb against a scripted POP3 server: an XEmbed tray that comes late
// and restarts, the notice of new mail, the first start's dialog, a Wayland session through
// XWayland. Then on private buses: a panel's StatusNotifierWatcher that comes late and
// restarts; no tray at all, where new mail is a notification; checks after a resume and when
// the network returns; one program per session.
#include "clave.h"
#include "servicios_dbus.h"
#include "servidor_guion.h"
#include "sni.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusPendingCall>
#include <QDir>
#include <QImage>
#include <QStandardPaths>
#include <QTest>

using namespace pirel;
using namespace pirel::prueba;

namespace {

Guion Cuenta(int n)
{
    static const char* const kCabeceras[][2] = {{"Hola <b>&", "Ana"}, {"Cena", "Eva"}, {"Ya", "Pio"}};
    Guion g = Guion::entrada().stat(n);
    for (int k = 1; k <= n; ++k)
        g.top(k, kCabeceras[k - 1][0], kCabeceras[k - 1][1]);
    return g.quit();
}

int Fin(QProcess& p)
{
    const bool acabo = EsperaA([&] { return p.state() == QProcess::NotRunning; });
    return acabo && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

}

class TestEscritorio : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    EntornoX x_;
    BusesPrivados buses_;
    SistemaFalso sistema_;
    NotificadorFalso notificador_;
    QDBusConnection cliente_{QString()};
    const QString artefactos_ = QCoreApplication::applicationDirPath() + QStringLiteral("/../artefactos/");

    QString configura(const QString& nombre, const QByteArray& opciones = "\"Animacion\"=\"No\"\n")
    {
        const QString carpeta = dir_.filePath(nombre);
        QDir().mkpath(carpeta + QStringLiteral("/Ludaren"));
        QFile f(carpeta + QStringLiteral("/Ludaren/registro.reg"));
        if (!opciones.isEmpty() && f.open(QIODevice::WriteOnly))
            f.write("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion]\n"
                    "\"frecuencia\"=\"60\"\n\"Hacer Sonido\"=\"\"\n" + opciones
                    + "\n[HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion\\Buzones]\n\"Buzon1\"=\"Casa\"\n"
                      "\"Host1\"=\"127.0.0.1\"\n\"usuario1\"=\"pepe\"\n\"Codigo1\"=\"" + CodificaClave("secreta")
                    + "\"\n\"Chequear1\"=\"Si\"\n\"nBuzon\"=\"1\"\n\n[HKEY_CURRENT_USER\\Software\\Ludaren\\Version]\n"
                      "\"Numero\"=\"2.0\"\n");
        return carpeta;
    }
    // Settling 300 ms after a resume, a check within 1200 ms is recent.
    QProcessEnvironment entorno(const QString& carpeta, quint16 puerto, bool buses) const
    {
        QProcessEnvironment e = x_.entornoPrograma();
        if (buses)
            buses_.aplica(e);
        e.insert(QStringLiteral("XDG_CONFIG_HOME"), carpeta);
        e.insert(QStringLiteral("PIREL_PUERTO_POP3"), QString::number(puerto));
        e.insert(QStringLiteral("PIREL_PLAZOS_MS"), QStringLiteral("300 1200"));
        return e;
    }
    static void lanza(QProcess& p, const QProcessEnvironment& e, const QStringList& argumentos = {})
    {
        p.setProcessEnvironment(e);
        p.setProcessChannelMode(QProcess::ForwardedChannels);
        p.start(QCoreApplication::applicationDirPath() + QStringLiteral("/pirel"), argumentos);
    }
    QImage captura(const QString& ventana, const QString& nombre) const
    {
        Orden(QStringLiteral("import"), {"-window", ventana, artefactos_ + nombre}, x_.entorno());
        return QImage(artefactos_ + nombre);
    }
    void clic(const QString& ventana, int x, int y, const char* boton) const
    {
        x_.xdotool({"mousemove", "--window", ventana, QString::number(x), QString::number(y), "click", boton});
    }
    // Opens the icon's menu and presses `tecla`. A click while the program still holds the
    // grab of the menu it closed is lost: once more.
    bool menu(const QString& icono, const char* tecla) const
    {
        const qsizetype antes = x_.ventanas(QStringLiteral("pirel")).size();
        for (int intento = 0; intento < 5; ++intento) {
            clic(icono, 11, 15, "3");
            if (EsperaA([&] { return x_.ventanas(QStringLiteral("pirel")).size() > antes; }, 2000))
                return x_.xdotool({"key", tecla}), true;
        }
        return false;
    }
    QString foco() const { return x_.xdotool({"getwindowfocus"}); }
    QDBusMessage llama(const QString& servicio, const QString& ruta, const QString& interfaz, const QString& metodo,
                       const QVariantList& argumentos = {})
    {
        QDBusMessage m = QDBusMessage::createMethodCall(servicio, ruta, interfaz, metodo);
        m.setArguments(argumentos);
        // Asynchronous, so that this process's stand-ins keep answering meanwhile.
        QDBusPendingCall llamada = cliente_.asyncCall(m);
        EsperaA([&] { return llamada.isFinished(); });
        return llamada.reply();
    }
    // Read as panels read them, all at once.
    QVariant propiedad(const QString& servicio, const char* nombre)
    {
        const QDBusMessage r = llama(servicio, QStringLiteral("/StatusNotifierItem"), QStringLiteral("org.freedesktop.DBus.Properties"),
                                     QStringLiteral("GetAll"), {QStringLiteral("org.kde.StatusNotifierItem")});
        return qdbus_cast<QVariantMap>(r.arguments().value(0)).value(QLatin1String(nombre));
    }

private slots:
    void initTestCase()
    {
        for (const char* necesario : {"Xvfb", "trayer", "xdotool", "xdpyinfo", "xprop", "import", "dbus-daemon"})
            QVERIFY2(!QStandardPaths::findExecutable(QLatin1String(necesario)).isEmpty(),
                     qPrintable(QStringLiteral("%1 is missing: run tools/instalar").arg(QLatin1String(necesario))));
        QDir().mkpath(artefactos_);
        QString error;
        QVERIFY2(x_.arranca(&error) && buses_.arranca(&error), qPrintable(error));
        QVERIFY(sistema_.arranca(buses_, 20) && notificador_.arranca(buses_));
        cliente_ = QDBusConnection::connectToBus(buses_.direccion(false), QStringLiteral("cliente"));
        RegistraTiposSni();
    }

    void bandejaXEmbedYAviso()
    {
        ServidorGuion servidor({Cuenta(0), Cuenta(2), Cuenta(3), Cuenta(3)});
        QProcess programa;
        lanza(programa, entorno(configura(QStringLiteral("xembed"), "\"Animacion\"=\"Si\"\n"), servidor.puerto(), false));
        QVERIFY(EsperaA([&] { return servidor.conexiones() == 1; }));
        QVERIFY(x_.arrancaBandeja());
        QVERIFY2(EsperaA([&] { return x_.ventanas(QStringLiteral("pirel")).size() == 1; }), "no icon when the tray came");
        const QString icono = x_.ventanas(QStringLiteral("pirel")).first();
        const QImage vacio = captura(icono, QStringLiteral("icono-vacio.png"));
        QVERIFY(menu(icono, "a"));
        QString aviso;
        QVERIFY2(EsperaA([&] { return !(aviso = x_.busca(QStringLiteral("^2 Mensajes$"))).isEmpty(); }), "no notice");
        QVERIFY2(!aviso.contains(u'\n'), "one notice");
        QVERIFY2(foco() != aviso, "the notice took the keyboard");
        QVERIFY2(EsperaA([&] { return captura(icono, QStringLiteral("icono-con-correo.png")) != vacio; }),
                 "the picture did not follow the check");
        // A third message while the notice is open refreshes it, still without the keyboard.
        QVERIFY(menu(icono, "a"));
        QVERIFY2(EsperaA([&] { return x_.busca(QStringLiteral("^3 Mensajes$")) == aviso; }), "the notice was not refreshed");
        QVERIFY2(foco() != aviso, "the refreshed notice took the keyboard");
        captura(aviso, QStringLiteral("aviso-compacto.png"));
        clic(aviso, 70, 50, "1");
        QVERIFY2(EsperaA([&] { return x_.busca(QStringLiteral("^Ludaren Electronico: 3 Mensajes$")) == aviso; }),
                 "the click did not widen the notice");
        QVERIFY2(EsperaA([&] { return captura(aviso, QStringLiteral("aviso-ampliado.png")).width() == 512; }),
                 "the notice is not half the screen wide");
        clic(aviso, 120, 40, "1");
        QVERIFY2(EsperaA([&] { return x_.busca(QStringLiteral("Mensajes")).isEmpty(); }), "a click did not close the notice");
        // The same counts once more: no notice, also once the tray has restarted.
        QVERIFY(menu(icono, "a"));
        QVERIFY(servidor.termina());
        QCOMPARE(servidor.fallos(), QStringList());
        x_.paraBandeja();
        QVERIFY(x_.arrancaBandeja());
        QVERIFY2(EsperaA([&] { return x_.ventanas(QStringLiteral("pirel")).size() == 1; }), "no icon in the restarted tray");
        QTest::qWait(500);
        QCOMPARE(x_.ventanas(QStringLiteral("pirel")).size(), 1);
        QVERIFY(menu(x_.ventanas(QStringLiteral("pirel")).first(), "s"));
        QCOMPARE(Fin(programa), 0);
    }

    void primerArranqueConElDialogo()
    {
        ServidorGuion servidor({Guion::entrada("ana", "clave").stat(1).top(1, "Hola", "Eva").quit()});
        const QString carpeta = configura(QStringLiteral("vacia"), {});
        QProcess programa;
        lanza(programa, entorno(carpeta, servidor.puerto(), false));
        QString dialogo;
        QVERIFY2(EsperaA([&] { return !(dialogo = x_.busca(QStringLiteral("^Ludaren Electrónico$"))).isEmpty(); }),
                 "the first start shows no configuration dialog");
        QVERIFY2(!x_.busca(QStringLiteral("^Ayuda de Ludaren")).isEmpty(), "the first start shows no help");
        const auto teclea = [&](const QStringList& argumentos) {
            x_.xdotool({"windowfocus", "--sync", dialogo});
            x_.xdotool(argumentos);
        };
        teclea({"key", "alt+n"});
        QTest::qWait(800); // the focus moves to the name only once the program has handled the key
        for (const char* campo : {"Casa", "127.0.0.1", "ana", "clave"}) {
            teclea({"type", "--delay", "40", campo});
            teclea({"key", "Tab"});
        }
        // Past "Chequear" to the security, "Ninguna"; back to the password, where Ctrl+Tab changes pages.
        teclea({"key", "Tab", "n", "shift+Tab", "shift+Tab"});
        captura(dialogo, QStringLiteral("dialogo-buzon-nuevo.png"));
        teclea({"key", "alt+d", "ctrl+Tab"});
        captura(dialogo, QStringLiteral("dialogo-informacion.png"));
        teclea({"key", "ctrl+shift+Tab", "alt+a"});
        QVERIFY(servidor.termina());
        QCOMPARE(servidor.fallos(), QStringList());
        QFile registro(carpeta + QStringLiteral("/Ludaren/registro.reg"));
        QVERIFY(registro.open(QIODevice::ReadOnly));
        const QByteArray escrito = registro.readAll();
        QVERIFY2(escrito.contains("\"Buzon1\"=\"Casa\"") && escrito.contains("\"usuario1\"=\"ana\"")
                     && escrito.contains("\"Seguridad1\"=\"Ninguna\"\n\"Puerto1\"=\"110\""),
                 escrito.constData());
        QVERIFY(QFile::exists(carpeta + QStringLiteral("/autostart/ludaren-electronico.desktop")));
        Termina(programa);
    }

    void sesionWaylandPorXWayland()
    {
        ServidorGuion servidor({Cuenta(1)});
        QProcessEnvironment e = entorno(configura(QStringLiteral("wayland"), "\"Animacion\"=\"Si\"\n"), servidor.puerto(), false);
        // Qt alone would go for Wayland here, whose compositor is not even there.
        e.remove(QStringLiteral("QT_QPA_PLATFORM"));
        e.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
        e.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("KDE"));
        e.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-sin-compositor"));
        QProcess programa;
        lanza(programa, e);
        QString aviso;
        QVERIFY2(EsperaA([&] { return !(aviso = x_.busca(QStringLiteral("^1 Mensajes$"))).isEmpty(); }), "no notice");
        QVERIFY(Orden(QStringLiteral("xprop"), {"-id", aviso, "_NET_WM_STATE"}, x_.entorno()).contains(u"_NET_WM_STATE_ABOVE"));
        QVERIFY2(x_.ventanas(QStringLiteral("pirel")).size() == 2, "the icon is not in the tray");
        QVERIFY(servidor.termina());
        Termina(programa);
        x_.paraBandeja();
    }

    void panelQueLlegaTardeYSeReinicia()
    {
        sistema_.ponRed(70);
        VigiaFalso vigia(buses_);
        ServidorGuion servidor({Cuenta(2), Cuenta(3)});
        QProcess programa;
        lanza(programa, entorno(configura(QStringLiteral("panel")), servidor.puerto(), true));
        QTest::qWait(3000);
        QVERIFY(vigia.arranca());
        QVERIFY2(EsperaA([&] { return vigia.registros.size() == 1; }), "the item was not registered");
        vigia.para();
        QTest::qWait(300);
        QVERIFY(vigia.arranca());
        QVERIFY2(EsperaA([&] { return vigia.registros.size() == 2; }), "not registered with the restarted watcher");
        const QString item = vigia.registros.last(), dbusmenu = QStringLiteral("com.canonical.dbusmenu");
        const auto consejo = [&] { return qdbus_cast<ConsejoDBus>(propiedad(item, "ToolTip")).titulo; };
        QVERIFY2(EsperaA([&] { return consejo() == QStringLiteral("2 Mensajes"); }), qPrintable(consejo()));
        QCOMPARE(propiedad(item, "Title").toString(), QStringLiteral("Ludaren Electrónico"));
        const auto pixmaps = qdbus_cast<PixmapsDBus>(propiedad(item, "IconPixmap"));
        QVERIFY(!pixmaps.isEmpty());
        QCOMPARE(pixmaps.first().datos.size(), pixmaps.first().ancho * pixmaps.first().alto * 4);
        const QString menu = qdbus_cast<QDBusObjectPath>(propiedad(item, "Menu")).path();
        const QDBusMessage r = llama(item, menu, dbusmenu, QStringLiteral("GetLayout"), {0, -1, QStringList()});
        const auto raiz = qdbus_cast<ElementoMenuDBus>(r.arguments().value(1));
        QStringList entradas;
        for (const ElementoMenuDBus& e : raiz.hijos)
            entradas << e.propiedades.value(QStringLiteral("label"), e.propiedades.value(QStringLiteral("type"))).toString()
                            + (e.propiedades.value(QStringLiteral("enabled"), true).toBool() ? "" : " (off)");
        QCOMPARE(entradas, (QStringList{"Chequear Correo _Ahora", "A_brir Correo (off)", "_Configuración", "A_yuda",
                                        "separator", "_Salir"}));
        // A click on the icon opens the notice; the menu's first entry checks, its last one ends the program.
        llama(item, QStringLiteral("/StatusNotifierItem"), QStringLiteral("org.kde.StatusNotifierItem"),
              QStringLiteral("Activate"), {0, 0});
        QVERIFY2(EsperaA([&] { return !x_.busca(QStringLiteral("^2 Mensajes$")).isEmpty(); }), "no notice");
        const auto elige = [&](const ElementoMenuDBus& e) {
            llama(item, menu, dbusmenu, QStringLiteral("Event"),
                  {e.id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
        };
        elige(raiz.hijos.first());
        QVERIFY2(EsperaA([&] { return consejo() == QStringLiteral("3 Mensajes"); }), qPrintable(consejo()));
        QVERIFY(servidor.termina());
        QCOMPARE(servidor.fallos(), QStringList());
        QCOMPARE(notificador_.llamadas.size(), 0);
        elige(raiz.hijos.last());
        QCOMPARE(Fin(programa), 0);
    }

    void sinBandejaSuspensionRedYUnSoloPrograma()
    {
        sistema_.ponRed(20);
        ServidorGuion servidor({Cuenta(2), Cuenta(2), Cuenta(2), Cuenta(2), Cuenta(3), Cuenta(3)});
        const QString abierto = dir_.filePath(QStringLiteral("abierto"));
        const QString carpeta = configura(QStringLiteral("sin-bandeja"),
                                          "\"Animacion\"=\"Si\"\n\"Gestor de Correo\"=\"touch " + QFile::encodeName(abierto) + "\"\n");
        QProcessEnvironment e = entorno(carpeta, servidor.puerto(), true);
        e.insert(QStringLiteral("PIREL_PLAZOS_MS"), QStringLiteral("300 1200 1000")); // a tray is awaited for 1 s
        QProcess programa;
        lanza(programa, e);
        QVERIFY(EsperaA([&] { return cliente_.interface()->isServiceRegistered(QStringLiteral("org.ludaren.Pirel")); }));
        QTest::qWait(1500);
        QCOMPARE(servidor.conexiones(), 0); // not while the network is down
        // Once the last check is no longer recent: the notifications sent after the check the
        // event brings, -1 when it brings none.
        const auto tras = [&](const std::function<void()>& suceso) -> qsizetype {
            QTest::qWait(1300);
            const int antes = servidor.conexiones();
            suceso();
            if (!EsperaA([&] { return servidor.conexiones() > antes; }, 3000)
                || !EsperaA([&] { return servidor.recibidas().contains(QStringLiteral("%1: QUIT").arg(antes + 1)); }))
                return -1;
            QTest::qWait(500);
            return notificador_.llamadas.size();
        };
        const auto reanuda = [&] { sistema_.reanuda(); };
        const auto id = [&] {
            const uint reemplaza = notificador_.llamadas.last().value(1).toUInt();
            return reemplaza ? reemplaza : uint(notificador_.llamadas.size());
        };
        QCOMPARE(tras([&] { sistema_.ponRed(50); }), 1);
        const QVariantList n = notificador_.llamadas.last();
        QCOMPARE(n.value(0).toString(), QStringLiteral("Ludaren Electrónico"));
        QCOMPARE(n.value(1).toUInt(), 0u);
        QCOMPARE(n.value(3).toString(), QStringLiteral("2 Mensajes"));
        QCOMPARE(n.value(4).toString(), QStringLiteral("Casa =&gt; Hola &lt;b&gt;&amp;: Ana\nCasa =&gt; Cena: Eva"));
        QCOMPARE(qdbus_cast<QStringList>(n.value(5)), (QStringList{"default", "", "abrir-correo", "Abrir Correo"}));
        QCOMPARE(qdbus_cast<QVariantMap>(n.value(6)).value(QStringLiteral("desktop-entry")).toString(),
                 QStringLiteral("ludaren-electronico"));
        // From the local network on to the Internet is no return of the network.
        QCOMPARE(tras([&] { sistema_.ponRed(70); }), -1);
        // Unseen mail is told again after a resume, in the same notification; expired, it is still unseen.
        QCOMPARE(tras(reanuda), 2);
        QCOMPARE(notificador_.llamadas.last().value(1).toUInt(), 1u);
        emit notificador_.NotificationClosed(id(), 1);
        QCOMPARE(tras(reanuda), 3);
        // "Abrir Correo" starts the mail program, and the mail counts as seen.
        emit notificador_.ActionInvoked(id(), QStringLiteral("abrir-correo"));
        QVERIFY2(EsperaA([&] { return QFile::exists(abierto); }), "the mail program did not start");
        QCOMPARE(tras(reanuda), 3);
        // New mail; closed by the user, it counts as seen.
        QCOMPARE(tras(reanuda), 4);
        QCOMPARE(notificador_.llamadas.last().value(3).toString(), QStringLiteral("3 Mensajes"));
        emit notificador_.NotificationClosed(id(), 2);
        QCOMPARE(tras(reanuda), 4);
        QVERIFY(servidor.termina());
        QCOMPARE(servidor.fallos(), QStringList());

        // A second start hands over: the first opens its settings, the second ends; --salir ends the first.
        QProcess segundo, salir;
        lanza(segundo, e);
        QCOMPARE(Fin(segundo), 0);
        QVERIFY2(EsperaA([&] { return !x_.busca(QStringLiteral("^Ludaren Electrónico$")).isEmpty(); }),
                 "the running program did not open its settings");
        QCOMPARE(programa.state(), QProcess::Running);
        for (const int estado : {0, 1}) { // the second time none runs
            lanza(salir, e, {"--salir"});
            QCOMPARE(Fin(salir), estado);
        }
        QCOMPARE(Fin(programa), 0);
    }
};

QTEST_GUILESS_MAIN(TestEscritorio)
#include "test_escritorio.moc"
