// The Debian package, made by CPack from this build as the README's command makes it: its
// files, its computed dependencies, its manual pages, and both programs run from the unpacked tree.
#include "chequeo_consola.h"
#include "servidor_dovecot.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

#include <sys/stat.h>

using pirel::prueba::ServidorDovecot;

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
    QString paquete_, raiz_, control_;
    QStringList ficheros_; // "mode path" of every file, all owned by root

    QString programa(const QString& nombre) const { return raiz_ + QStringLiteral("/usr/bin/") + nombre; }
    QString campo(const QString& nombre) const
    {
        return QRegularExpression(QStringLiteral("^ %1: (.*)$").arg(nombre), QRegularExpression::MultilineOption)
            .match(control_).captured(1).trimmed();
    }

private slots:
    void initTestCase()
    {
        // The package must not depend on the umask of whoever makes it.
        const Salida cpack = ejecuta(QStringLiteral(PIREL_CPACK), {"--config", PIREL_CPACK_CONFIG, "-B", dir_.path()},
                                     {}, QProcessEnvironment::systemEnvironment(), [] { ::umask(077); });
        QVERIFY2(cpack.estado == 0, qPrintable(cpack.salida + cpack.errores));
        const QString arquitectura = ejecuta("dpkg", {"--print-architecture"}).salida.trimmed();
        paquete_ = dir_.filePath(QStringLiteral("pirel_%1_%2.deb").arg(PIREL_VERSION, arquitectura));
        static const QRegularExpression kLinea(QStringLiteral(R"(^(\S+) root/root\s.*? \./(\S*)$)"));
        for (const QString& linea : ejecuta("dpkg-deb", {"-c", paquete_}).salida.split(u'\n', Qt::SkipEmptyParts)) {
            const auto m = kLinea.match(linea);
            QVERIFY2(m.hasMatch(), qPrintable(linea));
            if (m.captured(2).endsWith(u'/'))
                QCOMPARE(m.captured(1), QStringLiteral("drwxr-xr-x"));
            else
                ficheros_ << m.captured(1) + u' ' + m.captured(2);
        }
        control_ = ejecuta("dpkg-deb", {"-I", paquete_}).salida;
        QCOMPARE(campo("Architecture"), arquitectura);
        QCOMPARE(campo("Version"), QStringLiteral(PIREL_VERSION));
        raiz_ = QFileInfo(dir_.filePath(QStringLiteral("raiz"))).absoluteFilePath();
        QCOMPARE(ejecuta("dpkg-deb", {"-x", paquete_, raiz_}).estado, 0);
    }

    void ficheros()
    {
        const QString x = QStringLiteral("-rwxr-xr-x "), r = QStringLiteral("-rw-r--r-- usr/share/");
        QStringList esperados{x + "usr/bin/pirel", x + "usr/bin/pirel-chequeo", "-rw-r--r-- usr/lib/pirel/libAPOP.so",
                              r + "pirel/ayuda.html", r + "pirel/pirel01.rcc", r + "pirel/spirel.wav",
                              r + "applications/ludaren-electronico.desktop",
                              r + "icons/hicolor/scalable/apps/ludaren-electronico.svg",
                              r + "metainfo/ludaren-electronico.metainfo.xml", r + "man/man1/pirel.1.gz",
                              r + "man/man1/pirel-chequeo.1.gz", r + "doc/pirel/copyright", r + "doc/pirel/changelog.gz"};
        esperados.sort();
        ficheros_.sort();
        QCOMPARE(ficheros_, esperados);
    }

    void dependencias_data()
    {
        QTest::addColumn<QString>("paquete");
        QTest::addColumn<bool>("conVersion"); // computed by dpkg-shlibdeps from the binaries
        for (const char* biblioteca : {"libc6", "libqt6widgets6", "libqt6svg6", "libcanberra0", "libssl3", "libqt6dbus6",
                                       "libqt6network6"})
            QTest::newRow(biblioteca) << biblioteca << true;
        QTest::newRow("sound theme, loaded at run time") << "sound-theme-freedesktop" << false;
    }

    // Named once (Qt SVG also holds the plugins), each a real package this machine has installed.
    void dependencias()
    {
        QFETCH(QString, paquete);
        QFETCH(bool, conVersion);
        // Debian 13 renamed some libraries with a t64 suffix.
        const QStringList estas =
            campo("Depends").split(QStringLiteral(", ")).filter(QRegularExpression(QStringLiteral("^%1(t64)?( |$)").arg(paquete)));
        QVERIFY2(estas.size() == 1, qPrintable(campo("Depends")));
        QCOMPARE(estas.first().contains(QStringLiteral(" (>= ")), conVersion);
        QCOMPARE(ejecuta("dpkg-query", {"-W", estas.first().section(u' ', 0, 0)}).estado, 0);
    }

    void versiones_data()
    {
        QTest::addColumn<QString>("nombre");
        QTest::newRow("pirel") << "pirel";
        QTest::newRow("pirel-chequeo") << "pirel-chequeo";
    }

    // The unpacked programs run, and each manual page renders cleanly and states what
    // --version prints and every option --help lists.
    void versiones()
    {
        QFETCH(QString, nombre);
        const QString version = pirel::TextoVersion(nombre);
        const Salida s = ejecuta(programa(nombre), {"--version"});
        QCOMPARE(s.estado, 0);
        QCOMPARE(s.salida, version + u'\n');
        auto entorno = QProcessEnvironment::systemEnvironment();
        entorno.insert("LC_ALL", "C.UTF-8");
        entorno.insert("MANWIDTH", "200");
        const Salida man = ejecuta("man", {"--warnings", "-E", "UTF-8", "-l", "-Tutf8",
                                           raiz_ + QStringLiteral("/usr/share/man/man1/%1.1.gz").arg(nombre)}, {}, entorno);
        QCOMPARE(man.estado, 0);
        QCOMPARE(man.errores, QString());
        // Bold and underlined letters come as overstrikes, hyphens as U+2010.
        const QString texto =
            QString(man.salida).remove(QRegularExpression(QStringLiteral(".\\x08"))).replace(QChar(0x2010), u'-');
        QVERIFY2(texto.contains(version), qPrintable(version));
        const QString ayuda =
            nombre == u"pirel" ? QStringLiteral("--version") : ejecuta(programa(nombre), {"--help"}).salida;
        for (const auto& m : QRegularExpression(QStringLiteral("--[a-z]+")).globalMatch(ayuda))
            QVERIFY2(texto.contains(m.captured()), qPrintable(m.captured()));
    }

    // libAPOP.so is found through the unpacked program's RUNPATH, nowhere else.
    void chequeoContraDovecot()
    {
        QVERIFY2(ServidorDovecot::disponible(), "dovecot-pop3d is missing: run tools/instalar");
        ServidorDovecot servidor;
        servidor.agregaUsuario("ana", "secreta",
                               {{"Reunión del lunes", "Ana Pérez <ana@ejemplo.org>"}, {"Factura", "f@ejemplo.org"}});
        QString error;
        QVERIFY2(servidor.arranca(&error), qPrintable(error));
        const Salida s = ejecuta(programa("pirel-chequeo"),
                                 {"--buzones", "-", "--puerto", QString::number(servidor.puerto()), "--espera", "10"},
                                 "Casa\t127.0.0.1\tana\tsecreta\n");
        QCOMPARE(s.errores, QString());
        QCOMPARE(s.salida.split(u'\n'), (QStringList{"Casa => Reunión del lunes: Ana Pérez",
                                                     "Casa => Factura: f@ejemplo.org", "2 Mensajes", ""}));
        QCOMPARE(s.estado, 0);
    }

    // A first start writes the log-on entry with the program's own path: /usr/bin/pirel once installed.
    void entradaDeInicio()
    {
        QTemporaryDir configuracion;
        auto entorno = QProcessEnvironment::systemEnvironment();
        entorno.insert("XDG_CONFIG_HOME", configuracion.path());
        entorno.insert("QT_QPA_PLATFORM", "offscreen");
        QProcess pirel;
        pirel.setProcessEnvironment(entorno);
        pirel.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        pirel.start(programa("pirel"), {});
        QFile entrada(configuracion.filePath("autostart/ludaren-electronico.desktop"));
        QTRY_VERIFY_WITH_TIMEOUT(entrada.exists(), 30000);
        pirel.kill();
        pirel.waitForFinished();
        QVERIFY(entrada.open(QIODevice::ReadOnly));
        const QString exec = QStringLiteral("\nExec=\"%1\"\n").arg(QFileInfo(programa("pirel")).canonicalFilePath());
        QVERIFY2(QString::fromUtf8(entrada.readAll()).contains(exec), qPrintable(exec));
    }

    void lintian()
    {
        const Salida s = ejecuta("lintian", {"--fail-on", "error", paquete_});
        QVERIFY2(s.estado == 0, qPrintable(s.salida + s.errores));
    }
};

QTEST_GUILESS_MAIN(TestPaquete)
#include "test_paquete.moc"
