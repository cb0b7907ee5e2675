// The registry file on disk: its format, the Windows export forms, damage, and crashes.
#include "ansi.h"
#include "error_almacen.h"
#include "reg_ini.h"
#include "registro.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace pirel;

namespace {

QByteArray contenido(const QString& fichero)
{
    QFile f(fichero);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void pon(const QString& fichero, const QByteArray& datos)
{
    QDir().mkpath(QFileInfo(fichero).absolutePath());
    QFile f(fichero);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(datos);
}

QString textoDeError(const std::function<void()>& f)
{
    try {
        f();
    } catch (const ErrorAlmacen& e) {
        return e.texto();
    }
    return {};
}

// Runs `f` in a child process and returns what it gave back; limits and mounts set in
// the child die with it. The wait is bounded.
QByteArray enHijo(const std::function<QByteArray()>& f)
{
    int tubo[2];
    if (::pipe2(tubo, O_CLOEXEC) != 0)
        return "pipe2: " + QByteArray(std::strerror(errno));
    const pid_t hijo = ::fork();
    if (hijo == 0) {
        ::close(tubo[0]);
        QByteArray r;
        try {
            r = f();
        } catch (...) {
            r = "unexpected exception";
        }
        for (qsizetype hecho = 0; hecho < r.size();) {
            const ssize_t n = ::write(tubo[1], r.constData() + hecho, static_cast<size_t>(r.size() - hecho));
            if (n <= 0)
                break;
            hecho += n;
        }
        ::_exit(0);
    }
    ::close(tubo[1]);
    QByteArray salida;
    QDeadlineTimer plazo(20000);
    for (;;) {
        pollfd p{tubo[0], POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(qMax<qint64>(0, plazo.remainingTime()))) <= 0) {
            ::kill(hijo, SIGKILL);
            salida += "\n(the child did not finish)";
            break;
        }
        char buf[4096];
        const ssize_t n = ::read(tubo[0], buf, sizeof buf);
        if (n <= 0)
            break;
        salida.append(buf, n);
    }
    ::close(tubo[0]);
    ::waitpid(hijo, nullptr, 0);
    return salida;
}

QStringList enCarpeta(const QString& carpeta)
{
    return QDir(carpeta).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// The temporary files a write leaves when it fails halfway (registro.reg.XXXXXX).
QStringList temporales(const QString& carpeta)
{
    QStringList r = enCarpeta(carpeta).filter(QStringLiteral("registro.reg."));
    r.removeAll(QStringLiteral("registro.reg.lock"));
    return r;
}

// Settings are written, then `llena` leaves no room for more (false: it could not), and
// three changes that do not fit are tried. The answer, a line each: what the store's
// change, a changed value and a new key reported, whether the file kept its bytes, and
// what the folder holds.
QByteArray escriturasQueNoCaben(const QString& fichero, const std::function<bool()>& llena)
{
    Registro r(fichero);
    TRegIniFile ini(r, QStringLiteral("Software\\Ludaren"));
    ini.WriteString(QStringLiteral("Configuracion"), QStringLiteral("frecuencia"), "5");
    ini.WriteString(QStringLiteral("Version"), QStringLiteral("Numero"), "2.0");
    const QByteArray antes = contenido(fichero);
    if (!llena())
        return "no room could not be made";
    const QByteArray grande(64 * 1024, 'g');
    QStringList informe;
    try {
        r.modifica([&](ArchivoRegistro& a) {
            a.busca(QStringLiteral("HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion"))
                ->pon({QStringLiteral("Grande"), REG_SZ, grande});
            return true;
        });
        informe << QStringLiteral("written");
    } catch (const ErrorEscritura& e) {
        informe << e.texto();
    }
    informe << textoDeError([&] { ini.WriteString(QStringLiteral("Configuracion"), QStringLiteral("Grande"), grande); });
    informe << textoDeError([&] { ini.WriteString(QStringLiteral("Nueva"), QStringLiteral("Grande"), grande); });
    informe << (contenido(fichero) == antes && !antes.isEmpty() ? QStringLiteral("same bytes") : QStringLiteral("changed"));
    informe << enCarpeta(QFileInfo(fichero).absolutePath()).join(u',');
    return informe.join(u'\n').toUtf8();
}

QByteArray esperadoSinSitio(int error)
{
    return QStringList{QString::fromLocal8Bit(std::strerror(error)), QStringLiteral("Failed to set data for 'Grande'"),
                       QStringLiteral("Failed to create key Nueva"), QStringLiteral("same bytes"),
                       QStringLiteral("registro.reg,registro.reg.lock")}
        .join(u'\n')
        .toUtf8();
}

// The settings file as the program writes it, and the same settings as Windows exports
// them in UTF-16; both end in lines of every kind.
QByteArray ficheroValido()
{
    return "Windows Registry Editor Version 5.00\n\n"
           "[HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion]\n"
           "\"frecuencia\"=\"5\"\n"
           "\"Titulo\"=\"Electr\xC3\xB3nico \xE2\x82\xAC\"\n"
           "\"Dos lineas\"=hex(1):61,00,0d,00,0a,00,62,00,00,00\n"
           "\"Numero\"=dword:0000000a\n\n"
           "[HKEY_CURRENT_USER\\Software\\Ludaren\\Version]\n"
           "\"Numero\"=\"2.0\"\n\n";
}

QByteArray enUtf16(const QByteArray& utf8)
{
    QByteArray r("\xFF\xFE");
    const QString texto = QString::fromUtf8(utf8).replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    for (const QChar c : texto)
        r.append(static_cast<char>(c.unicode() & 0xFF)).append(static_cast<char>(c.unicode() >> 8));
    return r;
}

// The bytes up to the first `marca`, plus `mas` bytes of it.
QByteArray hasta(const QByteArray& datos, const QByteArray& marca, qsizetype mas)
{
    const qsizetype donde = datos.indexOf(marca);
    return donde < 0 ? QByteArray() : datos.left(donde + mas);
}

}

class TestRegistro : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString fichero() const { return dir_.filePath(QStringLiteral("Ludaren/registro.reg")); }

private slots:
    void init() { QDir(dir_.filePath(QStringLiteral("Ludaren"))).removeRecursively(); }

    void bytesExactosEnDisco()
    {
        Registro r(fichero());
        TRegIniFile ini(r, QStringLiteral("Software\\Ludaren"));
        ini.WriteString(QStringLiteral("Configuracion"), QStringLiteral("frecuencia"), "5");
        ini.WriteString(QStringLiteral("Configuracion"), QStringLiteral("Gestor de Correo"), "C:\\Archivos \"de\" programa");
        ini.WriteString(QStringLiteral("Configuracion"), QStringLiteral("Fichero Wav"), "");
        ini.WriteString(QStringLiteral("Version"), QStringLiteral("Numero"), "2.0");
        ini.WriteString(QStringLiteral("Configuracion"), QStringLiteral("Titulo"), ansi::deTexto(QStringLiteral("Electrónico €")));
        ini.WriteString(QStringLiteral("Configuracion"), QStringLiteral("Dos lineas"), "a\r\nb");
        QCOMPARE(contenido(fichero()),
                 QByteArray("Windows Registry Editor Version 5.00\n\n"
                            "[HKEY_CURRENT_USER\\Software]\n\n"
                            "[HKEY_CURRENT_USER\\Software\\Ludaren]\n\n"
                            "[HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion]\n"
                            "\"frecuencia\"=\"5\"\n"
                            "\"Gestor de Correo\"=\"C:\\\\Archivos \\\"de\\\" programa\"\n"
                            "\"Fichero Wav\"=\"\"\n"
                            "\"Titulo\"=\"Electrónico €\"\n"
                            "\"Dos lineas\"=hex(1):61,00,0d,00,0a,00,62,00,00,00\n\n"
                            "[HKEY_CURRENT_USER\\Software\\Ludaren\\Version]\n"
                            "\"Numero\"=\"2.0\"\n\n"));
        QCOMPARE(ini.ReadString(QStringLiteral("Configuracion"), QStringLiteral("Titulo"), "x"), QByteArray("Electr\xF3nico \x80"));
        QCOMPARE(ini.ReadString(QStringLiteral("Configuracion"), QStringLiteral("Dos lineas"), "x"), QByteArray("a\r\nb"));
        QCOMPARE(ini.ReadString(QStringLiteral("Configuracion"), QStringLiteral("Gestor de Correo"), "x"),
                 QByteArray("C:\\Archivos \"de\" programa"));
        QCOMPARE(ini.ReadString(QStringLiteral("Configuracion"), QStringLiteral("Fichero Wav"), "x"), QByteArray(""));
        QCOMPARE(ini.ReadString(QStringLiteral("Nada"), QStringLiteral("frecuencia"), "Error"), QByteArray("Error"));

        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(fichero()).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0600u);
        QCOMPARE(QDir(dir_.filePath(QStringLiteral("Ludaren"))).entryList(QDir::Files),
                 (QStringList{"registro.reg", "registro.reg.lock"}));
    }

    void nombresSinDistinguirMayusculas()
    {
        Registro r(fichero());
        TRegIniFile ini(r, QStringLiteral("Software\\Ludaren"));
        ini.WriteString(QStringLiteral("Configuracion"), QStringLiteral("Codigo"), "AA");
        TRegIniFile otra(r, QStringLiteral("SOFTWARE\\ludaren\\configuracion"));
        QCOMPARE(otra.ReadString(QString(), QStringLiteral("CODIGO"), "Error"), QByteArray("AA"));
        otra.WriteString(QString(), QStringLiteral("codigo"), "BB");
        QVERIFY2(contenido(fichero()).contains("[HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion]\n\"Codigo\"=\"BB\""),
                 "names keep the case they were first written with");
        otra.DeleteKey(QStringLiteral("ignorada"), QStringLiteral("cOdIgO"));
        QCOMPARE(ini.ReadString(QStringLiteral("Configuracion"), QStringLiteral("Codigo"), "Error"), QByteArray("Error"));
        ini.EraseSection(QStringLiteral("CONFIGURACION"));
        QVERIFY(!contenido(fichero()).contains("Configuracion"));
    }

    void tiposDeValor()
    {
        pon(fichero(), "Windows Registry Editor Version 5.00\r\n\r\n"
                       "[HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion]\r\n"
                       "\"frecuencia\"=dword:0000000a\r\n"
                       "\"Expandible\"=hex(2):25,00,48,00,4f,00,4d,00,45,00,25,00,00,00\r\n"
                       "\"Lista\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
                       "\"Binario\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\r\n"
                       "  17,18,19,1a\r\n"
                       "\"ConCero\"=hex(1):61,00,00,00,62,00,00,00\r\n"
                       "@=\"por defecto\"\r\n");
        Registro r(fichero());
        TRegIniFile ini(r, QStringLiteral("Software\\Ludaren"));
        const QString c = QStringLiteral("Configuracion");
        QCOMPARE(textoDeError([&] { (void)ini.ReadString(c, QStringLiteral("frecuencia"), "x"); }),
                 QStringLiteral("Invalid data type for 'frecuencia'"));
        QCOMPARE(textoDeError([&] { (void)ini.ReadString(c, QStringLiteral("Lista"), "x"); }),
                 QStringLiteral("Invalid data type for 'Lista'"));
        QCOMPARE(ini.ReadString(c, QStringLiteral("Expandible"), "x"), QByteArray("%HOME%"));
        QCOMPARE(ini.ReadString(c, QStringLiteral("ConCero"), "x"), QByteArray("a"));
        QCOMPARE(ini.ReadString(c, QString(), "x"), QByteArray("por defecto"));

        // A write keeps every value it does not touch, in the form it was read.
        ini.WriteString(c, QStringLiteral("Animacion"), "Si");
        const QByteArray escrito = contenido(fichero());
        QVERIFY(escrito.contains("\"frecuencia\"=dword:0000000a\n"));
        QVERIFY(escrito.contains("\"Lista\"=hex(7):61,00,00,00,62,00,00,00,00,00\n"));
        QByteArray binario;
        for (char b = 0; b <= 0x1a; ++b)
            binario.append(b);
        ArchivoRegistro releido = ArchivoRegistro::lee(escrito, QString());
        QCOMPARE(releido.busca(QStringLiteral("HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion"))
                     ->valor(QStringLiteral("Binario"))->datos, binario);
        QVERIFY(escrito.contains("\"Expandible\"=hex(2):25,00,48,00,4f,00,4d,00,45,00,25,00,00,00\n"));
        QVERIFY(escrito.contains("@=\"por defecto\"\n\"Animacion\"=\"Si\"\n"));
        QCOMPARE(ArchivoRegistro::lee(escrito, QString()).escribe(), escrito);
    }

    void exportacionesDeWindows()
    {
        const QString texto = QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n"
                                             "[HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion]\r\n"
                                             "\"Gestor de Correo\"=\"C:\\\\Archivos de programa\\\\Correo.exe\"\r\n"
                                             "\"Nombre\"=\"Ñandú\"\r\n");
        QByteArray utf16("\xFF\xFE");
        for (const QChar c : texto)
            utf16.append(static_cast<char>(c.unicode() & 0xFF)).append(static_cast<char>(c.unicode() >> 8));
        pon(fichero(), utf16);
        Registro r(fichero());
        TRegIniFile ini(r, QStringLiteral("Software\\Ludaren"));
        QCOMPARE(ini.ReadString(QStringLiteral("Configuracion"), QStringLiteral("Gestor de Correo"), "x"),
                 QByteArray("C:\\Archivos de programa\\Correo.exe"));
        QCOMPARE(ini.ReadString(QStringLiteral("Configuracion"), QStringLiteral("Nombre"), "x"), QByteArray("\xD1" "and\xFA"));

        pon(fichero(), "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Ludaren\\Version]\r\n\"Numero\"=\"1.3\"\r\n"
                       "\"Dueno\"=\"Pe\xF1" "a\"\r\n\"Largo\"=hex(2):61,62,00\r\n");
        QCOMPARE(ini.ReadString(QStringLiteral("Version"), QStringLiteral("Numero"), "x"), QByteArray("1.3"));
        QCOMPARE(ini.ReadString(QStringLiteral("Version"), QStringLiteral("Dueno"), "x"), QByteArray("Pe\xF1" "a"));
        QCOMPARE(ini.ReadString(QStringLiteral("Version"), QStringLiteral("Largo"), "x"), QByteArray("ab"));
        ini.WriteString(QStringLiteral("Version"), QStringLiteral("Numero"), "2.0");
        QVERIFY2(contenido(fichero()).startsWith("Windows Registry Editor Version 5.00\n"), "rewritten as UTF-8");
        QVERIFY(contenido(fichero()).contains("\"Dueno\"=\"Peña\""));
    }

    void ficheroDanadoNoSeSobrescribe_data()
    {
        QTest::addColumn<QByteArray>("datos");
        QTest::addColumn<QString>("motivo");
        QTest::newRow("no header") << QByteArray("[HKEY_CURRENT_USER\\Software]\n") << QStringLiteral("(línea 1)");
        QTest::newRow("unclosed key") << QByteArray("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\n")
                                      << QStringLiteral("(línea 3): clave mal cerrada");
        QTest::newRow("value before any key") << QByteArray("REGEDIT4\n\"a\"=\"b\"\n") << QStringLiteral("(línea 2)");
        QTest::newRow("unclosed text")
            << QByteArray("Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n\"a\"=\"b\n")
            << QStringLiteral("(línea 3): texto mal cerrado");
        QTest::newRow("bad hex") << QByteArray("REGEDIT4\n[A]\n\n\"a\"=hex:0g\n") << QStringLiteral("(línea 4)");
        QTest::newRow("bad dword") << QByteArray("REGEDIT4\n[A]\n\"a\"=dword:123456789\n") << QStringLiteral("(línea 3)");
        QTest::newRow("invalid UTF-8") << QByteArray("Windows Registry Editor Version 5.00\n[A]\n\"a\"=\"\xC3\x28\"\n")
                                       << QStringLiteral("(línea 3): el texto no es UTF-8");
        QTest::newRow("odd UTF-16") << QByteArray("\xFF\xFE" "R\0E\0G", 7) << QStringLiteral("número impar de bytes");
    }
    void ficheroDanadoNoSeSobrescribe()
    {
        QFETCH(QByteArray, datos);
        QFETCH(QString, motivo);
        pon(fichero(), datos);
        Registro r(fichero());
        const QString error = textoDeError([&] { GrabaEnRegistro(r); });
        QVERIFY2(error.contains(motivo) && error.contains(fichero()), qPrintable(error));
        QCOMPARE(contenido(fichero()), datos);
        QCOMPARE(textoDeError([&] { (void)r.lee(); }), error);
    }

    void unaCarpetaEnLugarDelFichero()
    {
        QDir().mkpath(fichero());
        Registro r(fichero());
        QVERIFY(textoDeError([&] { (void)r.lee(); }).contains(QStringLiteral("no es un fichero normal")));
        QVERIFY(QFileInfo(fichero()).isDir());
    }

    void escritorInterrumpidoDejaUnFicheroEntero()
    {
        // Each round writes one whole set of values, all "A" or all "B", in one change.
        const auto juego = [](ArchivoRegistro& a, char letra) {
            a.crea(QStringLiteral("HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion\\Buzones"));
            ClaveRegistro* c = a.busca(QStringLiteral("HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion\\Buzones"));
            for (int i = 1; i <= 100; ++i)
                c->pon({QStringLiteral("Buzon%1").arg(i), REG_SZ, QByteArray(40, letra)});
            return true;
        };
        Registro r(fichero());
        r.modifica([&](ArchivoRegistro& a) { return juego(a, 'A'); });
        auto* azar = QRandomGenerator::global();
        for (int vuelta = 0; vuelta < 40; ++vuelta) {
            const pid_t hijo = ::fork();
            if (hijo == 0) {
                Registro propio(fichero());
                for (int n = 0;; ++n)
                    propio.modifica([&](ArchivoRegistro& a) { return juego(a, n % 2 ? 'A' : 'B'); });
            }
            ::usleep(azar->bounded(1000, 30000));
            ::kill(hijo, SIGKILL);
            ::waitpid(hijo, nullptr, 0);
            const ArchivoRegistro leido = r.lee();
            const ClaveRegistro* c =
                leido.busca(QStringLiteral("HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion\\Buzones"));
            QVERIFY(c);
            QCOMPARE(c->valores.size(), 100);
            const char letra = c->valores.first().datos.at(0);
            for (const ValorRegistro& v : c->valores)
                QCOMPARE(v.datos, QByteArray(40, letra));
        }
    }

    void dosProgramasNoPierdenEscrituras()
    {
        // Each writer adds its own values; without the lock one would write over the other's.
        QList<pid_t> hijos;
        for (const char* quien : {"a", "b"}) {
            const pid_t hijo = ::fork();
            if (hijo == 0) {
                Registro propio(fichero());
                TRegIniFile ini(propio, QStringLiteral("Software\\Ludaren"));
                for (int i = 0; i < 40; ++i)
                    ini.WriteString(QStringLiteral("Prueba"), QLatin1String(quien) + QString::number(i), "x");
                ::_exit(0);
            }
            hijos << hijo;
        }
        for (pid_t hijo : hijos) {
            int estado = -1;
            ::waitpid(hijo, &estado, 0);
            QCOMPARE(estado, 0);
        }
        Registro r(fichero());
        QCOMPARE(r.lee().busca(QStringLiteral("HKEY_CURRENT_USER\\Software\\Ludaren\\Prueba"))->valores.size(), 80);
    }

    void discoLlenoNoPierdeElFichero()
    {
        // A file size limit fails writes as a full disk does, and needs no privileges.
        const QByteArray limite = enHijo([&] {
            return escriturasQueNoCaben(fichero(), [] {
                std::signal(SIGXFSZ, SIG_IGN);
                const rlimit tope{4096, 4096};
                return ::setrlimit(RLIMIT_FSIZE, &tope) == 0;
            });
        });
        QCOMPARE(limite, esperadoSinSitio(EFBIG));
        QCOMPARE(enCarpeta(fichero().section(u'/', 0, -2)), (QStringList{"registro.reg", "registro.reg.lock"}));

        // A really full file system, where one can be mounted in a namespace of the child's own.
        QDir(dir_.filePath(QStringLiteral("Ludaren"))).removeRecursively();
        const QString carpeta = dir_.filePath(QStringLiteral("Ludaren"));
        QVERIFY(QDir().mkpath(carpeta));
        const QByteArray lleno = enHijo([&] {
            const QByteArray ruta = QFile::encodeName(carpeta);
            const bool montado = ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0
                && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
                && ::mount("pirel", ruta.constData(), "tmpfs", 0, "size=16k,mode=0700") == 0;
            if (!montado)
                return QByteArray("no tmpfs");
            return escriturasQueNoCaben(fichero(), [] { return true; });
        });
        if (lleno == "no tmpfs") {
            qInfo("no tmpfs could be mounted here: the file size limit stood for the full disk");
        } else {
            QCOMPARE(lleno, esperadoSinSitio(ENOSPC));
            qInfo("a full tmpfs of 16 kB reported the same");
        }
        QCOMPARE(enCarpeta(carpeta), QStringList());
    }

    void unaCarpetaEnLugarDelFicheroAlEscribir()
    {
        // Already there: nothing is written and the folder keeps what it holds.
        pon(fichero() + QStringLiteral("/dentro"), "algo");
        Registro r(fichero());
        QVERIFY(textoDeError([&] { GrabaEnRegistro(r); }).contains(QStringLiteral("no es un fichero normal")));
        QCOMPARE(contenido(fichero() + QStringLiteral("/dentro")), QByteArray("algo"));
        QCOMPARE(temporales(fichero().section(u'/', 0, -2)), QStringList());

        // Put there between the read and the write, by someone else.
        QDir(fichero()).removeRecursively();
        GrabaEnRegistro(r);
        const QByteArray antes = contenido(fichero());
        QString error;
        try {
            r.modifica([&](ArchivoRegistro& a) {
                QFile::remove(fichero());
                pon(fichero() + QStringLiteral("/dentro"), antes);
                a.crea(QStringLiteral("HKEY_CURRENT_USER\\Software\\Ludaren\\Otra"));
                return true;
            });
        } catch (const ErrorEscritura& e) {
            error = e.texto();
        }
        QCOMPARE(error, QString::fromLocal8Bit(std::strerror(EISDIR)));
        QVERIFY(QFileInfo(fichero()).isDir());
        QCOMPARE(contenido(fichero() + QStringLiteral("/dentro")), antes);
        QCOMPARE(enCarpeta(fichero().section(u'/', 0, -2)), (QStringList{"registro.reg", "registro.reg.lock"}));
    }

    void ficheroCortadoSeDetecta_data()
    {
        QTest::addColumn<QByteArray>("datos");
        QTest::addColumn<QString>("motivo");
        const QByteArray utf8 = ficheroValido();
        const QByteArray utf16 = enUtf16(utf8);
        QTest::newRow("inside a key name") << hasta(utf8, "Ludaren\\Configuracion]", 4)
                                           << QStringLiteral("(línea 3): clave mal cerrada");
        QTest::newRow("inside a text value") << hasta(utf8, "\"5\"", 2) << QStringLiteral("(línea 4): texto mal cerrado");
        QTest::newRow("inside a value name") << hasta(utf8, "Dos lineas", 4)
                                             << QStringLiteral("(línea 6): nombre de valor mal escrito");
        QTest::newRow("after a comma of a hex list") << hasta(utf8, "0d,", 3)
                                                     << QStringLiteral("(línea 6): byte hexadecimal mal escrito");
        QTest::newRow("inside a UTF-8 character") << hasta(utf8, "\xE2\x82", 2)
                                                  << QStringLiteral("(línea 5): el texto no es UTF-8 válido");
        QTest::newRow("UTF-16 inside a code unit") << hasta(utf16, QByteArray("5\0\"\0", 4), 1)
                                                   << QStringLiteral("(línea 1): el texto UTF-16 tiene un número impar de bytes");
        QTest::newRow("UTF-16 between code units") << hasta(utf16, QByteArray("5\0\"\0", 4), 2)
                                                   << QStringLiteral("(línea 4): texto mal cerrado");
        QTest::newRow("UTF-16 whole with a stray byte") << utf16 + 'x'
                                                        << QStringLiteral("(línea 1): el texto UTF-16 tiene un número impar de bytes");
        QTest::newRow("UTF-16 mark and one byte") << QByteArray("\xFF\xFE\x00", 3)
                                                  << QStringLiteral("(línea 1): el texto UTF-16 tiene un número impar de bytes");
    }
    void ficheroCortadoSeDetecta()
    {
        QFETCH(QByteArray, datos);
        QFETCH(QString, motivo);
        QVERIFY(!datos.isEmpty());
        pon(fichero(), datos);
        Registro r(fichero());
        const QString error = textoDeError([&] { (void)r.lee(); });
        QVERIFY2(error.contains(fichero()) && error.contains(motivo) && error.endsWith(QStringLiteral("No se ha modificado.")),
                 qPrintable(error));
        QCOMPARE(textoDeError([&] { GrabaEnRegistro(r); }), error);
        QCOMPARE(contenido(fichero()), datos);
        QCOMPARE(temporales(fichero().section(u'/', 0, -2)), QStringList());
    }

    void cadaCorteSeLeeOSeDeja()
    {
        // Every cut of a valid file either still reads or is refused, naming the file and a
        // line, and then never written over. The format has no end mark: a cut at a line end,
        // or inside a list of hex bytes or a dword, leaves a file that reads.
        const QStringList lineasEnteras = QString::fromUtf8(ficheroValido()).split(u'\n');
        const auto ultimaLinea = [](const QByteArray& datos) {
            const QString texto = datos.startsWith("\xFF\xFE")
                ? QString::fromUtf16(reinterpret_cast<const char16_t*>(datos.constData() + 2), (datos.size() - 2) / 2)
                : QString::fromUtf8(datos);
            QString ultima = texto.section(u'\n', -1);
            if (ultima.endsWith(u'\r'))
                ultima.chop(1);
            return ultima;
        };
        int rechazados = 0, leidos = 0;
        for (const QByteArray& entero : {ficheroValido(), enUtf16(ficheroValido())}) {
            for (qsizetype n = 1; n < entero.size(); ++n) {
                const QByteArray datos = entero.left(n);
                pon(fichero(), datos);
                Registro r(fichero());
                const QString error = textoDeError([&] { (void)r.lee(); });
                if (error.isEmpty()) {
                    const QString ultima = ultimaLinea(datos);
                    QVERIFY2(ultima.isEmpty() || lineasEnteras.contains(ultima) || ultima.contains(u"=hex")
                                 || ultima.contains(u"=dword:"),
                             qPrintable(ultima));
                    ++leidos;
                    continue;
                }
                ++rechazados;
                QVERIFY2(error.contains(fichero()) && error.contains(QStringLiteral("(línea ")), qPrintable(error));
                QCOMPARE(textoDeError([&] { GrabaEnRegistro(r); }), error);
                QCOMPARE(contenido(fichero()), datos);
            }
        }
        QCOMPARE(temporales(fichero().section(u'/', 0, -2)), QStringList());
        qInfo("%d cuts refused, %d still read", rechazados, leidos);
    }

private:
    static void GrabaEnRegistro(Registro& r)
    {
        TRegIniFile(r, QStringLiteral("Software\\Ludaren")).WriteString(QStringLiteral("Version"), QStringLiteral("Numero"), "2.0");
    }
};

QTEST_GUILESS_MAIN(TestRegistro)
#include "test_registro.moc"
