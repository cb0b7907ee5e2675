// The Debian package CPack makes from this build, as the README does: its files, dependencies, manual pages and programs.
#include "chequeo_consola.h"
#include "servidor_dovecot.h"

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <sys/stat.h>

namespace {

struct Salida {
    int estado = -1;
    QString salida, errores;
};

Salida ejecuta(const QString& programa, const QStringList& argumentos, const QByteArray& entrada = {},
               const QProcessEnvironment& entorno = QProcessEnvironment::systemEnvironment(),
               const std::function<void()>& enElHijo = {})
{
    QProcess p;
    p.setProcessEnvironment(entorno);
    p.setChildProcessModifier(enElHijo);
    p.start(programa, argumentos);
    if (!p.waitForStarted())
        return {-1, {}, programa + QStringLiteral(": no se pudo ejecutar (tools/instalar)")};
    p.write(entrada);
    p.closeWriteChannel();
    if (!p.waitForFinished(240000))
        return {-1, {}, programa + QStringLiteral(": no terminó")};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

}

class TestPaquete : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString paquete_, raiz_ = dir_.filePath(QStringLiteral("raiz"));
    QStringList depende_;
    QString programa(const QString& nombre) const { return raiz_ + QStringLiteral("/usr/bin/") + nombre; }

private slots:
    void initTestCase()
    {
        // The package must not depend on the umask of whoever makes it; its name tells the version and architecture.
        const Salida cpack = ejecuta(QStringLiteral(PIREL_CPACK), {"--config", PIREL_CPACK_CONFIG, "-B", dir_.path()},
                                     {}, QProcessEnvironment::systemEnvironment(), [] { ::umask(077); });
        QVERIFY2(cpack.estado == 0, qPrintable(cpack.salida + cpack.errores));
        paquete_ = dir_.filePath("pirel_" PIREL_VERSION "_" + ejecuta("dpkg", {"--print-architecture"}).salida.trimmed() + ".deb");
        depende_ = QRegularExpression(QStringLiteral("^ Depends: (.*)$"), QRegularExpression::MultilineOption)
                       .match(ejecuta("dpkg-deb", {"-I", paquete_}).salida).captured(1).split(QStringLiteral(", "));
        QCOMPARE(ejecuta("dpkg-deb", {"-x", paquete_, raiz_}).estado, 0);
    }

    // Each file's mode and path, all owned by root, folders drwxr-xr-x; and nothing lintian calls an error.
    void contenido()
    {
        QStringList ficheros;
        for (const QString& linea : ejecuta("dpkg-deb", {"-c", paquete_}).salida.split(u'\n', Qt::SkipEmptyParts)) {
            const auto m = QRegularExpression(QStringLiteral(R"(^(\S+) root/root\s.*? \./(\S*)$)")).match(linea);
            QVERIFY2(m.hasMatch() && (!m.captured(2).endsWith(u'/') || m.captured(1) == u"drwxr-xr-x"), qPrintable(linea));
            if (!m.captured(2).endsWith(u'/'))
                ficheros << m.captured(1) + u' ' + m.captured(2);
        }
        ficheros.sort();
        const QString r = QStringLiteral("-rw-r--r-- usr/"), s = r + "share/", x = QStringLiteral("-rwxr-xr-x usr/bin/");
        QCOMPARE(ficheros, (QStringList{r + "lib/pirel/libAPOP.so", s + "applications/ludaren-electronico.desktop",
                 s + "doc/pirel/changelog.gz", s + "doc/pirel/copyright", s + "icons/hicolor/scalable/apps/ludaren-electronico.svg",
                 s + "man/man1/pirel-chequeo.1.gz", s + "man/man1/pirel.1.gz", s + "metainfo/ludaren-electronico.metainfo.xml",
                 s + "pirel/ayuda.html", s + "pirel/pirel01.rcc", s + "pirel/spirel.wav", x + "pirel", x + "pirel-chequeo"}));
        const Salida lintian = ejecuta("lintian", {"--fail-on", "error", paquete_});
        QVERIFY2(lintian.estado == 0, qPrintable(lintian.salida + lintian.errores));
    }

    void dependencias_data()
    {
        QTest::addColumn<QString>("paquete");
        for (const char* paquete : {"libc6", "libqt6widgets6", "libqt6svg6", "libcanberra0", "libssl3", "libqt6dbus6",
                                    "libqt6network6", "sound-theme-freedesktop"})
            QTest::newRow(paquete) << paquete;
    }
    // Named once (Qt SVG also holds the plugins), each a real package this machine has installed; the libraries'
    // versions computed by dpkg-shlibdeps, the sound theme's none. Debian 13 renamed some with a t64 suffix.
    void dependencias()
    {
        QFETCH(QString, paquete);
        const QStringList estas = depende_.filter(QRegularExpression("^" + paquete + "(t64)?( |$)"));
        QVERIFY2(estas.size() == 1, qPrintable(depende_.join(", ")));
        QCOMPARE(estas.first().contains(" (>= "), paquete.startsWith("lib"));
        QCOMPARE(ejecuta("dpkg-query", {"-W", estas.first().section(u' ', 0, 0)}).estado, 0);
    }

    // The unpacked programs run, and each manual page renders cleanly and states what
    // --version prints and every option --help lists.
    void versiones()
    {
        for (const QString nombre : {"pirel", "pirel-chequeo"}) {
            const QString version = pirel::TextoVersion(nombre);
            const Salida s = ejecuta(programa(nombre), {"--version"});
            QCOMPARE(QString::number(s.estado) + u' ' + s.salida, "0 " + version + u'\n');
            const Salida man = ejecuta("env", {"LC_ALL=C.UTF-8", "MANWIDTH=200", "man", "--warnings", "-E", "UTF-8", "-l",
                                               "-Tutf8", raiz_ + "/usr/share/man/man1/" + nombre + ".1.gz"});
            QVERIFY2(man.estado == 0 && man.errores.isEmpty(), qPrintable(man.errores));
            // Bold and underlined letters come as overstrikes, hyphens as U+2010.
            const QString texto = QString(man.salida).remove(QRegularExpression(".\\x08")).replace(QChar(0x2010), u'-');
            const QString ayuda = nombre == u"pirel" ? QStringLiteral("--version") : ejecuta(programa(nombre), {"--help"}).salida;
            QVERIFY2(texto.contains(version), qPrintable(version));
            for (const auto& m : QRegularExpression(QStringLiteral("--[a-z]+")).globalMatch(ayuda))
                QVERIFY2(texto.contains(m.captured()), qPrintable(m.captured()));
        }
    }

    // libAPOP.so is found through the unpacked program's RUNPATH, nowhere else.
    void chequeoContraDovecot()
    {
        pirel::prueba::ServidorDovecot servidor;
        servidor.agregaUsuario("ana", "secreta",
                               {{"Reunión del lunes", "Ana Pérez <ana@ejemplo.org>"}, {"Factura", "f@ejemplo.org"}});
        QString error = QStringLiteral("dovecot-pop3d is missing: run tools/instalar");
        QVERIFY2(pirel::prueba::ServidorDovecot::disponible() && servidor.arranca(&error), qPrintable(error));
        const Salida s = ejecuta(programa("pirel-chequeo"), {"--buzones", "-", "--puerto", QString::number(servidor.puerto()),
                                 "--espera", "10"}, "Casa\t127.0.0.1\tana\tsecreta\n");
        QCOMPARE(s.errores + s.salida + QString::number(s.estado),
                 "Casa => Reunión del lunes: Ana Pérez\nCasa => Factura: f@ejemplo.org\n2 Mensajes\n0");
    }

    // A first start writes the log-on entry with the program's own path: /usr/bin/pirel once installed.
    void entradaDeInicio()
    {
        QTemporaryDir configuracion;
        QProcess pirel;
        pirel.start("env", {"XDG_CONFIG_HOME=" + configuracion.path(), programa("pirel")});
        const QByteArray exec = "\nExec=\"" + QFileInfo(programa("pirel")).canonicalFilePath().toUtf8() + "\"\n";
        QFile entrada(configuracion.filePath("autostart/ludaren-electronico.desktop"));
        QTRY_VERIFY2_WITH_TIMEOUT((entrada.close(), entrada.open(QIODevice::ReadOnly)) && entrada.readAll().contains(exec),
                                  exec.constData(), 30000); // read again: the first look may come while it is written
        pirel.kill();
        pirel.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(TestPaquete)
#include "test_paquete.moc"
