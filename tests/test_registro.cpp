// The registry file on disk: its format, the Windows export forms, damage, and crashes.
#include "ansi.h"
#include "error_almacen.h"
#include "reg_ini.h"
#include "registro.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
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

private:
    static void GrabaEnRegistro(Registro& r)
    {
        TRegIniFile(r, QStringLiteral("Software\\Ludaren")).WriteString(QStringLiteral("Version"), QStringLiteral("Numero"), "2.0");
    }
};

QTEST_GUILESS_MAIN(TestRegistro)
#include "test_registro.moc"
