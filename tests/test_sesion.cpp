// The real program in a desktop session: private session and system buses with stand-ins
// for the panel's watcher, the notification server, logind and NetworkManager, under Xvfb.
// A panel that comes 5 s late and restarts; a desktop without a tray, where new mail is a
// notification; checks after a resume and when the network returns, none while it is down;
// one program per session.
#include "clave.h"
#include "entorno_x.h"
#include "servicios_dbus.h"
#include "servidor_guion.h"
#include "sni.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTest>

using namespace pirel;
using namespace pirel::prueba;

namespace {

const Guion kDos = Guion::entrada().stat(2).top(1, "Hola <b>&", "Ana").top(2, "Cena", "Eva").quit();
const Guion kTres = Guion::entrada().stat(3).top(1, "Hola <b>&", "Ana").top(2, "Cena", "Eva").top(3, "Ya", "Pio").quit();

}

class TestSesion : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    EntornoX x_;
    BusesPrivados buses_;
    SistemaFalso sistema_;
    NotificadorFalso notificador_;
    QDBusConnection cliente_{QString()};

    QString configura(const QString& nombre, const QByteArray& opciones)
    {
        const QString carpeta = dir_.filePath(nombre);
        QDir().mkpath(carpeta + QStringLiteral("/Ludaren"));
        QFile f(carpeta + QStringLiteral("/Ludaren/registro.reg"));
        f.open(QIODevice::WriteOnly);
        f.write("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion]\n"
                "\"frecuencia\"=\"60\"\n\"Hacer Sonido\"=\"\"\n" + opciones +
                "\n[HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion\\Buzones]\n"
                "\"Buzon1\"=\"Casa\"\n\"Host1\"=\"127.0.0.1\"\n\"usuario1\"=\"pepe\"\n\"Codigo1\"=\""
                + CodificaClave("secreta") + "\"\n\"Chequear1\"=\"Si\"\n\"nBuzon\"=\"1\"\n\n"
                "[HKEY_CURRENT_USER\\Software\\Ludaren\\Version]\n\"Numero\"=\"2.0\"\n");
        return carpeta;
    }
    void arranca(QProcess& p, const QString& configuracion, quint16 puerto, const QStringList& argumentos = {},
                 const QString& plazos = {})
    {
        QProcessEnvironment e = x_.entornoPrograma();
        buses_.aplica(e);
        e.insert(QStringLiteral("XDG_CONFIG_HOME"), configuracion);
        e.insert(QStringLiteral("PIREL_PUERTO_POP3"), QString::number(puerto));
        if (!plazos.isEmpty())
            e.insert(QStringLiteral("PIREL_PLAZOS_MS"), plazos);
        p.setProcessEnvironment(e);
        p.setProcessChannelMode(QProcess::ForwardedChannels);
        p.start(QCoreApplication::applicationDirPath() + QStringLiteral("/pirel"), argumentos);
    }
    bool termina(QProcess& p, int ms = 10000)
    {
        return EsperaConEventos([&] { return p.state() == QProcess::NotRunning; }, ms) && p.exitStatus() == QProcess::NormalExit;
    }
    QDBusMessage llama(const QString& servicio, const QString& ruta, const QString& interfaz, const QString& metodo,
                       const QVariantList& argumentos = {})
    {
        QDBusMessage m = QDBusMessage::createMethodCall(servicio, ruta, interfaz, metodo);
        m.setArguments(argumentos);
        // Asynchronous, so that this process's stand-ins keep answering meanwhile.
        QDBusPendingCall llamada = cliente_.asyncCall(m);
        EsperaConEventos([&] { return llamada.isFinished(); });
        return llamada.reply();
    }
    // Read as panels read them, all at once.
    template <typename T> T propiedad(const QString& servicio, const QString& ruta, const QString& interfaz, const char* nombre)
    {
        const QDBusMessage r = llama(servicio, ruta, QStringLiteral("org.freedesktop.DBus.Properties"),
                                     QStringLiteral("GetAll"), {interfaz});
        const QVariant v = qdbus_cast<QVariantMap>(r.arguments().value(0)).value(QLatin1String(nombre));
        if constexpr (std::is_same_v<T, QString>)
            return v.toString();
        else
            return qdbus_cast<T>(v);
    }
    QString ventana(const QString& titulo) const
    {
        return Orden(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--name", titulo}, x_.entorno());
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty(),
                 "dbus-daemon is missing: run tools/instalar");
        QString error;
        QVERIFY2(x_.arranca(&error), qPrintable(error));
        QVERIFY2(buses_.arranca(&error), qPrintable(error));
        QVERIFY(sistema_.arranca(buses_, 20));
        QVERIFY(notificador_.arranca(buses_));
        cliente_ = buses_.conecta(false, QStringLiteral("cliente"));
        RegistraTiposSni();
    }

    void bandejaQueLlegaTardeYSeReinicia()
    {
        sistema_.ponRed(70);
        VigiaFalso vigia(buses_);
        ServidorGuion servidor({kDos, kTres});
        QProcess programa;
        arranca(programa, configura(QStringLiteral("bandeja"), "\"Animacion\"=\"No\"\n"), servidor.puerto());
        // The panel comes 5 s after the program, then restarts.
        QTest::qWait(5000);
        QVERIFY(vigia.arranca());
        QVERIFY2(EsperaConEventos([&] { return !vigia.registros.isEmpty(); }), "the item was not registered");
        qInfo("item registered %lld ms after the watcher appeared", vigia.registros.first().ms);
        vigia.para();
        QTest::qWait(300);
        QVERIFY(vigia.arranca());
        QVERIFY2(EsperaConEventos([&] { return vigia.registros.size() == 2; }), "not registered with the restarted watcher");
        qInfo("registered again %lld ms after the watcher restarted", vigia.registros.last().ms);
        QCOMPARE(vigia.registros.last().arranque, 2);

        const QString item = vigia.registros.last().servicio, ruta = QStringLiteral("/StatusNotifierItem");
        const QString sni = QStringLiteral("org.kde.StatusNotifierItem"), dbusmenu = QStringLiteral("com.canonical.dbusmenu");
        const auto consejo = [&] { return propiedad<ConsejoDBus>(item, ruta, sni, "ToolTip").titulo; };
        QVERIFY2(EsperaConEventos([&] { return consejo() == QStringLiteral("2 Mensajes"); }), qPrintable(consejo()));
        QCOMPARE(propiedad<QString>(item, ruta, sni, "Title"), QStringLiteral("Ludaren Electrónico"));
        const PixmapsDBus pixmaps = propiedad<PixmapsDBus>(item, ruta, sni, "IconPixmap");
        QVERIFY(!pixmaps.isEmpty());
        QCOMPARE(pixmaps.first().datos.size(), pixmaps.first().ancho * pixmaps.first().alto * 4);
        const QString menu = propiedad<QDBusObjectPath>(item, ruta, sni, "Menu").path();

        // The panel draws the menu from its description.
        const QDBusMessage r = llama(item, menu, dbusmenu, QStringLiteral("GetLayout"), {0, -1, QStringList()});
        QCOMPARE(r.type(), QDBusMessage::ReplyMessage);
        const auto raiz = qdbus_cast<ElementoMenuDBus>(r.arguments().value(1));
        QStringList entradas;
        for (const ElementoMenuDBus& e : raiz.hijos)
            entradas << e.propiedades.value(QStringLiteral("label"), e.propiedades.value(QStringLiteral("type"))).toString()
                            + (e.propiedades.value(QStringLiteral("enabled"), true).toBool() ? "" : " (off)");
        QCOMPARE(entradas, (QStringList{"Chequear Correo _Ahora", "A_brir Correo (off)", "_Configuración", "A_yuda",
                                        "separator", "_Salir"}));

        // A click on the icon opens the notice; the menu's first entry checks.
        llama(item, ruta, sni, QStringLiteral("Activate"), {0, 0});
        QVERIFY2(EsperaConEventos([&] { return !ventana(QStringLiteral("^2 Mensajes$")).isEmpty(); }), "no notice");
        llama(item, menu, dbusmenu, QStringLiteral("Event"),
              {raiz.hijos.first().id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
        QVERIFY2(EsperaConEventos([&] { return consejo() == QStringLiteral("3 Mensajes"); }), qPrintable(consejo()));
        QVERIFY(servidor.termina());
        QCOMPARE(servidor.fallos(), QStringList());
        QCOMPARE(notificador_.llamadas.size(), 0);

        llama(item, menu, dbusmenu, QStringLiteral("Event"),
              {raiz.hijos.last().id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
        QVERIFY2(termina(programa), "Salir from the panel's menu did not end the program");
        QCOMPARE(programa.exitCode(), 0);
    }

    void sinBandejaSuspensionRedYUnSoloPrograma()
    {
        // Settling 300 ms, a check within 1200 ms is recent, a tray is awaited for 1000 ms.
        const QString plazos = QStringLiteral("300 1200 1000");
        sistema_.ponRed(20);
        ServidorGuion servidor({kDos, kDos, kDos, kDos, kTres, kTres});
        const QString abierto = dir_.filePath(QStringLiteral("abierto"));
        const QString carpeta = configura(QStringLiteral("sin-bandeja"), "\"Animacion\"=\"Si\"\n\"Gestor de Correo\"=\"touch "
                                                                             + QFile::encodeName(abierto) + "\"\n");
        QProcess programa;
        arranca(programa, carpeta, servidor.puerto(), {}, plazos);
        QVERIFY(EsperaConEventos([&] { return cliente_.interface()->isServiceRegistered(QStringLiteral("org.ludaren.Pirel")); }));
        QTest::qWait(1500);
        QCOMPARE(servidor.conexiones(), 0); // no check while the network is down

        QElapsedTimer t;
        const auto chequeoTras = [&](const char* que, const std::function<void()>& suceso, qsizetype llamadas) {
            QTest::qWait(1300); // the last check is no longer recent
            const int antes = servidor.conexiones();
            t.start();
            suceso();
            if (!EsperaConEventos([&] { return servidor.conexiones() > antes; }))
                return false;
            qInfo("check %lld ms after %s", t.elapsed(), que);
            const QString fin = QStringLiteral("%1: QUIT").arg(antes + 1);
            if (!EsperaConEventos([&] { return servidor.recibidas().contains(fin); }))
                return false;
            // The notification, when there is one, follows the check at once.
            EsperaConEventos([&] { return notificador_.llamadas.size() >= llamadas; }, 3000);
            QTest::qWait(300);
            return notificador_.llamadas.size() == llamadas;
        };
        const auto reanuda = [&] {
            emit sistema_.PrepareForSleep(true);
            emit sistema_.PrepareForSleep(false);
        };
        QVERIFY(chequeoTras("the network came back", [&] { sistema_.ponRed(70); }, 1));
        NotificadorFalso::Llamada n = notificador_.llamadas.last();
        QCOMPARE(n.aplicacion, QStringLiteral("Ludaren Electrónico"));
        QCOMPARE(n.resumen, QStringLiteral("2 Mensajes"));
        QCOMPARE(n.cuerpo, QStringLiteral("Casa =&gt; Hola &lt;b&gt;&amp;: Ana\nCasa =&gt; Cena: Eva"));
        QCOMPARE(n.acciones, (QStringList{"default", "", "abrir-correo", "Abrir Correo"}));
        QCOMPARE(n.reemplaza, 0u);
        QCOMPARE(n.pistas.value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("ludaren-electronico"));

        // Unseen mail is told again after a resume, in the same notification.
        QVERIFY(chequeoTras("the resume", reanuda, 2));
        QCOMPARE(notificador_.llamadas.last().reemplaza, n.id);
        // Expired, it is still unseen.
        emit notificador_.NotificationClosed(n.id, 1);
        QVERIFY(chequeoTras("the resume", reanuda, 3));
        n = notificador_.llamadas.last();
        // "Abrir Correo" starts the mail program, and the mail counts as seen.
        emit notificador_.ActionInvoked(n.id, QStringLiteral("abrir-correo"));
        QVERIFY2(EsperaConEventos([&] { return QFile::exists(abierto); }), "the mail program did not start");
        QVERIFY(chequeoTras("the resume", reanuda, 3));
        // New mail; closed by the user, it counts as seen.
        QVERIFY(chequeoTras("the resume", reanuda, 4));
        n = notificador_.llamadas.last();
        QCOMPARE(n.resumen, QStringLiteral("3 Mensajes"));
        emit notificador_.NotificationClosed(n.id, 2);
        QVERIFY(chequeoTras("the resume", reanuda, 4));
        QVERIFY(servidor.termina());
        QCOMPARE(servidor.fallos(), QStringList());

        // A second start hands over: the first opens its settings, the second ends.
        QProcess segundo;
        arranca(segundo, carpeta, servidor.puerto(), {}, plazos);
        QVERIFY(termina(segundo));
        QCOMPARE(segundo.exitCode(), 0);
        QVERIFY2(EsperaConEventos([&] { return !ventana(QStringLiteral("^Ludaren Electr.*nico$")).isEmpty(); }),
                 "the running program did not open its settings");
        QCOMPARE(programa.state(), QProcess::Running);

        QProcess salir;
        arranca(salir, carpeta, servidor.puerto(), {"--salir"});
        QVERIFY(termina(salir));
        QCOMPARE(salir.exitCode(), 0);
        QVERIFY2(termina(programa), "--salir did not end the running program");
        QCOMPARE(programa.exitCode(), 0);
        arranca(salir, carpeta, servidor.puerto(), {"--salir"});
        QVERIFY(termina(salir));
        QCOMPARE(salir.exitCode(), 1); // none runs
    }
};

QTEST_GUILESS_MAIN(TestSesion)
#include "test_sesion.moc"
