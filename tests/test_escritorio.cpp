// The real program under Xvfb against a scripted POP3 server: on its first start, in an XEmbed tray
// that comes late; then on private buses, with a panel's watcher that comes late and restarts, or
// with no tray at all.
#include "entorno_x.h"
#include "escritorio_grabado.h"
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

    // One mailbox and `opciones` on the private buses, or with "-" a first start: no settings, no buses. All in a Wayland
    // session whose compositor is not even there, where Qt alone would not start. Settling 300 ms after a resume, a
    // check within 1200 ms is recent.
    QProcessEnvironment entorno(const QString& nombre, quint16 puerto, const QByteArray& opciones, const char* plazos = "300 1200")
    {
        const QString carpeta = dir_.filePath(nombre);
        QDir().mkpath(carpeta + "/Ludaren");
        QFile f(carpeta + "/Ludaren/registro.reg");
        QProcessEnvironment e = x_.entornoPrograma();
        if (opciones != "-" && f.open(QIODevice::WriteOnly)) {
            buses_.aplica(e);
            f.write(configurado("\"frecuencia\"=\"60\"\n\"Hacer Sonido\"=\"\"\n" + opciones));
        }
        for (const auto& [clave, valor] : {std::pair<const char*, QString>{"XDG_CONFIG_HOME", carpeta}, {"PIREL_PLAZOS_MS", plazos},
                 {"PIREL_PUERTO_POP3", QString::number(puerto)}, {"QT_QPA_PLATFORM", ""}, {"XDG_SESSION_TYPE", "wayland"},
                 {"XDG_CURRENT_DESKTOP", "KDE"}, {"WAYLAND_DISPLAY", "wayland-sin-compositor"}})
            e.insert(clave, valor);
        return e;
    }
    static Guion Cuenta(int n)
    {
        Guion g = Guion::entrada().stat(n);
        for (int k = 0; k < n; ++k)
            g.top(k + 1, std::array{"Hola <b>&", "Cena", "Ya"}[k], std::array{"Ana", "Eva", "Pio"}[k]);
        return g.quit();
    }
    static int Fin(const auto& p) { return EsperaA([&] { return !p->processId(); }) && !p->exitStatus() ? p->exitCode() : -1; }
    static std::unique_ptr<QProcess> lanza(const QProcessEnvironment& e, const QStringList& argumentos = {})
    {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(e);
        p->setProcessChannelMode(QProcess::ForwardedChannels);
        p->start(QCoreApplication::applicationDirPath() + "/pirel", argumentos);
        return p;
    }
    // Asynchronous, so that this process's stand-ins keep answering meanwhile.
    QVariant llama(const QString& s, const QString& ruta, const char* i, const char* metodo, const QVariantList& a, int n = 0)
    {
        QDBusMessage m = QDBusMessage::createMethodCall(s, ruta, i, metodo);
        m.setArguments(a);
        const QDBusPendingCall llamada = cliente_.asyncCall(m);
        EsperaA([&] { return llamada.isFinished(); });
        return llamada.reply().arguments().value(n);
    }

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(QDir().mkpath(artefactos_) && x_.arranca(&error) && buses_.arranca(&error), qPrintable(error));
        QVERIFY(sistema_.arranca(buses_, 20) && notificador_.arranca(buses_));
        cliente_ = QDBusConnection::connectToBus(buses_.direccion(false), "cliente");
        RegistraTiposSni();
    }

    void primerArranqueYBandejaXEmbed()
    {
        ServidorGuion servidor({Cuenta(0), Cuenta(2)});
        const auto programa = lanza(entorno("xembed", servidor.puerto(), "-"));
        const QString dialogo = x_.espera("^Ludaren Electrónico$");
        QVERIFY2(!dialogo.isEmpty(), "the first start shows no dialog");
        x_.xdotool({"windowunmap", x_.espera("^Ayuda de Ludaren Electrónico$")}); // and its help, in the way of the icon
        const auto teclea = [&](const QStringList& teclas) { x_.xdotool(QStringList{"windowfocus", "--sync", dialogo} + teclas); };
        teclea({"key", "alt+n", "sleep", "0.8"}); // the focus moves to the name only once the program has handled the key
        teclea({"type", "--delay", "40", "Casa\t127.0.0.1\tpepe\tsecreta\t"});
        // Past "Chequear" to the security, "Ninguna", and back to the password; the mailbox is checked at once.
        teclea({"key", "Tab", "n", "shift+Tab", "shift+Tab", "alt+d", "alt+a"});
        QVERIFY(EsperaA([&] { return servidor.conexiones() == 1; }));
        QVERIFY2(x_.arrancaBandeja() && EsperaA([&] { return x_.ventanas("pirel").size() == 1; }), "no icon when the tray came");
        const QString icono = x_.ventanas("pirel").first();
        const auto captura = [&](const QString& f) {
            Orden("import", {"-window", icono, artefactos_ + f}, x_.entornoPrograma());
            return QImage(artefactos_ + f);
        };
        const QImage vacio = captura("icono-vacio.png");
        QVERIFY(x_.menu(icono, "a"));
        const QString aviso = x_.espera("^2 Mensajes$");
        QVERIFY2(!aviso.isEmpty() && !aviso.contains(u'\n') && x_.xdotool({"getwindowfocus"}) != aviso
                     && Orden("xprop", {"-id", aviso, "_NET_WM_STATE"}, x_.entornoPrograma()).contains(u"_NET_WM_STATE_ABOVE"),
                 "not one notice, above the others and without the keyboard");
        QVERIFY2(EsperaA([&] { return captura("icono-con-correo.png") != vacio; }), "the picture stayed");
        QVERIFY(x_.menu(icono, "s") && Fin(programa) == 0);
        x_.paraBandeja();
    }

    void panelQueLlegaTardeYSeReinicia()
    {
        sistema_.ponRed(70);
        VigiaFalso vigia(buses_);
        ServidorGuion servidor({Cuenta(2), Cuenta(3)});
        const auto programa = lanza(entorno("panel", servidor.puerto(), "\"Animacion\"=\"No\"\n"));
        for (const int arranque : {1, 2}) { // late, then restarted
            vigia.para();
            QTest::qWait(arranque == 1 ? 3000 : 300);
            QVERIFY2(vigia.arranca() && EsperaA([&] { return vigia.registros.size() == arranque; }), "the item was not registered");
        }
        const QString item = vigia.registros.last(), sni = "/StatusNotifierItem";
        QVariantMap p; // read as panels read them, all at once
        const auto consejo = [&] {
            p = qdbus_cast<QVariantMap>(llama(item, sni, "org.freedesktop.DBus.Properties", "GetAll", {"org.kde.StatusNotifierItem"}));
            return qdbus_cast<ConsejoDBus>(p.value("ToolTip")).titulo;
        };
        QVERIFY2(EsperaA([&] { return consejo() == u"2 Mensajes"; }), qPrintable(consejo()));
        const auto i = qdbus_cast<PixmapsDBus>(p.value("IconPixmap")).value(0);
        QVERIFY(p.value("Title").toString() == u"Ludaren Electrónico" && i.ancho > 0 && i.datos.size() == i.ancho * i.alto * 4);
        const QString menu = qdbus_cast<QDBusObjectPath>(p.value("Menu")).path();
        const auto raiz =
            qdbus_cast<ElementoMenuDBus>(llama(item, menu, "com.canonical.dbusmenu", "GetLayout", {0, -1, QStringList()}, 1));
        // The menu's first entry checks, its last one ends the program.
        const QVariant nada = QVariant::fromValue(QDBusVariant(0));
        llama(item, menu, "com.canonical.dbusmenu", "Event", {raiz.hijos.first().id, "clicked", nada, 0u});
        QVERIFY2(EsperaA([&] { return consejo() == u"3 Mensajes"; }), qPrintable(consejo()));
        QCOMPARE(notificador_.llamadas.size(), 0);
        llama(item, menu, "com.canonical.dbusmenu", "Event", {raiz.hijos.last().id, "clicked", nada, 0u});
        QCOMPARE(Fin(programa), 0);
    }

    void sinBandejaSuspensionRedYUnSoloPrograma()
    {
        sistema_.ponRed(20);
        ServidorGuion servidor({Cuenta(2), Cuenta(2), Cuenta(2), Cuenta(2), Cuenta(3)});
        const QProcessEnvironment e = entorno("sin-bandeja", servidor.puerto(), // a tray is awaited for 1 s
            "\"Animacion\"=\"Si\"\n\"Gestor de Correo\"=\"touch " + QFile::encodeName(dir_.filePath("abierto")) + "\"\n", "300 1200 1000");
        const auto programa = lanza(e);
        QVERIFY2(EsperaA([&] { return cliente_.interface()->isServiceRegistered("org.ludaren.Pirel"); }),
                 "it checked while the network was down");
        QTest::qWait(1500);
        QVERIFY2(servidor.conexiones() == 0, "it checked while the network was down");
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
        QCOMPARE(tras(0), 3);
        QVERIFY2(QFile::exists(dir_.filePath("abierto")), "the mail program did not start");
        // New mail.
        QCOMPARE(tras(0), 4);
        QCOMPARE(notificador_.llamadas.last().value(3).toString(), "3 Mensajes");
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
