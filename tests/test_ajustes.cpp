// The settings store on disk and what the program keeps in it, against real files in a temporary configuration folder.
#include "ajustes.h"
#include "clave.h"
#include "error_almacen.h"
#include "orden.h"
#include "reg_ini.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace pirel;

namespace {

const QString kP = QStringLiteral("/usr/bin/pirel");
const QByteArray kHuella = "00112233445566778899AABBCCDDEEFF00112233445566778899AABBCCDDEEFF";
const QByteArray kCabecera = "Windows Registry Editor Version 5.00\n";

QByteArray contenido(const QString& f)
{
    QFile q(f);
    return q.open(QIODevice::ReadOnly) ? q.readAll() : QByteArray("(no existe)");
}

void pon(const QString& f, const QByteArray& d)
{
    QFile q(f);
    if (QDir().mkpath(QFileInfo(f).absolutePath()) && q.open(QIODevice::WriteOnly))
        q.write(d);
}

QString fallo(const std::function<void()>& f)
{
    try {
        f();
    } catch (const ErrorAlmacen& e) {
        return e.texto();
    }
    return {};
}

QString modo(const QString& f)
{
    struct stat i {};
    return ::stat(QFile::encodeName(f).constData(), &i) ? QString() : QString::number(i.st_mode & 0777, 8);
}

void escribe(Registro& r, const QString& n)
{
    Transaccion t(r);
    TRegIniFile(t, reg::kLudaren).WriteString(reg::kVersion, n, "2.1");
    t.confirma();
}

// A registry file written short: "[L" is the program's key, each key's values follow it as
// name=value pairs split by ';' (dword: and hex data unquoted), and {c:x} is x scrambled.
QByteArray expande(const QByteArray& corto)
{
    static const QRegularExpression kClave(QStringLiteral("\\[([^\\]]*)\\]([^\\[]*)"));
    static const QRegularExpression kCodigo(QStringLiteral("\\{c:([^}]*)\\}"));
    QString s = QString::fromUtf8(corto);
    QString r = QString::fromUtf8(kCabecera + "\n[HKEY_CURRENT_USER\\Software]\n\n");
    for (auto m = kCodigo.match(s); m.hasMatch(); m = kCodigo.match(s))
        s.replace(m.capturedStart(), m.capturedLength(), QString::fromLatin1(CodificaClave(m.captured(1).toLatin1())));
    for (const QRegularExpressionMatch& m : kClave.globalMatch(s)) {
        const QString ruta = m.captured(1);
        r += u'[' + (ruta.section(u'\\', 0, 0) == u"L" ? QStringLiteral("HKEY_CURRENT_USER\\Software\\Ludaren") + ruta.mid(1) : ruta)
             + QStringLiteral("]\n");
        for (const QString& par : m.captured(2).split(u';', Qt::SkipEmptyParts)) {
            const QString valor = par.section(u'=', 1);
            const QString crudo = valor.startsWith(u"dword:") || valor.startsWith(u"hex") ? valor : u'"' + valor + u'"';
            r += u'"' + par.section(u'=', 0, 0) + QStringLiteral("\"=") + crudo + u'\n';
        }
        r += u'\n';
    }
    return r.toUtf8();
}

QString opcionesEnTexto(const TOpciones& o)
{
    const char* sonidos[] = {"", "Beep", "Wave"};
    return QString::number(o.frecuencia)
           + QString::fromLatin1('|' + QByteArray(sonidos[static_cast<int>(o.sonido)]) + '|' + o.ficheroWav + '|' + o.gestorCorreo
                                 + (o.animacion ? "|Si|" : "|No|") + (o.ejecutarSiempre ? "autoarranque" : "-"));
}

QStringList tablaEnTexto(const TBuzon& t)
{
    QStringList r;
    for (int i = 1; i <= t.numBuzones(); ++i) {
        const Conexion& c = t.conexion(i);
        r << QString::fromLatin1(t.nombre(i) + '|' + t.host(i) + '|' + t.usuario(i) + '|' + t.clave(i)
                                 + (t.chequear(i) ? "|Si|" : "|No|")
                                 + (c.seguridad == Seguridad::SSL ? "SSL:" : c.seguridad == Seguridad::STLS ? "STLS:" : "Ninguna:")
                                 + QByteArray::number(c.puerto) + (c.huella.isEmpty() ? "" : ':' + c.huella));
    }
    return r;
}

const QByteArray kVersion2 = "[L][L\\Configuracion]frecuencia=10;Hacer Sonido=Wave;Fichero Wav=/usr/share/sounds/aviso.wav;Gestor de Correo=thunderbird;"
                             "Animacion=Si[L\\Configuracion\\Buzones]Buzon1=Casa;Host1=pop.casa.es;usuario1=ana;Codigo1={c:secreta};Chequear1=Si;"
                             "Buzon2=Trabajo;Host2=pop.trabajo.es;usuario2=ana.p;Codigo2={c:otra};Chequear2=si;nBuzon=2[L\\Version]Numero=2.0";
const QByteArray kVersion1 = "[L][L\\Configuracion]frecuencia=3;Host=pop.viejo.es;usuario=pepe;Codigo={c:vieja}[L\\Version]Numero=1.3";
const QByteArray kMovida = "[L][L\\Configuracion]frecuencia=3[L\\Configuracion\\Buzones]Buzon1=Buzon 1;Host1=pop.viejo.es;usuario1=pepe;"
                           "Codigo1={c:vieja};Chequear1=Si;Seguridad1=Ninguna;Puerto1=110;nBuzon=1[L\\Version]Numero=2.0";
const QString kCasa = QStringLiteral("Casa|pop.casa.es|ana|secreta|Si|Ninguna:110");
const QString kTrabajo = QStringLiteral("Trabajo|pop.trabajo.es|ana.p|otra|No|");
const QString kFaltaNBuzon = QStringLiteral("'Error' is not a valid integer value");
const QString kOpciones2 = QStringLiteral("10|Wave|/usr/share/sounds/aviso.wav|thunderbird|Si|-");

}

class TestAjustes : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    QString fichero() const { return dir_->filePath(QStringLiteral("Ludaren/registro.reg")); }
    QString carpeta() const { return dir_->filePath(QStringLiteral("Ludaren")); }
    QString autoarranque() const { return dir_->filePath(QStringLiteral("autostart/ludaren-electronico.desktop")); }
    // What a write that failed halfway would leave.
    static QStringList temporales(const QString& d)
    {
        return QDir(d).entryList({QStringLiteral("registro.reg.??????")}, QDir::AllEntries | QDir::System);
    }

private slots:
    void init()
    {
        // Thousands of files cut short: in memory, no disk has to discard their blocks.
        dir_ = std::make_unique<QTemporaryDir>((QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath())
                                               + "/pirel-XXXXXX");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_->path()));
    }

    void dosEscritoresNoPierdenCambios()
    {
        // Each adds values of its own: without the lock one would write over the other's.
        const pid_t hijo = ::fork();
        Registro propio(fichero());
        for (int i = 0; i < 40; ++i)
            escribe(propio, QLatin1String(hijo == 0 ? "a" : "b") + QString::number(i));
        if (hijo == 0)
            ::_exit(0);
        int estado = -1;
        QVERIFY(::waitpid(hijo, &estado, 0) == hijo && estado == 0);
        QCOMPARE(propio.lee().busca(QStringLiteral("HKEY_CURRENT_USER\\Software\\Ludaren\\Version"))->numValores(), 80);
        QCOMPARE(modo(carpeta()), QStringLiteral("700"));
    }

    void ficheros_data()
    {
        // The file (<...>: no regular file, or one behind a link); the value "V" of the key "Otro", or part of the error;
        // what a write keeps of the file, or its error.
        QTest::addColumn<QByteArray>("datos");
        QTest::addColumn<QByteArray>("leido");
        QTest::addColumn<QByteArray>("escrito");
        const auto fila = [](const char* n, const QByteArray& d, const QByteArray& l, const QByteArray& e = {}) {
            QTest::newRow(n) << d << l << e;
        };
        // A value between two others; a write of another value keeps it exactly, as it was read, in a file rewritten as UTF-8.
        const auto valor = [&](const char* n, const QByteArray& linea, const QByteArray& leido, const QByteArray& escrito = {},
                               bool regedit4 = false) {
            const QByteArray cuerpo = "[HKEY_CURRENT_USER\\Software\\Ludaren\\Otro]\n\"Antes\"=\"a\"\n" + linea + "\n\"Despues\"=\"b\"\n\n";
            fila(n,
                 regedit4 ? "REGEDIT4\r\n\r\n" + QByteArray(cuerpo).replace("\n", "\r\n") : kCabecera + '\n' + cuerpo,
                 leido,
                 "Otro]\n\"Antes\"=\"a\"\n" + QByteArray(escrito.isEmpty() ? linea : escrito).replace("\r", "") + "\n\"Despues\"=\"b\"\n");
        };
        const QByteArray binario = "\"V\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\n  17,18,19,1a";
        valor("backslashes and quotes", "\"V\"=\"C:\\\\Archivos \\\"de\\\" programa\"", "C:\\Archivos \"de\" programa");
        valor("a binary value wraps as the editor does", QByteArray(binario).replace(",\\\n  17,18", ",17,\\\r\n    18"), "Invalid data type for 'v'", binario);
        valor("REGEDIT4, 8-bit", "\"V\"=\"Pe\xF1" "a\"", "Pe\xF1" "a", "\"V\"=\"Peña\"", true);
        // Damaged, hostile or special files are refused, naming the file, and never written over.
        fila("unclosed text", kCabecera + "[A]\n\"a\"=\"b\n", "(línea 3): texto mal cerrado. No se ha modificado.");
        fila("a dword of nine digits, even with a leading zero", "REGEDIT4\n[A]\n\"a\"=dword:00000000a\n", "(línea 3)");
        fila("invalid UTF-8", kCabecera + "[A]\n\"a\"=\"\xC3\x28\"\n", "(línea 3): el texto no es UTF-8 válido");
        fila("a key 513 levels deep", kCabecera + "[A" + QByteArray("\\a").repeated(512) + "]\n", "(línea 2): más de 512 niveles de claves");
        fila("16 MiB: read, but never written longer than can be read",
             kCabecera + "[A]\n\"V\"=\"" + QByteArray((16 << 20) - kCabecera.size() - 11, 'x') + "\"\n", "(ninguno)",
             "Failed to create key Version");
        fila("one byte more", kCabecera + ';' + QByteArray((16 << 20) - kCabecera.size() - 1, 'x') + '\n', "es demasiado grande");
        for (const char* especial : {"<fifo>", "<enlace a un fifo>", "<enlace a un dispositivo>"})
            fila(especial, especial, "no es un fichero normal");
    }
    void ficheros()
    {
        QFETCH(QByteArray, datos);
        QFETCH(QByteArray, leido);
        QFETCH(QByteArray, escrito);
        const QByteArray ruta = QFile::encodeName(fichero());
        const bool especial = datos.startsWith('<'), fifo = datos.contains("fifo"), enlace = datos.startsWith("<enlace");
        QVERIFY(QDir().mkpath(carpeta()));
        if (!especial)
            pon(fichero(), datos);
        else // opening a FIFO to read waits for a writer: the store must not
            QVERIFY((!fifo || ::mkfifo(enlace ? qPrintable(carpeta() + "/tubo") : ruta.constData(), 0600) == 0)
                    && (!enlace || QFile::link(fifo ? QStringLiteral("tubo") : QStringLiteral("/dev/zero"), fichero())));
        struct stat antes {}, despues {};
        QCOMPARE(::lstat(ruta.constData(), &antes), 0);
        Registro r(fichero());
        QByteArray visto;
        const QString error = fallo([&] {
            Transaccion t(r); // names in any case
            visto = TRegIniFile(t, QStringLiteral("SOFTWARE\\ludaren"))
                        .ReadString(QStringLiteral("OTRO"), QStringLiteral("v"), "(ninguno)");
        });
        QVERIFY2(error.isEmpty() ? visto == leido
                                 : error == leido || (error.contains(QString::fromUtf8(leido)) && error.contains(fichero())),
                 qPrintable(error));
        const bool legible = error.isEmpty() || error == leido;
        const bool escrita = legible && !escrito.startsWith("Failed");
        QCOMPARE(fallo([&] { escribe(r, QStringLiteral("Numero")); }), escrita ? QString() : legible ? QString::fromUtf8(escrito) : error);
        if (escrita) {
            escribe(r, QStringLiteral("NUMERO"));
            const QByteArray ahora = contenido(fichero());
            QVERIFY2(ahora.startsWith(kCabecera + '\n') && ahora.endsWith("Version]\n\"Numero\"=\"2.1\"\n\n") && ahora.contains(escrito),
                     ahora.constData());
            QCOMPARE(modo(fichero()), QStringLiteral("600"));
        } else {
            QVERIFY(::lstat(ruta.constData(), &despues) == 0
                    && (especial ? despues.st_mode == antes.st_mode : contenido(fichero()) == datos));
        }
        QCOMPARE(r.reemplazos(), escrita ? 1 : 0);
        QCOMPARE(temporales(carpeta()), QStringList());
    }

    void discoLlenoEnCadaPosicion()
    {
        // A file size limit fails writes as a full disk does, at any byte. Every cut of a save leaves the old
        // file and its error, or the whole new file, written once; and never a temporary file.
        const QByteArray antes = expande("[L][L\\Configuracion]frecuencia=5[L\\Configuracion\\Buzones]nBuzon=0[L\\Version]Numero=2.0"
                                         "[L\\Otro]V=hex:" + QByteArray(300, '*').toHex(','));
        rlimit tope {};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &tope) == 0 && std::signal(SIGXFSZ, SIG_IGN) != SIG_ERR);
        const rlim_t sinLimite = tope.rlim_cur;
        const auto ejecuta = [&](rlim_t limite) {
            pon(fichero(), antes);
            Registro r(fichero());
            TBuzon tabla, copia;
            TOpciones o;
            copia.agregar("A", "pop.a.es", "a", "ca", true);
            tope.rlim_cur = limite;
            ::setrlimit(RLIMIT_FSIZE, &tope);
            const QString texto = fallo([&] { (void)Guarda(r, o, tabla, copia, {{}, {}, false, true, false, false, 10}, 0, {}, kP); });
            tope.rlim_cur = sinLimite;
            ::setrlimit(RLIMIT_FSIZE, &tope);
            return std::make_pair(r.reemplazos() <= 1 ? texto : QStringLiteral("(written twice)"), contenido(fichero()));
        };
        const auto [conSitio, nuevo] = ejecuta(sinLimite);
        QVERIFY(conSitio.isEmpty() && nuevo != antes);
        int viejos = 0;
        for (qsizetype corte = 0; corte <= nuevo.size(); ++corte) {
            const auto [texto, ahora] = ejecuta(static_cast<rlim_t>(corte));
            const bool viejo = ahora == antes && texto == u"Failed to create key Buzones";
            QVERIFY2((viejo || (ahora == nuevo && texto.isEmpty())) && temporales(carpeta()).isEmpty(),
                     qPrintable(QStringLiteral("cut at %1: %2, %3 bytes").arg(corte).arg(texto).arg(ahora.size())));
            viejos += viejo;
        }
        QVERIFY(viejos > 0);
    }

    void claveYOrden()
    {
        // The key starts again past its 28th character: old passwords read as ever.
        const QByteArray llave = "RoVaLuN&QtZ482QtZ&RoVaLuN482";
        QByteArray clave, codigo;
        for (int i = 0; i < 128; ++i) {
            clave += i == 3 ? '\0' : i == 5 ? '\xFF' : static_cast<char>(i * 37 + 5);
            codigo += QByteArray::number(static_cast<uchar>(clave[i] ^ llave[i % 28]), 16).rightJustified(2, '0').toUpper();
        }
        QCOMPARE(CodificaClave(clave), codigo);
        QCOMPARE(DecodificaClave(codigo), clave);
        // A picked path is one quoted word; older versions stored it bare, and a line that names an executable is one program.
        const QString correo = dir_->filePath(QStringLiteral("Mis programas/correo")), raro = QStringLiteral("\"a\" b \"");
        pon(correo, "#!/bin/sh\n");
        QVERIFY(QFile::setPermissions(correo, QFile::ReadOwner | QFile::ExeOwner));
        QCOMPARE(PartesDeOrden(ComillasOrden(raro)) + PartesDeOrden(correo), (QStringList{raro, correo}));
    }

    void carga_data()
    {
        // The file before and after (empty: as it was); the error, the options and the table; the program's path.
        QTest::addColumn<QByteArray>("entrada");
        QTest::addColumn<QByteArray>("salida");
        QTest::addColumn<QStringList>("estado");
        QTest::addColumn<QString>("programa");
        const auto fila = [](const char* n, const QByteArray& de, const QByteArray& a, const QString& error, const QString& opciones,
                             const QStringList& tabla = {}, const QString& p = kP) {
            QTest::newRow(n) << de << a << QStringList{error, opciones} + tabla << p;
        };
        const auto v2 = [&](const QString& n, const QByteArray& de, const QByteArray& a, const QString& segundo = "Ninguna:110",
                            const QString& opciones = kOpciones2) {
            fila(qPrintable(n), QByteArray(kVersion2).replace(de, a), "", {}, opciones, {kCasa, kTrabajo + segundo});
        };
        fila("a store without Version is a first run that writes only the log-on entry, by its exact path", "[L]", "", {},
             "5|Beep|spirel.wav||Si|autoarranque", {}, QStringLiteral("/home/ана/Программы/pirel"));
        v2("Numero 2.0 runs no step and rewrites nothing; si is not Si", "", "");
        v2("SSL with no port, pinned as openssl prints it", "nBuzon",
           "Seguridad2=SSL;Huella2=" + QByteArray::fromHex(kHuella).toHex(':') + ";nBuzon", "SSL:995:" + kHuella);
        v2("a pin that is not 64 hex digits is dropped", "nBuzon", "Seguridad2=SSL;Huella2=" + kHuella.chopped(1) + "G;nBuzon", "SSL:995");
        // A damaged security may fail a check; it must never send a password in clear.
        for (const char* otra : {"ssl", "TLS", "", "Ninguna "})
            v2(QStringLiteral("the security \"%1\" is SSL").arg(otra), "nBuzon", "Seguridad2=" + QByteArray(otra) + ";nBuzon", "SSL:995");
        // others: the default
        for (const QByteArray& puerto : QByteArray("65535:65535;02110:2110;0;65536;001110;abc; 995;+995;-1").split(';'))
            v2(QStringLiteral("the port \"%1\"").arg(puerto), "nBuzon", "Seguridad2=SSL;Puerto2=" + puerto.split(':')[0] + ";nBuzon",
               "SSL:" + (puerto.contains(':') ? puerto.split(':').last() : "995"));
        fila("Numero 1.3 moves the single mailbox into the table", kVersion1, kMovida, {}, "3||||No|-",
             {"Buzon 1|pop.viejo.es|pepe|vieja|Si|Ninguna:110"});
        fila("the version-1 step with an empty user drops the old values and moves nothing", QByteArray(kVersion1).replace("pepe", ""),
             "[L][L\\Configuracion]frecuencia=3[L\\Version]Numero=2.0", kFaltaNBuzon, "5||||No|-");
        const QStringList veinte = QStringList{kCasa, kTrabajo + "Ninguna:110"}
                                   + QStringList(18, QString::fromLatin1("Error|Error|Error|\x8D\x80|No|Ninguna:110"));
        fila("an nBuzon above 20 is cut to 20", QByteArray(kVersion2).replace("nBuzon=2", "nBuzon=99"), "", {}, kOpciones2, veinte);
    }
    void carga()
    {
        QFETCH(QByteArray, entrada);
        QFETCH(QByteArray, salida);
        QFETCH(QStringList, estado);
        QFETCH(QString, programa);
        pon(fichero(), expande(entrada));
        Registro r(fichero());
        TBuzon t;
        TOpciones o;
        Arranque a = Arranque::Configurado;
        const QString error = fallo([&] { a = CargaAjustes(r, t, o, programa); });
        QCOMPARE((QStringList{error, opcionesEnTexto(o)} + tablaEnTexto(t)), estado);
        QCOMPARE(QString::fromUtf8(contenido(fichero())), QString::fromUtf8(expande(salida.isEmpty() ? entrada : salida)));
        QCOMPARE(a == Arranque::PrimeraVez, estado[1].startsWith(u"5|Beep"));
        QCOMPARE(r.reemplazos() == 0, salida.isEmpty());
        QCOMPARE(contenido(autoarranque()).contains("\nExec=\"" + programa.toUtf8() + "\"\n"), estado[1].endsWith(u"autoarranque"));
    }

    void guardar_data()
    {
        QTest::addColumn<QString>("que"); // what the chosen aviso.wav is, or what is wrong
        for (const char* que : {"nada", "enlace", "carpeta", "sin buzones", "autostart bloqueado"})
            QTest::newRow(que) << QString::fromLatin1(que);
    }
    void guardar()
    {
        QFETCH(QString, que);
        const bool tomado = que == u"enlace", bloqueado = que.startsWith(u"autostart"), vacia = que == u"sin buzones";
        // Stale slots up to five, pinned: none may stay behind.
        const QByteArray antes = expande("[L][L\\Configuracion\\Buzones]Huella1=" + kHuella + ";Buzon4=D;Huella4=" + kHuella + ";nBuzon=5");
        const QString wav = dir_->filePath(QStringLiteral("aviso.wav")), real = dir_->filePath(QStringLiteral("real.wav"));
        // as the desktop entry escapes it
        const QString programa = QStringLiteral("/home/ана/日本 \"programas\"/$HOME/100%/a\\b\tc/pirel");
        pon(fichero(), antes);
        pon(real, "RIFF");
        // a file where the folder goes fails for root too
        pon(dir_->filePath(bloqueado ? QStringLiteral("autostart") : QStringLiteral("otro")), "");
        QVERIFY(tomado ? QFile::link(real, wav) : que != u"carpeta" || QDir().mkpath(wav));
        Registro r(fichero());
        TBuzon tabla, copia;
        TOpciones o;
        Guardado g;
        o.ficheroWav = "spirel.wav";
        if (!vacia) {
            copia.agregar("A", "pop.a.es", "a", "ca", true);
            copia.agregar("B", "pop.b.es", "b", "cb", false, {Seguridad::SSL, 995, kHuella});
        }
        EleccionDialogo e{QFile::encodeName(wav), "C:\\Archivos \"de\" programa \x80", true, true, false, true, 15};
        QCOMPARE(fallo([&] {
                     g = Guarda(r, o, tabla, copia, e, 0,
                                [](TBuzon& c) { c.agregar("C", "pop.c.es", "c", "cc", true, {Seguridad::STLS, 1110, {}}); }, programa);
                 }),
                 bloqueado ? QStringLiteral("Failed to create key Run") : QString());
        const QByteArray sonido = tomado ? QFile::encodeName(wav) : "spirel.wav";
        QCOMPARE(opcionesEnTexto(o), QString::fromLatin1("15|Beep|" + sonido + "|C:\\Archivos \"de\" programa \x80|Si|autoarranque"));
        QVERIFY(g.escrito == (!vacia && !bloqueado) && g.intervalo == (bloqueado ? 0 : 15 * 60000));
        QCOMPARE(QString::fromUtf8(contenido(fichero())), QString::fromUtf8(vacia ? antes : expande(
            "[L][L\\Configuracion]frecuencia=15;Hacer Sonido=Beep;Fichero Wav=" + sonido
            + ";Gestor de Correo=C:\\\\Archivos \\\"de\\\" programa €;"
              "Animacion=Si[L\\Configuracion\\Buzones]Buzon1=A;Host1=pop.a.es;usuario1=a;Codigo1={c:ca};Chequear1=Si;Seguridad1=Ninguna;"
              "Puerto1=110;Buzon2=B;Host2=pop.b.es;usuario2=b;Codigo2={c:cb};Chequear2=No;Seguridad2=SSL;Puerto2=995;Huella2="
            + kHuella
            + ";Buzon3=C;Host3=pop.c.es;usuario3=c;Codigo3={c:cc};Chequear3=Si;Seguridad3=STLS;Puerto3=1110;nBuzon=3"
              "[L\\Version]Numero=2.0")));
        if (vacia || bloqueado)
            return;
        QVERIFY(contenido(autoarranque()).contains("\nExec=\"/home/ана/日本 \\\\\"programas\\\\\"/\\\\$HOME/100%%/a\\\\\\\\b\\tc/pirel\"\n"
                                                   "TryExec=/home/ана/日本 \"programas\"/$HOME/100%/a\\\\b\\tc/pirel\n"));
        // Autostart off removes the entry; the same table and options again write nothing.
        e.ejecutarSiempre = false;
        QVERIFY(Guarda(r, o, tabla, copia, e, 0, {}, programa).escrito && !QFile::exists(autoarranque()));
        QCOMPARE(r.reemplazos(), 1);
        // An entry written by hand starts the program; the desktop's ways of switching it off do not.
        for (const char* fin : {"Hidden=true\n", "X-GNOME-Autostart-enabled=false\n", ""}) {
            pon(autoarranque(), "[Desktop Entry]\nType=Application\nExec=/usr/bin/pirel\n" + QByteArray(fin));
            QCOMPARE(TRegMaquina(reg::kWindowsActual).ReadString(reg::kRun, reg::kEntradaRun, QStringLiteral("Error")) == kP,
                     !*fin);
        }
    }
};

QTEST_GUILESS_MAIN(TestAjustes)
#include "test_ajustes.moc"
