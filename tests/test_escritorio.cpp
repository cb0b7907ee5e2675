// The real program under Xvfb against a scripted POP3 server: in an XEmbed tray that comes late,
// on its first start; then on private buses, with a panel's watcher that comes late and
// restarts, or with no tray at all.
#include "clave.h"
#include "servicios_dbus.h"
#include "servidor_guion.h"
#include "sni.h"

#include <QDBusConnectionInterface>
#include <QDBusPendingCall>
#include <QDir>
#include <QImage>
#include <QTest>

using namespace pirel;
using namespace pirel::prueba;

class TestEscritorio : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    EntornoX x_;
    BusesPrivados buses_;
    SistemaFalso sistema_;
    NotificadorFalso notificador_;
    QDBusConnection cliente_{QString()};
    const QString artefactos_ = QCoreApplication::applicationDirPath() + "/../artefactos/";

    // `opciones` "-": no settings file, a first start. Settling 300 ms after a resume, a check
    // within 1200 ms is recent.
    QProcessEnvironment entorno(const QString& nombre, quint16 puerto, bool buses, const QByteArray& opciones = "")
    {
        const QString carpeta = dir_.filePath(nombre);
        QDir().mkpath(carpeta + "/Ludaren");
        QFile f(carpeta + "/Ludaren/registro.reg");
        const QByteArray k = "\n[HKEY_CURRENT_USER\\Software\\Ludaren\\";
        if (opciones != "-" && f.open(QIODevice::WriteOnly))
            f.write("Windows Registry Editor Version 5.00\n" + k + "Version]\n\"Numero\"=\"2.0\"\n" + k + "Configuracion]\n"
                    "\"frecuencia\"=\"60\"\n\"Hacer Sonido\"=\"\"\n" + opciones + k + "Configuracion\\Buzones]\n\"nBuzon\"=\"1\"\n"
                    "\"Buzon1\"=\"Casa\"\n\"Host1\"=\"127.0.0.1\"\n\"usuario1\"=\"pepe\"\n\"Chequear1\"=\"Si\"\n\"Codigo1\"=\""
                    + CodificaClave("secreta") + "\"\n");
        QProcessEnvironment e = x_.entornoPrograma();
        if (buses)
            buses_.aplica(e);
        e.insert("XDG_CONFIG_HOME", carpeta);
        e.insert("PIREL_PUERTO_POP3", QString::number(puerto));
        e.insert("PIREL_PLAZOS_MS", "300 1200");
        return e;
    }
    static Guion Cuenta(int n)
    {
        static const char* const kCabeceras[][2] = {{"Hola <b>&", "Ana"}, {"Cena", "Eva"}, {"Ya", "Pio"}};
        Guion g = Guion::entrada().stat(n);
        for (int k = 1; k <= n; ++k)
            g.top(k, kCabeceras[k - 1][0], kCabeceras[k - 1][1]);
        return g.quit();
    }
    static int Fin(QProcess& p)
    {
        return EsperaA([&] { return p.state() == p.NotRunning; }) && p.exitStatus() == p.NormalExit ? p.exitCode() : -1;
    }
    static void lanza(QProcess& p, const QProcessEnvironment& e, const QStringList& argumentos = {})
    {
        p.setProcessEnvironment(e);
        p.setProcessChannelMode(QProcess::ForwardedChannels);
        p.start(QCoreApplication::applicationDirPath() + "/pirel", argumentos);
    }
    QImage captura(const QString& ventana, const QString& nombre) const
    {
        return Orden("import", {"-window", ventana, artefactos_ + nombre}, x_.entorno()), QImage(artefactos_ + nombre);
    }
    // Asynchronous, so that this process's stand-ins keep answering meanwhile.
    QDBusMessage llama(const QString& servicio, const QString& ruta, const char* interfaz, const char* metodo,
                       const QVariantList& argumentos)
    {
        QDBusMessage m = QDBusMessage::createMethodCall(servicio, ruta, interfaz, metodo);
        m.setArguments(argumentos);
        QDBusPendingCall llamada = cliente_.asyncCall(m);
        return EsperaA([&] { return llamada.isFinished(); }), llamada.reply();
    }

private slots:
    void initTestCase()
    {
        QDir().mkpath(artefactos_);
        QString error;
        QVERIFY2(x_.arranca(&error) && buses_.arranca(&error), qPrintable(error));
        QVERIFY(sistema_.arranca(buses_, 20) && notificador_.arranca(buses_));
        cliente_ = QDBusConnection::connectToBus(buses_.direccion(false), "cliente");
        RegistraTiposSni();
    }

    // In a Wayland session whose compositor is not even there, where Qt alone would not start.
    void bandejaXEmbedYAviso()
    {
        ServidorGuion servidor({Cuenta(0), Cuenta(2), Cuenta(3)});
        QProcessEnvironment e = entorno("xembed", servidor.puerto(), false, "\"Animacion\"=\"Si\"\n");
        e.remove("QT_QPA_PLATFORM");
        e.insert("XDG_SESSION_TYPE", "wayland");
        e.insert("XDG_CURRENT_DESKTOP", "KDE");
        e.insert("WAYLAND_DISPLAY", "wayland-sin-compositor");
        QProcess programa;
        lanza(programa, e);
        QVERIFY(EsperaA([&] { return servidor.conexiones() == 1; }));
        QVERIFY2(x_.arrancaBandeja() && EsperaA([&] { return x_.ventanas("pirel").size() == 1; }), "no icon when the tray came");
        const QString icono = x_.ventanas("pirel").first();
        const QImage vacio = captura(icono, "icono-vacio.png");
        QVERIFY(x_.menu(icono, "a"));
        const QString aviso = x_.espera("^2 Mensajes$");
        QVERIFY2(!aviso.isEmpty() && !aviso.contains(u'\n'), "not one notice");
        QVERIFY2(Orden("xprop", {"-id", aviso, "_NET_WM_STATE"}, x_.entorno()).contains(u"_NET_WM_STATE_ABOVE")
                     && x_.xdotool({"getwindowfocus"}) != aviso, "the notice is not above, or took the keyboard");
        QVERIFY2(EsperaA([&] { return captura(icono, "icono-con-correo.png") != vacio; }), "the picture stayed");
        // A third message while the notice is open refreshes it, still without the keyboard.
        QVERIFY(x_.menu(icono, "a"));
        QVERIFY2(EsperaA([&] { return x_.busca("^3 Mensajes$") == aviso; }), "the notice was not refreshed");
        QVERIFY2(x_.xdotool({"getwindowfocus"}) != aviso, "the refreshed notice took the keyboard");
        QVERIFY2(servidor.termina() && servidor.fallos().isEmpty(), qPrintable(servidor.fallos().join(u'\n')));
        QVERIFY(x_.menu(icono, "s"));
        QCOMPARE(Fin(programa), 0);
    }

    void primerArranqueConElDialogo()
    {
        ServidorGuion servidor({Guion::entrada("ana", "clave").stat(1).top(1, "Hola", "Eva").quit()});
        QProcess programa;
        lanza(programa, entorno("vacia", servidor.puerto(), false, "-"));
        const QString dialogo = x_.espera("^Ludaren Electrónico$");
        QVERIFY2(!dialogo.isEmpty(), "the first start shows no dialog");
        const auto teclea = [&](const QStringList& teclas) { x_.xdotool(QStringList{"windowfocus", "--sync", dialogo} + teclas); };
        teclea({"key", "alt+n"});
        QTest::qWait(800); // the focus moves to the name only once the program has handled the key
        for (const char* campo : {"Casa", "127.0.0.1", "ana", "clave"})
            teclea({"type", "--delay", "40", campo}), teclea({"key", "Tab"});
        // Past "Chequear" to the security, "Ninguna", and back to the password; the mailbox is checked at once.
        teclea({"key", "Tab", "n", "shift+Tab", "shift+Tab", "alt+d", "alt+a"});
        QVERIFY2(servidor.termina() && servidor.fallos().isEmpty(), qPrintable(servidor.fallos().join(u'\n')));
        Termina(programa);
        x_.paraBandeja();
    }

    void panelQueLlegaTardeYSeReinicia()
    {
        sistema_.ponRed(70);
        VigiaFalso vigia(buses_);
        ServidorGuion servidor({Cuenta(2), Cuenta(3)});
        QProcess programa;
        lanza(programa, entorno("panel", servidor.puerto(), true, "\"Animacion\"=\"No\"\n"));
        for (const int arranque : {1, 2}) { // late, then restarted
            vigia.para();
            QTest::qWait(arranque == 1 ? 3000 : 300);
            QVERIFY(vigia.arranca());
            QVERIFY2(EsperaA([&] { return vigia.registros.size() == arranque; }), "the item was not registered");
        }
        const QString item = vigia.registros.last(), sni = "/StatusNotifierItem";
        QVariantMap p; // read as panels read them, all at once
        const auto consejo = [&] {
            p = qdbus_cast<QVariantMap>(llama(item, sni, "org.freedesktop.DBus.Properties", "GetAll",
                                              {"org.kde.StatusNotifierItem"}).arguments().value(0));
            return qdbus_cast<ConsejoDBus>(p.value("ToolTip")).titulo;
        };
        QVERIFY2(EsperaA([&] { return consejo() == u"2 Mensajes"; }), qPrintable(consejo()));
        QCOMPARE(p.value("Title").toString(), "Ludaren Electrónico");
        const auto pixmaps = qdbus_cast<PixmapsDBus>(p.value("IconPixmap"));
        QVERIFY(!pixmaps.isEmpty() && pixmaps.first().datos.size() == pixmaps.first().ancho * pixmaps.first().alto * 4);
        const QString menu = qdbus_cast<QDBusObjectPath>(p.value("Menu")).path();
        const QDBusMessage r = llama(item, menu, "com.canonical.dbusmenu", "GetLayout", {0, -1, QStringList()});
        const auto raiz = qdbus_cast<ElementoMenuDBus>(r.arguments().value(1));
        QStringList entradas;
        for (const ElementoMenuDBus& e : raiz.hijos)
            entradas << e.propiedades.value("label", e.propiedades.value("type")).toString()
                            + (e.propiedades.value("enabled", true).toBool() ? "" : " (off)");
        QCOMPARE(entradas, (QStringList{"Chequear Correo _Ahora", "A_brir Correo (off)", "_Configuración", "A_yuda",
                                        "separator", "_Salir"}));
        // A click on the icon opens the notice; the menu's first entry checks, its last one ends the program.
        llama(item, sni, "org.kde.StatusNotifierItem", "Activate", {0, 0});
        QVERIFY2(!x_.espera("^2 Mensajes$").isEmpty(), "no notice");
        const auto elige = [&](int id) {
            llama(item, menu, "com.canonical.dbusmenu", "Event", {id, "clicked", QVariant::fromValue(QDBusVariant(0)), 0u});
        };
        elige(raiz.hijos.first().id);
        QVERIFY2(EsperaA([&] { return consejo() == u"3 Mensajes"; }), qPrintable(consejo()));
        QVERIFY2(servidor.termina() && servidor.fallos().isEmpty(), qPrintable(servidor.fallos().join(u'\n')));
        QCOMPARE(notificador_.llamadas.size(), 0);
        elige(raiz.hijos.last().id);
        QCOMPARE(Fin(programa), 0);
    }

    void sinBandejaSuspensionRedYUnSoloPrograma()
    {
        sistema_.ponRed(20);
        ServidorGuion servidor({Cuenta(2), Cuenta(2), Cuenta(2), Cuenta(2), Cuenta(3), Cuenta(3)});
        const QString abierto = dir_.filePath("abierto");
        QProcessEnvironment e = entorno("sin-bandeja", servidor.puerto(), true,
                                        "\"Animacion\"=\"Si\"\n\"Gestor de Correo\"=\"touch " + QFile::encodeName(abierto) + "\"\n");
        e.insert("PIREL_PLAZOS_MS", "300 1200 1000"); // a tray is awaited for 1 s
        QProcess programa;
        lanza(programa, e);
        QVERIFY(EsperaA([&] { return cliente_.interface()->isServiceRegistered("org.ludaren.Pirel"); }));
        QTest::qWait(1500);
        QCOMPARE(servidor.conexiones(), 0); // not while the network is down
        // The network state `red`, or else a resume, once the last check is no longer recent: -1 if no check follows.
        const auto tras = [&](uint red) -> qsizetype {
            QTest::qWait(1300);
            const int antes = servidor.conexiones();
            red ? sistema_.ponRed(red) : sistema_.reanuda();
            if (!EsperaA([&] { return servidor.conexiones() > antes; }, 3000)
                || !EsperaA([&] { return servidor.recibidas().contains(QString("%1: QUIT").arg(antes + 1)); }))
                return -1;
            QTest::qWait(500);
            return notificador_.llamadas.size();
        };
        QCOMPARE(tras(50), 1);
        const QVariantList n = notificador_.llamadas.last();
        QCOMPARE(n.mid(0, 2) + n.mid(3, 3), (QVariantList{"Ludaren Electrónico", 0u, "2 Mensajes",
                                                          "Casa =&gt; Hola &lt;b&gt;&amp;: Ana\nCasa =&gt; Cena: Eva",
                                                          QStringList{"default", "", "abrir-correo", "Abrir Correo"}}));
        QCOMPARE(qdbus_cast<QVariantMap>(n.value(6)).value("desktop-entry").toString(), "ludaren-electronico");
        // From the local network on to the Internet is no return of the network.
        QCOMPARE(tras(70), -1);
        // Unseen mail is told again after a resume, in the same notification; expired, it is still unseen.
        QCOMPARE(tras(0), 2);
        QCOMPARE(notificador_.llamadas.last().value(1).toUInt(), 1u);
        emit notificador_.NotificationClosed(notificador_.ultima, 1);
        QCOMPARE(tras(0), 3);
        // "Abrir Correo" starts the mail program, and the mail counts as seen.
        emit notificador_.ActionInvoked(notificador_.ultima, "abrir-correo");
        QVERIFY2(EsperaA([&] { return QFile::exists(abierto); }), "the mail program did not start");
        QCOMPARE(tras(0), 3);
        // New mail; closed by the user, it counts as seen.
        QCOMPARE(tras(0), 4);
        QCOMPARE(notificador_.llamadas.last().value(3).toString(), "3 Mensajes");
        emit notificador_.NotificationClosed(notificador_.ultima, 2);
        QCOMPARE(tras(0), 4);
        QVERIFY2(servidor.termina() && servidor.fallos().isEmpty(), qPrintable(servidor.fallos().join(u'\n')));
        // A second start hands over: the first opens its settings, the second ends; --salir ends the first.
        QProcess segundo, salir;
        lanza(segundo, e);
        QCOMPARE(Fin(segundo), 0);
        QVERIFY2(!x_.espera("^Ludaren Electrónico$").isEmpty(), "the running program did not open its settings");
        for (const int estado : {0, 1}) { // the second time none runs
            lanza(salir, e, {"--salir"});
            QCOMPARE(Fin(salir), estado);
        }
        QCOMPARE(Fin(programa), 0);
    }
};

QTEST_GUILESS_MAIN(TestEscritorio)
#include "test_escritorio.moc"
