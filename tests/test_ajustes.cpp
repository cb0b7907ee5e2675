// What the program stores: scrambling, the start-up load with its migrations, the save.
#include "ajustes.h"
#include "clave.h"
#include "error_almacen.h"
#include "orden.h"
#include "reg_ini.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace pirel;

namespace {

// Registry files written short: "[L" is the program's key, {c:text} a scrambled password.
QByteArray expande(QByteArray t)
{
    static const QRegularExpression kClave(QStringLiteral("\\{c:([^}]*)\\}"));
    QString s = QString::fromUtf8(t);
    for (auto m = kClave.match(s); m.hasMatch(); m = kClave.match(s))
        s.replace(m.capturedStart(), m.capturedLength(), QString::fromLatin1(CodificaClave(m.captured(1).toLatin1())));
    s.replace(QStringLiteral("[L"), QStringLiteral("[HKEY_CURRENT_USER\\Software\\Ludaren"));
    return "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software]\n\n" + s.toUtf8();
}

QByteArray lee(const QString& fichero)
{
    QFile f(fichero);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(no existe)");
}

QString opcionesEnTexto(const TOpciones& o)
{
    const QString frecuencia = o.frecuenciaFalta                  ? QStringLiteral("falta")
                               : !o.frecuenciaError.isEmpty() ? o.frecuenciaError
                                                              : QString::number(o.frecuencia);
    const char* sonidos[] = {"", "Beep", "Wave"};
    return QStringList{frecuencia, QString::fromLatin1(sonidos[static_cast<int>(o.sonido)]),
                       QString::fromLatin1(o.ficheroWav), QString::fromLatin1(o.gestorCorreo),
                       o.animacion ? "Si" : "No", o.ejecutarSiempre ? "autoarranque" : "-"}
        .join(u'|');
}

QString conexionEnTexto(const Conexion& c)
{
    const char* modo = c.seguridad == Seguridad::SSL ? "SSL" : c.seguridad == Seguridad::STLS ? "STLS" : "Ninguna";
    return QLatin1String(modo) + u':' + QString::number(c.puerto) + (c.huella.isEmpty() ? "" : ":" + c.huella);
}

QStringList tablaEnTexto(const TBuzon& t)
{
    QStringList r;
    for (int i = 1; i <= t.numBuzones(); ++i)
        r << QString::fromLatin1(t.nombre(i) + "|" + t.host(i) + "|" + t.usuario(i) + "|" + t.clave(i).toHex() + "|"
                                 + (t.chequear(i) ? "Si" : "No"))
                + u'|' + conexionEnTexto(t.conexion(i));
    return r;
}

const QByteArray kHuella = "00112233445566778899AABBCCDDEEFF00112233445566778899AABBCCDDEEFF";

// One mailbox in the store, with `conexion` as its values after Chequear1.
QByteArray unBuzon(const QByteArray& conexion)
{
    return "[L]\n\n[L\\Configuracion]\n\n[L\\Configuracion\\Buzones]\n\"Buzon1\"=\"Casa\"\n"
           "\"Host1\"=\"pop.casa.es\"\n\"usuario1\"=\"ana\"\n\"Codigo1\"=\"{c:secreta}\"\n\"Chequear1\"=\"Si\"\n"
        + conexion + "\"nBuzon\"=\"1\"\n\n";
}

const QByteArray kVersion2 = R"([L]

[L\Configuracion]
"frecuencia"="10"
"Hacer Sonido"="Wave"
"Fichero Wav"="/usr/share/sounds/aviso.wav"
"Gestor de Correo"="thunderbird"
"Animacion"="Si"

[L\Configuracion\Buzones]
"Buzon1"="Casa"
"Host1"="pop.casa.es"
"usuario1"="ana"
"Codigo1"="{c:secreta}"
"Chequear1"="Si"
"Buzon2"="Trabajo"
"Host2"="pop.trabajo.es"
"usuario2"="ana.p"
"Codigo2"="{c:otra}"
"Chequear2"="si"
"nBuzon"="2"

[L\Version]
"Numero"="2.0"

)";

const QByteArray kVersion1 = R"([L]

[L\Configuracion]
"frecuencia"="3"
"Host"="pop.viejo.es"
"usuario"="pepe"
"Codigo"="{c:vieja}"

[L\Version]
"Numero"="1.3"

)";

const QByteArray kMovida = R"([L]

[L\Configuracion]
"frecuencia"="3"

[L\Configuracion\Buzones]
"Buzon1"="Buzon 1"
"Host1"="pop.viejo.es"
"usuario1"="pepe"
"Codigo1"="{c:vieja}"
"Chequear1"="Si"
"Seguridad1"="Ninguna"
"Puerto1"="110"
"nBuzon"="1"

[L\Version]
"Numero"="2.0"

)";

QByteArray version0(const QByteArray& clave)
{
    return "[L]\n\n[L\\Configuracion]\n\"Host\"=\"pop.viejo.es\"\n\"usuario\"=\"pepe\"\n" + clave
        + "\n[L\\Version]\n\"Numero\"=\"0.9\"\n\n";
}

const QString kTablaV2a = QStringLiteral("Casa|pop.casa.es|ana|") + QString::fromLatin1(QByteArray("secreta").toHex()) + "|Si|Ninguna:110";
const QString kTablaV2b = QStringLiteral("Trabajo|pop.trabajo.es|ana.p|") + QString::fromLatin1(QByteArray("otra").toHex()) + "|No|Ninguna:110";
const QString kTablaMovida = QStringLiteral("Buzon 1|pop.viejo.es|pepe|") + QString::fromLatin1(QByteArray("vieja").toHex()) + "|Si|Ninguna:110";
const QString kFaltaNBuzon = QStringLiteral("'Error' is not a valid integer value");

}

class TestAjustes : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    QString fichero() const { return dir_->filePath(QStringLiteral("Ludaren/registro.reg")); }
    QString autoarranque() const { return dir_->filePath(QStringLiteral("autostart/ludaren-electronico.desktop")); }
    void guarda(const QByteArray& datos)
    {
        QDir().mkpath(dir_->filePath(QStringLiteral("Ludaren")));
        QFile f(fichero());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(datos);
    }

private slots:
    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_->path()));
    }

    void claves()
    {
        QCOMPARE(CodificaClave(""), QByteArray());
        QCOMPARE(DecodificaClave(""), QByteArray());
        QCOMPARE(CodificaClave("R"), QByteArray("00"));
        QCOMPARE(CodificaClave("abcdefghijkl").size(), 24);
        QCOMPARE(CodificaClave("a"), QByteArray("33"));
        QCOMPARE(DecodificaClave("Error"), QByteArray("\x8D\x80"));
        QVERIFY(DecodificaClave(CodificaClave("xyz").toLower()) != "xyz");
        QCOMPARE(DecodificaClave("33A"), DecodificaClave("33"));
        QByteArray todas;
        for (int c = 0; c < 28; ++c)
            todas.append(static_cast<char>(c * 9 + 1));
        todas[3] = '\0';
        todas[5] = '\xFF';
        QCOMPARE(DecodificaClave(CodificaClave(todas)), todas);
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9A-F]*$")).match(QString::fromLatin1(CodificaClave(todas))).hasMatch());
    }

    void clavesLargas_data()
    {
        QTest::addColumn<int>("largo");
        for (int n : {12, 16, 28, 29, 128})
            QTest::addRow("%d characters", n) << n;
    }
    void clavesLargas()
    {
        QFETCH(int, largo);
        QByteArray clave;
        for (int c = 0; c < largo; ++c)
            clave.append(static_cast<char>(c * 37 + 5));
        const QByteArray codigo = CodificaClave(clave);
        QCOMPARE(codigo.size(), 2 * largo);
        QCOMPARE(DecodificaClave(codigo), clave);
        // The key starts again at its first character: the 29th pairs with 'R' as the 1st does.
        QCOMPARE(CodificaClave(QByteArray(largo, 'R')).mid(0, 2), QByteArray("00"));
        if (largo > 28)
            QCOMPARE(CodificaClave(QByteArray(largo, 'R')).mid(56, 2), QByteArray("00"));
        // Up to 28 characters, the stored text is the one older versions wrote.
        QByteArray antes;
        const QByteArray llave = "RoVaLuN&QtZ482QtZ&RoVaLuN482";
        for (int i = 0; i < qMin(largo, 28); ++i)
            antes += QByteArray::number(static_cast<unsigned char>(clave[i] ^ llave[i]), 16).rightJustified(2, '0').toUpper();
        QCOMPARE(codigo.left(56), antes);

        // Through the store and back, as "Codigo1" holds it.
        Registro r(fichero());
        TBuzon tabla, leida;
        tabla.agregar("Casa", "pop.casa.es", "ana", clave, true);
        {
            Transaccion t(r);
            registrar(t, tabla);
            t.confirma();
        }
        QVERIFY(lee(fichero()).contains("\"Codigo1\"=\"" + codigo + "\"\n"));
        Transaccion t(r);
        lee_registro(t, leida);
        QCOMPARE(leida.clave(1), clave);
    }

    void conexiones_data()
    {
        QTest::addColumn<QByteArray>("guardada"); // mailbox 1's values after Chequear1
        QTest::addColumn<QString>("leida");
        QTest::addColumn<QByteArray>("escrita"); // what a save writes for it
        const QByteArray ninguna = "\"Seguridad1\"=\"Ninguna\"\n\"Puerto1\"=\"110\"\n";
        const QByteArray ssl = "\"Seguridad1\"=\"SSL\"\n\"Puerto1\"=\"995\"\n";
        const QByteArray stls = "\"Seguridad1\"=\"STLS\"\n\"Puerto1\"=\"110\"\n";
        const QByteArray pin = "\"Huella1\"=\"" + kHuella + "\"\n";
        QByteArray conDosPuntos;
        for (int i = 0; i < 64; i += 2)
            conDosPuntos += kHuella.mid(i, 2).toLower() + (i < 62 ? ":" : "");
        QTest::newRow("a mailbox stored before these values: plain on 110") << QByteArray() << "Ninguna:110" << ninguna;
        QTest::newRow("SSL on 995, pinned") << ssl + pin << "SSL:995:" + QString::fromLatin1(kHuella) << ssl + pin;
        QTest::newRow("STLS on another port")
            << QByteArray(stls).replace("110", "1110") << "STLS:1110" << QByteArray(stls).replace("110", "1110");
        QTest::newRow("plain on another port") << QByteArray(ninguna).replace("110", "2110") << "Ninguna:2110"
                                               << QByteArray(ninguna).replace("110", "2110");
        QTest::newRow("SSL without a port is on 995") << QByteArray("\"Seguridad1\"=\"SSL\"\n") << "SSL:995" << ssl;
        QTest::newRow("the highest port") << QByteArray(ssl).replace("995", "65535") << "SSL:65535"
                                          << QByteArray(ssl).replace("995", "65535");
        QTest::newRow("the pin as openssl prints it, colons and lower case")
            << ssl + "\"Huella1\"=\"" + conDosPuntos + "\"\n" << "SSL:995:" + QString::fromLatin1(kHuella) << ssl + pin;
        QTest::newRow("a pin a digit short is dropped")
            << ssl + "\"Huella1\"=\"" + kHuella.chopped(1) + "\"\n" << "SSL:995" << ssl;
        QTest::newRow("a pin that is not hex is dropped")
            << ssl + "\"Huella1\"=\"" + kHuella.chopped(1) + "G\"\n" << "SSL:995" << ssl;
        // A damaged security may fail a check; it must never send a password in clear.
        for (const char* otra : {"ssl", "TLS", "", "Ninguna "})
            QTest::addRow("the security \"%s\" reads as SSL", otra)
                << QByteArray(stls).replace("STLS", otra) << "SSL:110" << QByteArray(ssl).replace("995", "110");
        for (const char* puerto : {"0", "65536", "99999999", "abc", "", " 995", "+995", "-1", "1e3"})
            QTest::addRow("the port \"%s\" is the mode's default", puerto)
                << "\"Seguridad1\"=\"SSL\"\n\"Puerto1\"=\"" + QByteArray(puerto) + "\"\n" << "SSL:995" << ssl;
    }
    void conexiones()
    {
        QFETCH(QByteArray, guardada);
        QFETCH(QString, leida);
        QFETCH(QByteArray, escrita);
        guarda(expande(unBuzon(guardada)));
        Registro r(fichero());
        TBuzon tabla;
        Transaccion t(r);
        lee_registro(t, tabla);
        QCOMPARE(tablaEnTexto(tabla), QStringList{"Casa|pop.casa.es|ana|" + QString::fromLatin1(QByteArray("secreta").toHex())
                                                  + "|Si|" + leida});
        TRegIniFile(t, reg::kRutaConfiguracion).EraseSection(reg::kBuzones);
        registrar(t, tabla);
        t.confirma();
        QCOMPARE(QString::fromUtf8(lee(fichero())), QString::fromUtf8(expande(unBuzon(escrita))));
    }

    void carga_data()
    {
        QTest::addColumn<QByteArray>("entrada");
        QTest::addColumn<QString>("programa");
        QTest::addColumn<QByteArray>("salida");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("opciones");
        QTest::addColumn<QStringList>("tabla");
        QTest::addColumn<bool>("primeraVez");

        const QString p = QStringLiteral("/usr/bin/pirel");
        QTest::newRow("a store without Version takes the first run and writes only the log-on entry")
            << expande("[L]\n\n") << p << QByteArray() << QString() << "5|Beep|spirel.wav||Si|autoarranque"
            << QStringList() << true;
        QTest::newRow("a first run from a folder named in Cyrillic writes its exact path")
            << expande("[L]\n\n") << QStringLiteral("/home/ана/Программы/pirel") << QByteArray() << QString()
            << "5|Beep|spirel.wav||Si|autoarranque" << QStringList() << true;
        QTest::newRow("a program on removable media writes no log-on entry")
            << expande("[L]\n\n") << QStringLiteral("/media/usb/pirel") << QByteArray() << QString()
            << "5|Beep|spirel.wav||Si|-" << QStringList() << true;
        QTest::newRow("Numero 2.0 runs no step and rewrites nothing; si is not Si")
            << expande(kVersion2) << p << QByteArray() << QString()
            << "10|Wave|/usr/share/sounds/aviso.wav|thunderbird|Si|-" << QStringList{kTablaV2a, kTablaV2b} << false;
        // The stored texts are compared exactly where they are read, as they always were.
        const auto opcionesDe = [&](const char* nombre, const QByteArray& de, const QByteArray& a, const char* opciones) {
            QTest::newRow(nombre) << expande(QByteArray(kVersion2).replace(de, a)) << p << QByteArray() << QString()
                                  << QString::fromUtf8(opciones) << QStringList{kTablaV2a, kTablaV2b} << false;
        };
        opcionesDe("beep and si in small letters are neither", "\"Wave\"\n\"Fichero Wav\"=\"/usr/share/sounds/aviso.wav\"\n"
                   "\"Gestor de Correo\"=\"thunderbird\"\n\"Animacion\"=\"Si\"", "\"beep\"\n\"Animacion\"=\"si\"", "10||||No|-");
        opcionesDe("Beep", "\"Wave\"", "\"Beep\"", "10|Beep|/usr/share/sounds/aviso.wav|thunderbird|Si|-");
        opcionesDe("an interval that is no number is told where it is used", "\"10\"", "\"diez\"",
                   "'diez' is not a valid integer value|Wave|/usr/share/sounds/aviso.wav|thunderbird|Si|-");
        opcionesDe("no interval at all", "\"frecuencia\"=\"10\"\n", "",
                   "falta|Wave|/usr/share/sounds/aviso.wav|thunderbird|Si|-");
        QTest::newRow("Numero 2.5 is rewritten to 2.0")
            << expande(QByteArray(kVersion2).replace("\"2.0\"", "\"2.5\"")) << p << expande(kVersion2) << QString()
            << "10|Wave|/usr/share/sounds/aviso.wav|thunderbird|Si|-" << QStringList{kTablaV2a, kTablaV2b} << false;
        QTest::newRow("Numero 1.3 moves the single mailbox into the table")
            << expande(kVersion1) << p << expande(kMovida) << QString() << "3||||No|-"
            << QStringList{kTablaMovida} << false;
        QTest::newRow("Numero 10.0 counts as version 1")
            << expande(QByteArray(kVersion1).replace("1.3", "10.0")) << p << expande(kMovida) << QString()
            << "3||||No|-" << QStringList{kTablaMovida} << false;
        QTest::newRow("the version-1 step with Codigo absent moves what Error decodes to")
            << expande(QByteArray(kVersion1).replace("\"Codigo\"=\"{c:vieja}\"\n", "")) << p
            << expande(QByteArray(kMovida).replace("{c:vieja}", CodificaClave(DecodificaClave("Error")))) << QString()
            << "3||||No|-"
            << QStringList{"Buzon 1|pop.viejo.es|pepe|" + QString::fromLatin1(DecodificaClave("Error").toHex()) + "|Si|Ninguna:110"}
            << false;
        QTest::newRow("the version-1 step with an empty user drops the old values and moves nothing")
            << expande(QByteArray(kVersion1).replace("\"pepe\"", "\"\"")) << p
            << expande("[L]\n\n[L\\Configuracion]\n\"frecuencia\"=\"3\"\n\n[L\\Version]\n\"Numero\"=\"2.0\"\n\n")
            << kFaltaNBuzon << "5||||No|-" << QStringList() << false;
        QTest::newRow("Numero 0.9 scrambles the old password and then misses nBuzon")
            << expande(version0("\"clave\"=\"vieja\"\n")) << p
            << expande(version0("\"Codigo\"=\"{c:vieja}\"\n").replace("0.9", "2.0")) << kFaltaNBuzon << "5||||No|-"
            << QStringList() << false;
        QTest::newRow("the version-0 step with clave absent writes only Numero")
            << expande(version0("")) << p << expande(version0("").replace("0.9", "2.0")) << kFaltaNBuzon
            << "5||||No|-" << QStringList() << false;
        QTest::newRow("the version-0 step with clave empty deletes it and writes no Codigo")
            << expande(version0("\"clave\"=\"\"\n")) << p << expande(version0("").replace("0.9", "2.0"))
            << kFaltaNBuzon << "5||||No|-" << QStringList() << false;
        QTest::newRow("the version-0 step keeps 12 of 15 characters, as it always did")
            << expande(version0("\"clave\"=\"123456789012345\"\n")) << p
            << expande(version0("\"Codigo\"=\"{c:123456789012}\"\n").replace("0.9", "2.0")) << kFaltaNBuzon
            << "5||||No|-" << QStringList() << false;
        QTest::newRow("the version-1 step cuts server, user and password at 40, 20 and 12, as it always did")
            << expande(QByteArray(kVersion1)
                           .replace("pop.viejo.es", QByteArray(45, 'h'))
                           .replace("pepe", QByteArray(25, 'u'))
                           .replace("{c:vieja}", "{c:" + QByteArray(16, 'c') + "}"))
            << p
            << expande(QByteArray(kMovida)
                           .replace("pop.viejo.es", QByteArray(40, 'h'))
                           .replace("pepe", QByteArray(20, 'u'))
                           .replace("{c:vieja}", "{c:" + QByteArray(12, 'c') + "}"))
            << QString() << "3||||No|-"
            << QStringList{"Buzon 1|" + QString(40, u'h') + u'|' + QString(20, u'u') + u'|'
                           + QString::fromLatin1(QByteArray(12, 'c').toHex()) + "|Si|Ninguna:110"}
            << false;
        QTest::newRow("a REG_DWORD frecuencia is an invalid data type")
            << expande(QByteArray(kVersion2).replace("\"frecuencia\"=\"10\"", "\"frecuencia\"=dword:0000000a")) << p
            << QByteArray() << QStringLiteral("Invalid data type for 'frecuencia'") << "5||||No|-"
            << QStringList{kTablaV2a, kTablaV2b} << false;
        QTest::newRow("an nBuzon above 20 is cut to 20")
            << expande(QByteArray(kVersion2).replace("\"nBuzon\"=\"2\"", "\"nBuzon\"=\"99\"")) << p << QByteArray()
            << QString() << "10|Wave|/usr/share/sounds/aviso.wav|thunderbird|Si|-" << QStringList() << false;
    }
    void carga()
    {
        QFETCH(QByteArray, entrada);
        QFETCH(QString, programa);
        QFETCH(QByteArray, salida);
        QFETCH(QString, error);
        QFETCH(QString, opciones);
        QFETCH(QStringList, tabla);
        QFETCH(bool, primeraVez);

        guarda(entrada);
        Registro r(fichero());
        TBuzon t;
        TOpciones o;
        QString errorVisto;
        Arranque a = Arranque::Configurado;
        try {
            a = CargaAjustes(r, t, o, programa);
        } catch (const ErrorAlmacen& e) {
            errorVisto = e.texto();
        }
        QCOMPARE(errorVisto, error);
        QCOMPARE(QString::fromUtf8(lee(fichero())), QString::fromUtf8(salida.isEmpty() ? entrada : salida));
        QCOMPARE(opcionesEnTexto(o), opciones);
        if (QTest::currentDataTag() == QLatin1String("an nBuzon above 20 is cut to 20")) {
            QCOMPARE(t.numBuzones(), 20);
            QCOMPARE(t.nombre(20), QByteArray("Error"));
        } else {
            QCOMPARE(tablaEnTexto(t), tabla);
        }
        QCOMPARE(a == Arranque::PrimeraVez, primeraVez);
        const bool conEntrada = opciones.endsWith(u"autoarranque") && primeraVez;
        QCOMPARE(QFile::exists(autoarranque()), conEntrada);
        if (conEntrada)
            QVERIFY(lee(autoarranque()).contains("\nExec=\"" + programa.toUtf8() + "\"\n"));
    }

    void entradaDeAutoarranque_data()
    {
        QTest::addColumn<QString>("escrito"); // written by the program, else `entrada` is the file
        QTest::addColumn<QByteArray>("entrada");
        QTest::addColumn<QString>("programa");
        QTest::addColumn<bool>("ejecutarSiempre");
        const QString p = QStringLiteral("/usr/bin/pirel");
        const QByteArray escrita = "[Desktop Entry]\nType=Application\nExec=/usr/bin/pirel\n";
        QTest::newRow("a path in a folder named in Cyrillic") << QStringLiteral("/home/ана/Программы/pirel") << QByteArray()
                                                            << QStringLiteral("/home/ана/Программы/pirel") << true;
        QTest::newRow("a path beyond Windows-1252 is not its narrowed form")
            << QStringLiteral("/opt/?" "?/pirel") << QByteArray() << QStringLiteral("/opt/日本/pirel") << false;
        QTest::newRow("quotes, dollars, percents and backslashes")
            << QStringLiteral("/opt/mis \"programas\"/$HOME/100%/a\\b/pirel") << QByteArray()
            << QStringLiteral("/opt/mis \"programas\"/$HOME/100%/a\\b/pirel") << true;
        QTest::newRow("the same path in another letter case") << QStringLiteral("/USR/BIN/PIREL") << QByteArray() << p << false;
        QTest::newRow("an entry written by hand") << QString() << escrita << p << true;
        QTest::newRow("an entry the desktop has hidden") << QString() << escrita + "Hidden=true\n" << p << false;
        QTest::newRow("an entry switched off in GNOME") << QString() << escrita + "X-GNOME-Autostart-enabled=false\n" << p
                                                       << false;
        QTest::newRow("an Exec of another group") << QString()
                                                  << QByteArray("[Desktop Entry]\nType=Application\n"
                                                                "[Desktop Action nueva]\nExec=/usr/bin/pirel\n")
                                                  << p << false;
        QTest::newRow("a FIFO in place of the entry") << QString() << QByteArray("fifo") << p << false;
    }
    void entradaDeAutoarranque()
    {
        QFETCH(QString, escrito);
        QFETCH(QByteArray, entrada);
        QFETCH(QString, programa);
        QFETCH(bool, ejecutarSiempre);
        TRegMaquina m(reg::kWindowsActual);
        if (!escrito.isEmpty()) {
            m.WriteString(reg::kRun, reg::kEntradaRun, escrito);
            QCOMPARE(m.ReadString(reg::kRun, reg::kEntradaRun, QStringLiteral("Error")), escrito);
        } else {
            QVERIFY(QDir().mkpath(QFileInfo(autoarranque()).path()));
            if (entrada == "fifo") {
                QCOMPARE(::mkfifo(QFile::encodeName(autoarranque()).constData(), 0600), 0);
            } else {
                QFile f(autoarranque());
                QVERIFY(f.open(QIODevice::WriteOnly));
                f.write(entrada);
            }
        }
        guarda(expande(kVersion2));
        Registro r(fichero());
        TBuzon t;
        TOpciones o;
        QCOMPARE(CargaAjustes(r, t, o, programa), Arranque::Configurado);
        QCOMPARE(o.ejecutarSiempre, ejecutarSiempre);
    }

    void ordenDelGestor_data()
    {
        QTest::addColumn<QString>("linea"); // %D: a folder of the test's own
        QTest::addColumn<QString>("ejecutable");
        QTest::addColumn<QStringList>("partes");
        const QString blancos = QStringLiteral("%D/Mis programas/correo");
        QTest::newRow("a path with blanks, as the picker stores it")
            << ComillasOrden(blancos) << QString() << QStringList{blancos};
        QTest::newRow("a path with quotes and blanks, as the picker stores it")
            << ComillasOrden(QStringLiteral("\"a\" b \"")) << QString() << QStringList{QStringLiteral("\"a\" b \"")};
        QTest::newRow("an unquoted path with blanks to an executable file, as older versions stored it")
            << blancos << blancos << QStringList{blancos};
        QTest::newRow("an unquoted line naming no file is a command line")
            << QStringLiteral("thunderbird -mail \"a b\"") << QString()
            << QStringList{QStringLiteral("thunderbird"), QStringLiteral("-mail"), QStringLiteral("a b")};
        QTest::newRow("an empty line") << QString() << QString() << QStringList();
    }
    void ordenDelGestor()
    {
        QFETCH(QString, linea);
        QFETCH(QString, ejecutable);
        QFETCH(QStringList, partes);
        const auto enCarpeta = [&](QString t) { return t.replace(QStringLiteral("%D"), dir_->path()); };
        if (!ejecutable.isEmpty()) {
            QVERIFY(QDir().mkpath(QFileInfo(enCarpeta(ejecutable)).path()));
            QFile f(enCarpeta(ejecutable));
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        }
        QStringList esperadas;
        for (const QString& parte : partes)
            esperadas << enCarpeta(parte);
        QCOMPARE(PartesDeOrden(enCarpeta(linea)), esperadas);
    }

    void guardarCincoComoTres()
    {
        guarda(expande(kVersion2));
        Registro r(fichero());
        TBuzon tabla;
        TOpciones o;
        // Every slot secure and pinned: none of slots 4 and 5 may stay behind.
        for (const char* n : {"1", "2", "3", "4", "5"})
            tabla.agregar(n, "h", "u", "c", true, {Seguridad::SSL, 995, kHuella});
        {
            Transaccion t(r);
            registrar(t, tabla);
            t.confirma();
        }
        TBuzon copia;
        copia.agregar("A", "pop.a.es", "a", "ca", true);
        copia.agregar("B", "pop.b.es", "b", "cb", false, {Seguridad::SSL, 995, kHuella});
        EleccionDialogo e;
        e.ficheroWav = "/no/existe.wav";
        e.gestorCorreo = "evolution";
        e.ejecutarSiempre = true;
        e.wave = true;
        e.animacion = true;
        e.frecuencia = 15;
        o.ficheroWav = "spirel.wav";
        const auto pendiente = [](TBuzon& c) { c.agregar("C", "pop.c.es", "c", "cc", true, {Seguridad::STLS, 1110, {}}); };
        const Guardado g = Guarda(r, o, tabla, copia, e, 0, pendiente, QStringLiteral("/usr/bin/pirel"));
        QVERIFY(g.escrito);
        QCOMPARE(g.intervalo, 15 * 60000);
        QCOMPARE(tabla.numBuzones(), 3);
        QCOMPARE(QString::fromUtf8(lee(fichero())), QString::fromUtf8(expande(R"([L]

[L\Configuracion]
"frecuencia"="15"
"Hacer Sonido"="Wave"
"Fichero Wav"="spirel.wav"
"Gestor de Correo"="evolution"
"Animacion"="Si"

[L\Configuracion\Buzones]
"Buzon1"="A"
"Host1"="pop.a.es"
"usuario1"="a"
"Codigo1"="{c:ca}"
"Chequear1"="Si"
"Seguridad1"="Ninguna"
"Puerto1"="110"
"Buzon2"="B"
"Host2"="pop.b.es"
"usuario2"="b"
"Codigo2"="{c:cb}"
"Chequear2"="No"
"Seguridad2"="SSL"
"Puerto2"="995"
"Huella2"="00112233445566778899AABBCCDDEEFF00112233445566778899AABBCCDDEEFF"
"Buzon3"="C"
"Host3"="pop.c.es"
"usuario3"="c"
"Codigo3"="{c:cc}"
"Chequear3"="Si"
"Seguridad3"="STLS"
"Puerto3"="1110"
"nBuzon"="3"

[L\Version]
"Numero"="2.0"

)")));
        QVERIFY(lee(autoarranque()).contains("\nExec=\"/usr/bin/pirel\"\nTryExec=/usr/bin/pirel\n"));

        // Autostart off removes the entry.
        e.ejecutarSiempre = false;
        QVERIFY(Guarda(r, o, tabla, copia, e, 0, {}, QStringLiteral("/usr/bin/pirel")).escrito);
        QVERIFY(!QFile::exists(autoarranque()));
        QCOMPARE(r.reemplazos(), 2); // the same table and options again: no write
    }

    void ficheroWav_data()
    {
        QTest::addColumn<QString>("que");
        QTest::addColumn<bool>("tomado");
        QTest::newRow("a regular file is taken") << QStringLiteral("fichero") << true;
        QTest::newRow("a link to one too") << QStringLiteral("enlace") << true;
        QTest::newRow("a folder is not") << QStringLiteral("carpeta") << false;
        QTest::newRow("nor a FIFO") << QStringLiteral("fifo") << false;
        QTest::newRow("nor a name of nothing") << QStringLiteral("nada") << false;
    }
    void ficheroWav()
    {
        QFETCH(QString, que);
        QFETCH(bool, tomado);
        const QString ruta = dir_->filePath(QStringLiteral("aviso.wav"));
        const QByteArray r8 = QFile::encodeName(ruta);
        if (que == u"fichero" || que == u"enlace") {
            QFile f(dir_->filePath(QStringLiteral("real.wav")));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        if (que == u"fichero")
            QVERIFY(QFile::rename(dir_->filePath(QStringLiteral("real.wav")), ruta));
        else if (que == u"enlace")
            QVERIFY(QFile::link(QStringLiteral("real.wav"), ruta));
        else if (que == u"carpeta")
            QVERIFY(QDir().mkpath(ruta));
        else if (que == u"fifo")
            QCOMPARE(::mkfifo(r8.constData(), 0600), 0);
        Registro r(fichero());
        TBuzon tabla, copia;
        copia.agregar("A", "pop.a.es", "a", "ca", true);
        TOpciones o;
        o.ficheroWav = "spirel.wav";
        EleccionDialogo e;
        e.ficheroWav = r8;
        e.frecuencia = 5;
        QVERIFY(Guarda(r, o, tabla, copia, e, 0, {}, QStringLiteral("/usr/bin/pirel")).escrito);
        QCOMPARE(o.ficheroWav, tomado ? r8 : QByteArray("spirel.wav"));
        QVERIFY(lee(fichero()).contains("\"Fichero Wav\"=\"" + o.ficheroWav + "\"\n"));
    }

    void guardarSinBuzonesNoEscribeNada()
    {
        guarda(expande(kVersion2));
        const QByteArray antes = lee(fichero());
        Registro r(fichero());
        TBuzon tabla, copia;
        TOpciones o;
        EleccionDialogo e;
        e.frecuencia = 20;
        e.beep = true;
        const Guardado g = Guarda(r, o, tabla, copia, e, 0, {}, QStringLiteral("/usr/bin/pirel"));
        QVERIFY(!g.escrito);
        QCOMPARE(g.intervalo, 20 * 60000);
        QCOMPARE(lee(fichero()), antes);
        QCOMPARE(opcionesEnTexto(o), QStringLiteral("20|Beep|||No|-"));
    }

    void autoarranqueQueNoSePuedeEscribir()
    {
        // A file where the folder should be fails for root as well.
        QFile tapon(dir_->filePath(QStringLiteral("autostart")));
        QVERIFY(tapon.open(QIODevice::WriteOnly));
        tapon.close();
        Registro r(fichero());
        TBuzon tabla, copia;
        copia.agregar("A", "pop.a.es", "a", "ca", true);
        TOpciones o;
        EleccionDialogo e;
        e.ejecutarSiempre = true;
        e.frecuencia = 5;
        try {
            (void)Guarda(r, o, tabla, copia, e, 0, {}, QStringLiteral("/usr/bin/pirel"));
            QFAIL("the log-on entry cannot be written");
        } catch (const ErrorAlmacen& error) {
            QCOMPARE(error.texto(), QStringLiteral("Failed to create key Run"));
        }
        QVERIFY2(lee(fichero()).contains("\"Animacion\"=\"No\""), "table, Numero and options are written first");

        QFile::remove(fichero());
        TOpciones primera;
        try {
            CargaAjustes(r, tabla, primera, QStringLiteral("/usr/bin/pirel"));
            QFAIL("a first run whose log-on entry cannot be written reports it");
        } catch (const ErrorAlmacen& error) {
            QCOMPARE(error.texto(), QStringLiteral("Failed to create key Run"));
        }
        QVERIFY(!primera.animacion);
        QVERIFY2(!QFile::exists(fichero()), "the registry file keeps what it held: nothing");
    }
};

QTEST_GUILESS_MAIN(TestAjustes)
#include "test_ajustes.moc"
