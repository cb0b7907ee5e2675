// The Debian package CPack makes from this build, as the README does: its files, dependencies, manual pages and programs.
#include "chequeo_consola.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

// A program's exit code (-1 when it did not end by itself) and everything it printed.
static std::pair<int, QString> Ejecuta(const QString& programa, const QStringList& argumentos, const QByteArray& entrada = {})
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(programa, argumentos);
    p.write(entrada);
    p.closeWriteChannel();
    const bool hecho = p.waitForFinished(240000) && p.exitStatus() == QProcess::NormalExit;
    return {hecho ? p.exitCode() : -1, QString::fromUtf8(p.readAll()) + (hecho ? "" : programa + ": " + p.errorString())};
}

class TestPaquete : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QString paquete_, raiz_ = dir_.filePath("raiz");
    QStringList depende_;
    QString programa(const QString& nombre) const { return raiz_ + "/usr/bin/" + nombre; }

private slots:
    // The package must not depend on the umask of whoever makes it; its name tells the version and architecture.
    void initTestCase()
    {
        const auto [estado, cpack] =
            Ejecuta("sh", {"-c", "umask 077 && exec \"$0\" \"$@\"", PIREL_CPACK, "--config", PIREL_CPACK_CONFIG, "-B", dir_.path()});
        QVERIFY2(estado == 0, qPrintable(cpack));
        paquete_ = dir_.filePath("pirel_" PIREL_VERSION "_" + Ejecuta("dpkg", {"--print-architecture"}).second.trimmed() + ".deb");
        depende_ = Ejecuta("dpkg-deb", {"-f", paquete_, "Depends"}).second.trimmed().split(", ");
        QCOMPARE(Ejecuta("dpkg-deb", {"-x", paquete_, raiz_}).first, 0);
    }

    // Each file's mode and path, all owned by root, folders drwxr-xr-x; and nothing lintian calls an error.
    void contenido()
    {
        QStringList ficheros;
        for (const QString& linea : Ejecuta("dpkg-deb", {"-c", paquete_}).second.split(u'\n', Qt::SkipEmptyParts)) {
            const auto m = QRegularExpression(R"(^(\S+) root/root\s.*? \./(\S*)$)").match(linea);
            QVERIFY2(m.hasMatch() && (!m.captured(2).endsWith(u'/') || m.captured(1) == u"drwxr-xr-x"), qPrintable(linea));
            if (!m.captured(2).endsWith(u'/'))
                ficheros << m.captured(1) + u' ' + m.captured(2);
        }
        ficheros.sort();
        const QString r = "-rw-r--r-- usr/", s = r + "share/", x = "-rwxr-xr-x usr/bin/";
        QCOMPARE(ficheros, (QStringList{r + "lib/pirel/libAPOP.so", s + "applications/ludaren-electronico.desktop",
                 s + "doc/pirel/changelog.gz", s + "doc/pirel/copyright", s + "icons/hicolor/scalable/apps/ludaren-electronico.svg",
                 s + "man/man1/pirel-chequeo.1.gz", s + "man/man1/pirel.1.gz", s + "metainfo/ludaren-electronico.metainfo.xml",
                 s + "pirel/ayuda.html", s + "pirel/pirel01.rcc", s + "pirel/spirel.wav", x + "pirel", x + "pirel-chequeo"}));
        const auto [estado, lintian] = Ejecuta("lintian", {"--fail-on", "error", paquete_});
        QVERIFY2(estado == 0, qPrintable(lintian));
    }

    // Each named once (Qt SVG also holds the plugins), a real package this machine has installed; the libraries'
    // versions computed by dpkg-shlibdeps, the sound theme's none. Debian 13 renamed some with a t64 suffix.
    void dependencias()
    {
        for (const QString paquete : {"libc6", "libqt6widgets6", "libqt6svg6", "libcanberra0", "libssl3", "libqt6dbus6",
                                      "libqt6network6", "sound-theme-freedesktop"}) {
            const QStringList estas = depende_.filter(QRegularExpression("^" + paquete + "(t64)?( |$)"));
            QVERIFY2(estas.size() == 1 && estas[0].contains(" (>= ") == paquete.startsWith("lib")
                         && Ejecuta("dpkg-query", {"-W", estas[0].section(u' ', 0, 0)}).first == 0,
                     qPrintable(paquete + " in " + depende_.join(", ")));
        }
    }

    // The unpacked programs run, and each manual page renders without a warning and states what
    // --version prints and every option --help lists.
    void versiones()
    {
        for (const QString nombre : {"pirel", "pirel-chequeo"}) {
            const QString version = pirel::TextoVersion(nombre);
            QCOMPARE(Ejecuta(programa(nombre), {"--version"}), std::pair(0, version + u'\n'));
            const auto [estado, man] = Ejecuta("env", {"LC_ALL=C.UTF-8", "MANWIDTH=200", "man", "--warnings", "-E", "UTF-8", "-l",
                                                       "-Tutf8", raiz_ + "/usr/share/man/man1/" + nombre + ".1.gz"});
            // Bold and underlined letters come as overstrikes, hyphens as U+2010.
            const QString texto = QString(man).remove(QRegularExpression(".\\x08")).replace(QChar(0x2010), u'-');
            QVERIFY2(estado == 0 && !texto.contains("warning:") && texto.contains(version), qPrintable(texto));
            const QString ayuda = nombre == u"pirel" ? "" : Ejecuta(programa(nombre), {"--help"}).second;
            for (const auto& m : QRegularExpression("--[a-z]+").globalMatch(ayuda + " --version"))
                QVERIFY2(texto.contains(m.captured()), qPrintable(m.captured()));
        }
    }

    // libAPOP.so is found through the unpacked program's RUNPATH, nowhere else: a check gets as far as the server.
    void biblioteca()
    {
        const auto [estado, texto] = Ejecuta(programa("pirel-chequeo"), {"--buzones", "-", "--puerto", "1"}, "Casa\t127.0.0.1\tana\tx\n");
        QVERIFY2(estado == 2 && texto.contains("Error en Conexion"), qPrintable(texto));
    }
};

QTEST_GUILESS_MAIN(TestPaquete)
#include "test_paquete.moc"
