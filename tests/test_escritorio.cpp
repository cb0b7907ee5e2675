// The real program on a real X server with an XEmbed tray, checking a scripted POP3
// server: the icon appears (also when the tray comes later or restarts), follows the
// check, opens its menu with the right button, and "Salir" ends it with status 0. Its
// windows carry exactly their own titles, and the notice never takes the keyboard. In a
// Wayland session with XWayland it runs through XWayland, its notice on top.
#include "clave.h"
#include "entorno_x.h"
#include "servidor_guion.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace pirel::prueba;
using pirel::prueba::Guion;
using pirel::prueba::ServidorGuion;

class TestEscritorio : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    EntornoX x_;
    QString artefactos_;

    QStringList ventanas(const QString& clase) const { return x_.ventanas(clase); }
    bool arrancaBandeja() { return x_.arrancaBandeja(); }
    QImage captura(const QString& ventana, const QString& nombre) const
    {
        QByteArray png;
        Orden(QStringLiteral("/usr/bin/import"), {"-window", ventana, "png:-"}, x_.entorno(), &png);
        QImage imagen = QImage::fromData(png, "PNG");
        if (!nombre.isEmpty())
            imagen.save(artefactos_ + u'/' + nombre);
        return imagen;
    }
    void capturaPantalla(const QString& nombre) const
    {
        Orden(QStringLiteral("/usr/bin/import"), {"-window", "root", artefactos_ + u'/' + nombre}, x_.entorno());
    }
    QProcessEnvironment entornoPirel(const QString& configuracion, quint16 puerto) const
    {
        QProcessEnvironment e = x_.entornoPrograma();
        e.insert(QStringLiteral("XDG_CONFIG_HOME"), configuracion);
        e.insert(QStringLiteral("PIREL_PUERTO_POP3"), QString::number(puerto));
        return e;
    }
    QString configura(const QString& nombre, const QByteArray& animacion = "No")
    {
        const QString carpeta = dir_.filePath(nombre);
        QDir().mkpath(carpeta + QStringLiteral("/Ludaren"));
        QFile f(carpeta + QStringLiteral("/Ludaren/registro.reg"));
        f.open(QIODevice::WriteOnly);
        f.write("Windows Registry Editor Version 5.00\n\n"
                "[HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion]\n\"frecuencia\"=\"60\"\n"
                "\"Animacion\"=\"" + animacion + "\"\n"
                "\"Hacer Sonido\"=\"\"\n\n"
                "[HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion\\Buzones]\n"
                "\"Buzon1\"=\"Casa\"\n\"Host1\"=\"127.0.0.1\"\n\"usuario1\"=\"pepe\"\n\"Codigo1\"=\""
                + pirel::CodificaClave("secreta") + "\"\n\"Chequear1\"=\"Si\"\n\"nBuzon\"=\"1\"\n\n"
                "[HKEY_CURRENT_USER\\Software\\Ludaren\\Version]\n\"Numero\"=\"2.0\"\n");
        return carpeta;
    }
    QString pirel() const { return QCoreApplication::applicationDirPath() + QStringLiteral("/pirel"); }
    // The title a window manager shows: xprop prints NAME(UTF8_STRING) = "title".
    QString titulo(const QString& ventana) const
    {
        const QString linea = Orden(QStringLiteral("xprop"), {"-id", ventana, "_NET_WM_NAME"}, x_.entorno());
        const qsizetype comillas = linea.indexOf(u'"');
        return comillas < 0 || !linea.endsWith(u'"') ? QString() : linea.mid(comillas + 1).chopped(1);
    }
    QString foco() const { return Orden(QStringLiteral("xdotool"), {"getwindowfocus"}, x_.entorno()); }

private slots:
    void initTestCase()
    {
        for (const char* necesario : {"Xvfb", "trayer", "xdotool", "xdpyinfo"})
            QVERIFY2(!QStandardPaths::findExecutable(QLatin1String(necesario)).isEmpty(),
                     qPrintable(QStringLiteral("%1 is missing: run tools/instalar").arg(QLatin1String(necesario))));
        QVERIFY2(QFile::exists(QStringLiteral("/usr/bin/import")), "ImageMagick is missing: run tools/instalar");
        artefactos_ = QCoreApplication::applicationDirPath() + QStringLiteral("/../artefactos");
        QDir().mkpath(artefactos_);

        QString error;
        QVERIFY2(x_.arranca(&error), qPrintable(error));
    }

    void iconoMenuYSalida()
    {
        QVERIFY(arrancaBandeja());
        ServidorGuion servidor({Guion::entrada().pausa(400).stat(2).top(1, "Hola", "Ana").top(2, "Cena", "Eva").quit()});
        QProcess programa;
        programa.setProcessChannelMode(QProcess::ForwardedChannels);
        programa.setProcessEnvironment(entornoPirel(configura(QStringLiteral("uno")), servidor.puerto()));
        programa.start(pirel());
        QVERIFY2(EsperaA([this] { return ventanas(QStringLiteral("pirel")).size() == 1; }),
                 "the icon did not appear in the tray");
        const QString icono = ventanas(QStringLiteral("pirel")).first();
        const QImage antes = captura(icono, QStringLiteral("icono-antes.png"));
        QVERIFY(servidor.termina());
        QCOMPARE(servidor.fallos(), QStringList());
        QVERIFY2(EsperaA([&] { return captura(icono, {}) != antes; }), "the picture did not follow the check");
        captura(icono, QStringLiteral("icono-con-correo.png"));

        // Hovering shows the tooltip in a window of its own.
        Orden(QStringLiteral("xdotool"), {"mousemove", "--window", icono, "11", "15"}, x_.entorno());
        EsperaA([this] { return ventanas(QStringLiteral("pirel")).size() > 1; }, 4000);
        capturaPantalla(QStringLiteral("bandeja-consejo.png"));

        Orden(QStringLiteral("xdotool"), {"mousemove", "--window", icono, "11", "15", "click", "3"}, x_.entorno());
        QVERIFY2(EsperaA([this] { return ventanas(QStringLiteral("pirel")).size() > 1; }), "the menu did not open");
        capturaPantalla(QStringLiteral("bandeja-menu.png"));
        Orden(QStringLiteral("xdotool"), {"key", "s"}, x_.entorno());
        QVERIFY2(programa.waitForFinished(10000), "Salir did not end the program");
        QCOMPARE(programa.exitStatus(), QProcess::NormalExit);
        QCOMPARE(programa.exitCode(), 0);
        x_.paraBandeja();
    }

    void bandejaQueLlegaTardeOSeReinicia()
    {
        x_.paraBandeja();
        ServidorGuion servidor({Guion::entrada().stat(0).quit()});
        QProcess programa;
        programa.setProcessChannelMode(QProcess::ForwardedChannels);
        programa.setProcessEnvironment(entornoPirel(configura(QStringLiteral("dos")), servidor.puerto()));
        programa.start(pirel());
        QVERIFY(servidor.termina());
        QVERIFY(arrancaBandeja());
        QVERIFY2(EsperaA([this] { return ventanas(QStringLiteral("pirel")).size() == 1; }),
                 "the icon did not appear when the tray came");
        x_.paraBandeja();
        QVERIFY(arrancaBandeja());
        QVERIFY2(EsperaA([this] { return ventanas(QStringLiteral("pirel")).size() == 1; }),
                 "the icon did not come back when the tray restarted");
        QTest::qWait(500);
        QCOMPARE(ventanas(QStringLiteral("pirel")).size(), 1);
        programa.terminate();
        QVERIFY(programa.waitForFinished(5000));
        x_.paraBandeja();
    }

    void primerArranqueConElDialogo()
    {
        QVERIFY(arrancaBandeja());
        ServidorGuion servidor({Guion::entrada("ana", "clave").stat(1).top(1, "Hola", "Eva").quit()});
        const QString carpeta = dir_.filePath(QStringLiteral("vacia"));
        QDir().mkpath(carpeta);
        QProcess programa;
        programa.setProcessChannelMode(QProcess::ForwardedChannels);
        programa.setProcessEnvironment(entornoPirel(carpeta, servidor.puerto()));
        programa.start(pirel());
        QString dialogo;
        QVERIFY2(EsperaA([&] {
                     dialogo = Orden(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--name", "^Ludaren Electr.*nico$"},
                                     x_.entorno());
                     return !dialogo.isEmpty();
                 }),
                 "the first start shows no configuration dialog");
        QCOMPARE(titulo(dialogo), QStringLiteral("Ludaren Electrónico"));
        QVERIFY2(!Orden(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--name", "^Ayuda de Ludaren"}, x_.entorno())
                      .isEmpty(),
                 "the first start shows no help");
        const auto teclea = [&](const QStringList& argumentos) {
            Orden(QStringLiteral("xdotool"), QStringList{"windowfocus", "--sync", dialogo}, x_.entorno());
            Orden(QStringLiteral("xdotool"), argumentos, x_.entorno());
        };
        teclea({"key", "alt+n"});
        // The focus moves to the name only once the program has handled the key.
        QTest::qWait(800);
        teclea({"type", "--delay", "40", "Casa"});
        teclea({"key", "Tab"});
        teclea({"type", "--delay", "20", "127.0.0.1"});
        teclea({"key", "Tab"});
        teclea({"type", "--delay", "20", "ana"});
        teclea({"key", "Tab"});
        teclea({"type", "--delay", "20", "clave"});
        QTest::qWait(300);
        captura(dialogo, QStringLiteral("dialogo-buzon-nuevo.png"));
        // The scripted server speaks plain POP3: past "Chequear" to the security, "Ninguna",
        // and back to the password, where Ctrl+Tab changes pages (a list keeps it).
        teclea({"key", "Tab", "Tab", "n", "shift+Tab", "shift+Tab"});
        teclea({"key", "alt+d"});
        QTest::qWait(300);
        captura(dialogo, QStringLiteral("dialogo-configuracion.png"));
        teclea({"key", "ctrl+Tab"});
        QTest::qWait(300);
        captura(dialogo, QStringLiteral("dialogo-informacion.png"));
        teclea({"key", "ctrl+shift+Tab"});
        teclea({"key", "alt+a"});
        QVERIFY(servidor.termina());
        QCOMPARE(servidor.fallos(), QStringList());
        QFile registro(carpeta + QStringLiteral("/Ludaren/registro.reg"));
        QVERIFY(registro.open(QIODevice::ReadOnly));
        const QByteArray escrito = registro.readAll();
        QVERIFY2(escrito.contains("\"Buzon1\"=\"Casa\"") && escrito.contains("\"usuario1\"=\"ana\"")
                     && escrito.contains("\"Seguridad1\"=\"Ninguna\"\n\"Puerto1\"=\"110\""),
                 escrito.constData());
        QVERIFY(QFile::exists(carpeta + QStringLiteral("/autostart/ludaren-electronico.desktop")));
        programa.terminate();
        QVERIFY(programa.waitForFinished(5000));
        x_.paraBandeja();
    }

    void avisoDeCorreoNuevo()
    {
        QVERIFY(arrancaBandeja());
        const Guion dos = Guion::entrada().stat(2).top(1, "Hola", "Ana").top(2, "Cena", "Eva").quit();
        const Guion tres = Guion::entrada().stat(3).top(1, "Hola", "Ana").top(2, "Cena", "Eva").top(3, "Ya", "Pio").quit();
        ServidorGuion servidor({dos, tres, tres});
        QProcess programa;
        programa.setProcessChannelMode(QProcess::ForwardedChannels);
        programa.setProcessEnvironment(entornoPirel(configura(QStringLiteral("aviso"), "Si"), servidor.puerto()));
        programa.start(pirel());
        const auto busca = [this](const QString& titulo) {
            return Orden(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--name", titulo}, x_.entorno());
        };
        const auto clic = [this](const QString& ventana, int x, int y, const char* boton) {
            Orden(QStringLiteral("xdotool"),
                  {"mousemove", "--window", ventana, QString::number(x), QString::number(y), "click", boton},
                  x_.entorno());
        };
        QString aviso;
        QVERIFY2(EsperaA([&] { return !(aviso = busca(QStringLiteral("^2 Mensajes$"))).isEmpty(); }),
                 "no notice titled \"2 Mensajes\"");
        QVERIFY2(!aviso.contains(u'\n'), "one notice");
        QCOMPARE(titulo(aviso), QStringLiteral("2 Mensajes"));
        QVERIFY2(foco() != aviso, "the notice took the keyboard");

        // "Chequear Correo Ahora" from the menu, which opens as one more window of the program.
        QString icono;
        for (const QString& v : ventanas(QStringLiteral("pirel")))
            if (v != aviso)
                icono = v;
        QVERIFY(!icono.isEmpty());
        const auto abreMenu = [&] {
            // A click while the program still holds the grab of the menu it closed is lost: once more.
            const qsizetype antes = ventanas(QStringLiteral("pirel")).size();
            for (int intento = 0; intento < 5; ++intento) {
                clic(icono, 11, 15, "3");
                if (EsperaA([&] { return ventanas(QStringLiteral("pirel")).size() > antes; }, 2000))
                    return true;
            }
            return false;
        };
        const auto chequea = [&] {
            if (!abreMenu())
                return false;
            Orden(QStringLiteral("xdotool"), {"key", "a"}, x_.entorno());
            return true;
        };
        // A third message while the notice is open refreshes it, still without the keyboard.
        QVERIFY2(chequea(), "the menu did not open");
        QVERIFY2(EsperaA([&] { return busca(QStringLiteral("^3 Mensajes$")) == aviso; }), "the notice was not refreshed");
        QCOMPARE(titulo(aviso), QStringLiteral("3 Mensajes"));
        QVERIFY2(foco() != aviso, "the refreshed notice took the keyboard");
        QTest::qWait(400); // a few frames of the animation, for the picture
        captura(aviso, QStringLiteral("aviso-compacto.png"));

        clic(aviso, 70, 50, "1");
        QVERIFY2(EsperaA([&] { return busca(QStringLiteral("^Ludaren Electronico: 3 Mensajes$")) == aviso; }),
                 "the click did not widen the notice");
        QCOMPARE(titulo(aviso), QStringLiteral("Ludaren Electronico: 3 Mensajes"));
        QVERIFY2(EsperaA([&] { return captura(aviso, {}).width() == 512; }), "the notice is not half the screen wide");
        captura(aviso, QStringLiteral("aviso-ampliado.png"));

        clic(aviso, 120, 40, "1");
        QVERIFY2(EsperaA([&] { return busca(QStringLiteral("Mensajes")).isEmpty(); }),
                 "a click on the list did not close the notice");

        // The next check finds the same counts: no notice.
        QVERIFY2(chequea(), "the menu did not open");
        QVERIFY(servidor.termina());
        QCOMPARE(servidor.fallos(), QStringList());
        // The check runs in the program's event loop: once the menu opens again it is over.
        QVERIFY2(abreMenu(), "the menu did not open after the check");
        QCOMPARE(busca(QStringLiteral("Mensajes")), QString());
        Orden(QStringLiteral("xdotool"), {"key", "Escape"}, x_.entorno());
        programa.terminate();
        QVERIFY(programa.waitForFinished(5000));
        x_.paraBandeja();
    }

    void sesionWaylandPorXWayland()
    {
        QVERIFY(arrancaBandeja());
        ServidorGuion servidor({Guion::entrada().stat(1).top(1, "Hola", "Ana").quit()});
        QProcessEnvironment e = entornoPirel(configura(QStringLiteral("wayland"), "Si"), servidor.puerto());
        // Qt alone would go for Wayland here, whose compositor is not even there.
        e.remove(QStringLiteral("QT_QPA_PLATFORM"));
        e.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
        e.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("KDE"));
        e.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-sin-compositor"));
        QProcess programa;
        programa.setProcessChannelMode(QProcess::ForwardedChannels);
        programa.setProcessEnvironment(e);
        programa.start(pirel());
        QString aviso;
        QVERIFY2(EsperaA([&] {
                     aviso = Orden(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--name", "^1 Mensajes$"},
                                   x_.entorno());
                     return !aviso.isEmpty();
                 }),
                 "no notice through XWayland");
        QVERIFY(Orden(QStringLiteral("xprop"), {"-id", aviso, "_NET_WM_STATE"}, x_.entorno())
                    .contains(QStringLiteral("_NET_WM_STATE_ABOVE")));
        QVERIFY2(ventanas(QStringLiteral("pirel")).size() == 2, "the icon is not in the tray");
        QVERIFY(servidor.termina());
        programa.terminate();
        QVERIFY(programa.waitForFinished(5000));
        x_.paraBandeja();
    }
};

QTEST_GUILESS_MAIN(TestEscritorio)
#include "test_escritorio.moc"
