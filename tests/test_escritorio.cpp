// The real program under Xvfb against a scripted POP3 server: on its first start, in an XEmbed tray
// that comes late; then on private buses, with a panel's watcher that comes late and restarts, or
// with no tray at all.
#include "clave.h"
#include "entorno_x.h"
#include "servidor_guion.h"
#include "sni.h"

#include <QDBusConnectionInterface>
#include <QDBusPendingCall>
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

    // One mailbox and `opciones` on the private buses, or with "-" a first start: no settings, no buses.
    // Settling 300 ms after a resume, a check within 1200 ms is recent.
    QProcessEnvironment entorno(const QString& nombre, quint16 puerto, const QByteArray& opciones, const char* plazos = "300 1200")
    {
        const QString carpeta = dir_.filePath(nombre);
        QDir().mkpath(carpeta + "/Ludaren");
        QFile f(carpeta + "/Ludaren/registro.reg");
        const QByteArray k = "\n[HKEY_CURRENT_USER\\Software\\Ludaren\\";
        QProcessEnvironment e = x_.entornoPrograma();
        if (opciones != "-" && f.open(QIODevice::WriteOnly))
            buses_.aplica(e), f.write("Windows Registry Editor Version 5.00\n" + k + "Version]\n\"Numero\"=\"2.0\"\n" + k
                                      + "Configuracion]\n\"frecuencia\"=\"60\"\n\"Hacer Sonido\"=\"\"\n" + opciones + k
                                      + "Configuracion\\Buzones]\n\"nBuzon\"=\"1\"\n\"Buzon1\"=\"Casa\"\n\"Host1\"=\"127.0.0.1\"\n"
                                        "\"usuario1\"=\"pepe\"\n\"Chequear1\"=\"Si\"\n\"Codigo1\"=\"" + CodificaClave("secreta") + "\"\n");
        e.insert("XDG_CONFIG_HOME", carpeta);
        e.insert("PIREL_PUERTO_POP3", QString::number(puerto));
        e.insert("PIREL_PLAZOS_MS", plazos);
        return e;
    }
    static Guion Cuenta(int n)
    {
        Guion g = Guion::entrada().stat(n);
        for (int k = 0; k < n; ++k)
            g.top(k + 1, std::array{"Hola <b>&", "Cena", "Ya"}[k], std::array{"Ana", "Eva", "Pio"}[k]);
        return g.quit();
    }
    static QString Fallos(ServidorGuion& s) { return s.termina() ? s.fallos().join(u'\n') : "the script did not end"; }
    static int Fin(const std::unique_ptr<QProcess>& p) { return EsperaA([&] { return !p->processId(); }) && !p->exitStatus() ? p->exitCode() : -1; }
    static std::unique_ptr<QProcess> lanza(const QProcessEnvironment& e, const QStringList& argumentos = {})
    {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(e), p->setProcessChannelMode(QProcess::ForwardedChannels);
        p->start(QCoreApplication::applicationDirPath() + "/pirel", argumentos);
        return p;
    }
    QImage captura(const QString& v, const QString& f) const { return Orden("import", {"-window", v, artefactos_ + f}, x_.entornoPrograma()), QImage(artefactos_ + f); }
    // Asynchronous, so that this process's stand-ins keep answering meanwhile.
    QDBusMessage llama(const QString& servicio, const QString& ruta, const char* interfaz, const char* metodo, const QVariantList& a)
    {
        QDBusMessage m = QDBusMessage::createMethodCall(servicio, ruta, interfaz, metodo);
        m.setArguments(a);
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
    void primerArranqueYBandejaXEmbed()
    {
        ServidorGuion servidor({Cuenta(0), Cuenta(2), Cuenta(3)});
        QProcessEnvironment e = entorno("xembed", servidor.puerto(), "-");
        e.remove("QT_QPA_PLATFORM");
        e.insert("XDG_SESSION_TYPE", "wayland"), e.insert("XDG_CURRENT_DESKTOP", "KDE"), e.insert("WAYLAND_DISPLAY", "wayland-no");
        const auto programa = lanza(e);
        const QString dialogo = x_.espera("^Ludaren Electrónico$");
        QVERIFY2(!dialogo.isEmpty(), "the first start shows no dialog");
        x_.xdotool({"windowunmap", x_.espera("^Ayuda de Ludaren Electrónico$")}); // and its help, in the way of the icon
        const auto teclea = [&](const QStringList& teclas) { x_.xdotool(QStringList{"windowfocus", "--sync", dialogo} + teclas); };
        teclea({"key", "alt+n"});
        QTest::qWait(800); // the focus moves to the name only once the program has handled the key
        for (const char* campo : {"Casa", "127.0.0.1", "pepe", "secreta"})
            teclea({"type", "--delay", "40", campo}), teclea({"key", "Tab"});
        // Past "Chequear" to the security, "Ninguna", and back to the password; the mailbox is checked at once.
        teclea({"key", "Tab", "n", "shift+Tab", "shift+Tab", "alt+d", "alt+a"});
        QVERIFY(EsperaA([&] { return servidor.conexiones() == 1; }));
        QVERIFY2(x_.arrancaBandeja() && EsperaA([&] { return x_.ventanas("pirel").size() == 1; }), "no icon when the tray came");
        const QString icono = x_.ventanas("pirel").first();
        const QImage vacio = captura(icono, "icono-vacio.png");
        QVERIFY(x_.menu(icono, "a"));
        const QString aviso = x_.espera("^2 Mensajes$");
        QVERIFY2(!aviso.isEmpty() && !aviso.contains(u'\n'), "not one notice");
        QVERIFY2(Orden("xprop", {"-id", aviso, "_NET_WM_STATE"}, x_.entornoPrograma()).contains(u"_NET_WM_STATE_ABOVE")
                     && x_.xdotool({"getwindowfocus"}) != aviso, "the notice is not above, or took the keyboard");
        QVERIFY2(EsperaA([&] { return captura(icono, "icono-con-correo.png") != vacio; }), "the picture stayed");
        // A third message while the notice is open refreshes it, still without the keyboard.
        QVERIFY(x_.menu(icono, "a"));
        QVERIFY2(EsperaA([&] { return x_.busca("^3 Mensajes$") == aviso; }), "the notice was not refreshed");
        QVERIFY2(x_.xdotool({"getwindowfocus"}) != aviso, "the refreshed notice took the keyboard");
        QCOMPARE(Fallos(servidor), "");
        QVERIFY(x_.menu(icono, "s"));
        QCOMPARE(Fin(programa), 0);
        x_.paraBandeja();
    }

    void panelQueLlegaTardeYSeReinicia()
    {
        sistema_.ponRed(70);
        VigiaFalso vigia(buses_);
        ServidorGuion servidor({Cuenta(2), Cuenta(3)});
        const auto programa = lanza(entorno("panel", servidor.puerto(), "\"Animacion\"=\"No\"\n"));
        for (const int arranque : {1, 2}) // late, then restarted
            QVERIFY2((vigia.para(), QTest::qWait(arranque == 1 ? 3000 : 300), vigia.arranca())
                         && EsperaA([&] { return vigia.registros.size() == arranque; }), "the item was not registered");
        const QString item = vigia.registros.last(), sni = "/StatusNotifierItem";
        QVariantMap p; // read as panels read them, all at once
        const auto consejo = [&] {
            p = qdbus_cast<QVariantMap>(
                llama(item, sni, "org.freedesktop.DBus.Properties", "GetAll", {"org.kde.StatusNotifierItem"}).arguments().value(0));
            return qdbus_cast<ConsejoDBus>(p.value("ToolTip")).titulo;
        };
        QVERIFY2(EsperaA([&] { return consejo() == u"2 Mensajes"; }), qPrintable(consejo()));
        const auto pix = qdbus_cast<PixmapsDBus>(p.value("IconPixmap")).value(0);
        QVERIFY(p.value("Title").toString() == u"Ludaren Electrónico" && pix.ancho > 0 && pix.datos.size() == pix.ancho * pix.alto * 4);
        const QString menu = qdbus_cast<QDBusObjectPath>(p.value("Menu")).path();
        const auto raiz = qdbus_cast<ElementoMenuDBus>(
            llama(item, menu, "com.canonical.dbusmenu", "GetLayout", {0, -1, QStringList()}).arguments().value(1));
        QStringList entradas;
        for (const ElementoMenuDBus& e : raiz.hijos)
            entradas << e.propiedades.value("label", e.propiedades.value("type")).toString()
                            + (e.propiedades.value("enabled", true).toBool() ? "" : " (off)");
        QCOMPARE(entradas.join(", "), "Chequear Correo _Ahora, A_brir Correo (off), _Configuración, A_yuda, separator, _Salir");
        // A click on the icon opens the notice; the menu's first entry checks, its last one ends the program.
        llama(item, sni, "org.kde.StatusNotifierItem", "Activate", {0, 0});
        QVERIFY2(!x_.espera("^2 Mensajes$").isEmpty(), "no notice");
        const auto elige = [&](int id) {
            llama(item, menu, "com.canonical.dbusmenu", "Event", {id, "clicked", QVariant::fromValue(QDBusVariant(0)), 0u});
        };
        elige(raiz.hijos.first().id);
        QVERIFY2(EsperaA([&] { return consejo() == u"3 Mensajes"; }), qPrintable(consejo()));
        QCOMPARE(notificador_.llamadas.size(), 0);
        elige(raiz.hijos.last().id);
        QCOMPARE(Fin(programa), 0);
    }

    void sinBandejaSuspensionRedYUnSoloPrograma()
    {
        sistema_.ponRed(20);
        ServidorGuion servidor({Cuenta(2), Cuenta(2), Cuenta(2), Cuenta(2), Cuenta(3), Cuenta(3)});
        const QString abierto = dir_.filePath("abierto");
        const QProcessEnvironment e = entorno("sin-bandeja", servidor.puerto(), "\"Animacion\"=\"Si\"\n\"Gestor de Correo\"=\"touch "
                                              + QFile::encodeName(abierto) + "\"\n", "300 1200 1000"); // a tray is awaited for 1 s
        const auto programa = lanza(e);
        QVERIFY(EsperaA([&] { return cliente_.interface()->isServiceRegistered("org.ludaren.Pirel"); }));
        QTest::qWait(1500);
        QCOMPARE(servidor.conexiones(), 0); // not while the network is down
        // The network state `red`, or else a resume, once the last check is no longer recent: -1 if no check follows.
        const auto tras = [&](uint red) -> qsizetype {
            QTest::qWait(1300);
            const int antes = servidor.conexiones();
            red ? sistema_.ponRed(red) : sistema_.reanuda();
            return EsperaA([&] { return servidor.conexiones() > antes; }, 3000)
                       && EsperaA([&] { return servidor.recibidas().contains(QString("%1: QUIT").arg(antes + 1)); })
                   ? (QTest::qWait(500), notificador_.llamadas.size()) : -1;
        };
        QCOMPARE(tras(50), 1);
        const QVariantList n = notificador_.llamadas.last();
        QCOMPARE(n.mid(0, 2) + n.mid(3, 3) << qdbus_cast<QVariantMap>(n.value(6)).value("desktop-entry"),
                 (QVariantList{"Ludaren Electrónico", 0u, "2 Mensajes", "Casa =&gt; Hola &lt;b&gt;&amp;: Ana\nCasa =&gt; Cena: Eva",
                               QStringList{"default", "", "abrir-correo", "Abrir Correo"}, "ludaren-electronico"}));
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
        // A second start hands over: the first opens its settings, the second ends; --salir ends the first.
        QCOMPARE(Fin(lanza(e)), 0);
        QVERIFY2(!x_.espera("^Ludaren Electrónico$").isEmpty(), "the running program did not open its settings");
        for (const int estado : {0, 1}) // the second time none runs
            QCOMPARE(Fin(lanza(e, {"--salir"})), estado);
        QCOMPARE(Fin(programa), 0);
    }
};

QTEST_GUILESS_MAIN(TestEscritorio)
#include "test_escritorio.moc"
