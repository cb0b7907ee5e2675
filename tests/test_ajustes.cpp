// The settings store on disk and what the program keeps in it: values byte-exact, damaged and
// special files never written over, a disk that fills at any byte, two writers at once, the load
// with its migrations, the save, the log-on entry, scrambled passwords, the mail program's line.
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

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace pirel;

namespace {

const QString kP = QStringLiteral("/usr/bin/pirel");
const QByteArray kHuella = "00112233445566778899AABBCCDDEEFF00112233445566778899AABBCCDDEEFF";

QByteArray contenido(const QString& f)
{
    QFile q(f);
    return q.open(QIODevice::ReadOnly) ? q.readAll() : QByteArray("(no existe)");
}

void pon(const QString& f, const QByteArray& datos)
{
    QDir().mkpath(QFileInfo(f).absolutePath());
    QFile q(f);
    if (q.open(QIODevice::WriteOnly | QIODevice::Truncate))
        q.write(datos);
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

// A registry file written short: "[L" is the program's key, each key's values follow it as
// name=value pairs split by ';' (dword: and hex data unquoted), and {c:x} is x scrambled.
QByteArray expande(const QByteArray& corto)
{
    static const QRegularExpression kClave(QStringLiteral("\\[([^\\]]*)\\]([^\\[]*)")), kCodigo(QStringLiteral("\\{c:([^}]*)\\}"));
    QString s = QString::fromUtf8(corto), r = QStringLiteral("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software]\n\n");
    for (auto m = kCodigo.match(s); m.hasMatch(); m = kCodigo.match(s))
        s.replace(m.capturedStart(), m.capturedLength(), QString::fromLatin1(CodificaClave(m.captured(1).toLatin1())));
    for (const QRegularExpressionMatch& m : kClave.globalMatch(s)) {
        const QString ruta = m.captured(1);
        r += u'[' + (ruta == u"L" || ruta.startsWith(u"L\\") ? QStringLiteral("HKEY_CURRENT_USER\\Software\\Ludaren") + ruta.mid(1) : ruta) + QStringLiteral("]\n");
        for (const QString& par : m.captured(2).split(u';', Qt::SkipEmptyParts)) {
            const QString valor = par.section(u'=', 1);
            const bool crudo = valor.startsWith(u"dword:") || valor.startsWith(u"hex");
            r += u'"' + par.section(u'=', 0, 0) + QStringLiteral("\"=") + (crudo ? valor : u'"' + valor + u'"') + u'\n';
        }
        r += u'\n';
    }
    return r.toUtf8();
}

QByteArray enUtf16(const QByteArray& utf8)
{
    const QString texto = QString::fromUtf8(utf8).replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return "\xFF\xFE" + QByteArray(reinterpret_cast<const char*>(texto.utf16()), texto.size() * 2);
}

// One transaction on the program's key.
void escribe(Registro& r, const QString& nombre, const QByteArray& valor = "2.1")
{
    Transaccion t(r);
    TRegIniFile(t, reg::kLudaren).WriteString(QStringLiteral("Version"), nombre, valor);
    t.confirma();
}

QString opcionesEnTexto(const TOpciones& o)
{
    const char* sonidos[] = {"", "Beep", "Wave"};
    return QStringList{o.frecuenciaFalta ? QStringLiteral("falta") : !o.frecuenciaError.isEmpty() ? o.frecuenciaError
                                                                                                 : QString::number(o.frecuencia),
                       sonidos[static_cast<int>(o.sonido)], QString::fromLatin1(o.ficheroWav), QString::fromLatin1(o.gestorCorreo),
                       o.animacion ? "Si" : "No", o.ejecutarSiempre ? "autoarranque" : "-"}
        .join(u'|');
}

QStringList tablaEnTexto(const TBuzon& t)
{
    QStringList r;
    for (int i = 1; i <= t.numBuzones(); ++i) {
        const Conexion& c = t.conexion(i);
        const char* modo = c.seguridad == Seguridad::SSL ? "SSL" : c.seguridad == Seguridad::STLS ? "STLS" : "Ninguna";
        r << QString::fromLatin1(t.nombre(i) + '|' + t.host(i) + '|' + t.usuario(i) + '|' + t.clave(i) + (t.chequear(i) ? "|Si|" : "|No|")
                                 + modo + ':' + QByteArray::number(c.puerto) + (c.huella.isEmpty() ? "" : ':' + c.huella));
    }
    return r;
}

const QByteArray kVersion2 = "[L][L\\Configuracion]frecuencia=10;Hacer Sonido=Wave;Fichero Wav=/usr/share/sounds/aviso.wav;"
                             "Gestor de Correo=thunderbird;Animacion=Si[L\\Configuracion\\Buzones]Buzon1=Casa;Host1=pop.casa.es;"
                             "usuario1=ana;Codigo1={c:secreta};Chequear1=Si;Buzon2=Trabajo;Host2=pop.trabajo.es;usuario2=ana.p;"
                             "Codigo2={c:otra};Chequear2=si;nBuzon=2[L\\Version]Numero=2.0";
const QByteArray kVersion1 = "[L][L\\Configuracion]frecuencia=3;Host=pop.viejo.es;usuario=pepe;Codigo={c:vieja}[L\\Version]Numero=1.3";
const QByteArray kMovida = "[L][L\\Configuracion]frecuencia=3[L\\Configuracion\\Buzones]Buzon1=Buzon 1;Host1=pop.viejo.es;"
                           "usuario1=pepe;Codigo1={c:vieja};Chequear1=Si;Seguridad1=Ninguna;Puerto1=110;nBuzon=1[L\\Version]Numero=2.0";
const QString kTablaV2a = QStringLiteral("Casa|pop.casa.es|ana|secreta|Si|Ninguna:110");
const QString kTablaMovida = QStringLiteral("Buzon 1|pop.viejo.es|pepe|vieja|Si|Ninguna:110");
const QString kFaltaNBuzon = QStringLiteral("'Error' is not a valid integer value");
const QString kOpciones2 = QStringLiteral("10|Wave|/usr/share/sounds/aviso.wav|thunderbird|Si|-");


}

class TestAjustes : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    QString fichero() const { return dir_->filePath(QStringLiteral("Ludaren/registro.reg")); }
    QString carpeta() const { return dir_->filePath(QStringLiteral("Ludaren")); }
    QString autoarranque() const { return dir_->filePath(QStringLiteral("autostart/ludaren-electronico.desktop")); }
    // What a write that failed halfway would leave: registro.reg.XXXXXX.
    QStringList temporales(const QString& donde) const
    {
        QStringList r = QDir(donde).entryList(QDir::AllEntries | QDir::Hidden | QDir::System).filter(QStringLiteral("registro.reg."));
        r.removeAll(QStringLiteral("registro.reg.lock"));
        return r;
    }
    QString modo(const QString& ruta) const
    {
        struct stat info {};
        return ::stat(QFile::encodeName(ruta).constData(), &info) == 0 ? QString::number(info.st_mode & 0777, 8) : QString();
    }

private slots:
    void init()
    {
        // Thousands of files cut short: in memory, no disk has to discard their blocks.
        const bool shm = QDir(QStringLiteral("/dev/shm")).exists();
        dir_ = std::make_unique<QTemporaryDir>(shm ? QStringLiteral("/dev/shm/pirel-XXXXXX") : QDir::tempPath() + QStringLiteral("/pirel-XXXXXX"));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_->path()));
    }

    void ficheros_data()
    {
        QTest::addColumn<QByteArray>("datos"); // <...>: no regular file, or one behind a link
        QTest::addColumn<QByteArray>("leido"); // the value "V" of the key "Otro", or part of the error
        QTest::addColumn<QByteArray>("escrito"); // what a write keeps of the file, or its error
        const auto fila = [](const char* n, const QByteArray& datos, const QByteArray& leido, const QByteArray& escrito = {}) {
            QTest::newRow(n) << datos << leido << escrito;
        };
        // A value between two others: a write of another value keeps it exactly, in the form it
        // was read, in a file rewritten as UTF-8.
        const QByteArray cabecera = "Windows Registry Editor Version 5.00\n";
        const auto valor = [&](const char* n, const QByteArray& linea, const QByteArray& leido, const QByteArray& escrito = {}, int forma = 0) {
            const QByteArray cuerpo = "[HKEY_CURRENT_USER\\Software\\Ludaren\\Otro]\n\"Antes\"=\"a\"\n" + linea + "\n\"Despues\"=\"b\"\n\n";
            fila(n, forma == 2 ? "REGEDIT4\r\n\r\n" + QByteArray(cuerpo).replace("\n", "\r\n") : forma == 1 ? enUtf16(cabecera + '\n' + cuerpo) : cabecera + '\n' + cuerpo,
                 leido, "Otro]\n\"Antes\"=\"a\"\n" + QByteArray(escrito.isEmpty() ? linea : escrito).replace("\r", "") + "\n\"Despues\"=\"b\"\n");
        };
        const QByteArray binario = "\"V\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\n  17,18,19,1a";
        const QByteArray ajena = "Invalid data type for 'v'";
        valor("backslashes and quotes", "\"V\"=\"C:\\\\Archivos \\\"de\\\" programa\"", "C:\\Archivos \"de\" programa");
        valor("UTF-8 in Windows-1252", "\"V\"=\"Electrónico €\"", "Electr\xF3nico \x80");
        valor("texts beyond Windows-1252", "\"V\"=\"\xCE\xA9mega \xE2\x80\x93 \xE6\x97\xA5\"", "?mega \x96 ?");
        valor("a line break keeps hex(1)", "\"V\"=hex(1):61,00,0d,00,0a,00,62,00,00,00", "a\r\nb");
        valor("a dword of eight digits is no text", "\"V\"=dword:0000000a", ajena);
        valor("nor a type of its own", "\"V\"=hex(ffffffff):01", ajena);
        valor("a binary value wraps as the editor does", QByteArray(binario).replace(",\\\n  17,18", ",17,\\\r\n    18"), ajena, binario);
        valor("an expandable text, unexpanded", "\"V\"=hex(2):25,00,48,00,4f,00,4d,00,45,00,25,00,00,00", "%HOME%");
        valor("a text ends at its first zero", "\"V\"=hex(1):61,00,00,00,62,00,00,00", "a");
        valor("a text of odd length", "\"V\"=hex(1):61,00,62", "a");
        valor("a lone surrogate", "\"V\"=hex(1):00,d8,41,00,00,00", "?A");
        valor("a text in hex that quotes can hold", "\"V\"=hex(1):61,00,00,00", "a", "\"V\"=\"a\"");
        valor("the default value", "@=\"por defecto\"", "(ninguno)");
        valor("after a comment ending in a backslash", "; C:\\\n\"V\"=\"leido\"", "leido", "\"V\"=\"leido\"");
        valor("UTF-16", "\"V\"=\"Ñandú\"", "\xD1" "and\xFA", {}, 1);
        valor("REGEDIT4, 8-bit", "\"V\"=\"Pe\xF1" "a\"", "Pe\xF1" "a", "\"V\"=\"Peña\"", 2);
        valor("REGEDIT4 binary texts become UTF-16", "\"V\"=hex(2):61,80,00", "a\x80", "\"V\"=hex(2):61,00,ac,20,00,00", 2);
        fila("the file links to a file in another folder", "<fichero enlazado>", "x", "Otro]\n\"V\"=\"x\"\n");
        fila("the folder links to a folder of mode 0755", "<carpeta enlazada>", "x", "Otro]\n\"V\"=\"x\"\n");
        // Damaged, hostile or special files are refused, naming the file, and never written over.
        fila("no header", "[HKEY_CURRENT_USER\\Software]\n", "(línea 1)");
        fila("unclosed key", "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\n", "(línea 3): clave mal cerrada");
        fila("value before any key", "REGEDIT4\n\"a\"=\"b\"\n", "(línea 2)");
        fila("unclosed text", cabecera + "[A]\n\"a\"=\"b\n", "(línea 3): texto mal cerrado. No se ha modificado.");
        fila("unclosed after a comment ending in a backslash", "REGEDIT4\n[A]\n; C:\\\n\"a\"=\"b\n", "(línea 4): texto mal cerrado");
        fila("bad hex", "REGEDIT4\n[A]\n\n\"a\"=hex:0g\n", "(línea 4)");
        fila("a dword of nine digits", "REGEDIT4\n[A]\n\"a\"=dword:123456789\n", "(línea 3)");
        fila("invalid UTF-8", cabecera + "[A]\n\"a\"=\"\xC3\x28\"\n", "(línea 3): el texto no es UTF-8 válido");
        fila("odd UTF-16", QByteArray("\xFF\xFE" "R\0E\0G", 7), "(línea 1): el texto UTF-16 tiene un número impar");
        fila("UTF-16 cut between code units", enUtf16(cabecera + "[A]\n\"a\"=\"bc\"\n").chopped(8), "(línea 3): texto mal cerrado");
        fila("a key 513 levels deep", cabecera + "[A" + QByteArray("\\a").repeated(512) + "]\n", "(línea 2): más de 512 niveles de claves");
        QByteArray claves = cabecera, valores = cabecera + "[A]\n", honda = "[HKEY_CURRENT_USER";
        for (int i = 0; i < 50000; ++i)
            claves += "[A\\" + QByteArray::number(i) + "\\b]\n";
        for (int i = 0; i <= 500000; ++i)
            valores += '"' + QByteArray::number(i, 36) + "\"=\"\"\n";
        for (int i = 1; i < 512; ++i)
            honda += '\\' + QByteArray(200, 'a');
        fila("more than 100000 keys", claves, "(línea 50001): más de 100000 claves");
        fila("more than 500000 values", valores, "(línea 500003): más de 500000 valores");
        // Written, each key would repeat the whole path above it: more than can be read.
        fila("keys 512 deep", cabecera + honda + "]\n\"V\"=\"x\"\n", "(ninguno)", "Failed to create key Version");
        fila("16 MiB", cabecera + ';' + QByteArray((16 << 20) - cabecera.size() - 2, 'x') + '\n', "(ninguno)", "\n");
        fila("one byte more", cabecera + ';' + QByteArray((16 << 20) - cabecera.size() - 1, 'x') + '\n', "es demasiado grande");
        for (const char* especial : {"<carpeta>", "<fifo>", "<enlace a un fifo>", "<enlace a un dispositivo>"})
            fila(especial, especial, "no es un fichero normal");
    }
    void ficheros()
    {
        QFETCH(QByteArray, datos);
        QFETCH(QByteArray, leido);
        QFETCH(QByteArray, escrito);
        const QByteArray ruta = QFile::encodeName(fichero()), tubo = QFile::encodeName(carpeta() + QStringLiteral("/tubo"));
        const QString otra = dir_->filePath(QStringLiteral("otra"));
        const bool especial = datos.startsWith('<'), enlazado = datos.contains("enlazad");
        QVERIFY(QDir().mkpath(carpeta()) && QDir().mkpath(otra) && ::chmod(QFile::encodeName(otra).constData(), 0755) == 0);
        if (!especial) {
            pon(fichero(), datos);
        } else if (enlazado) {
            pon(otra + QStringLiteral("/registro.reg"), "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Ludaren\\Otro]\n\"V\"=\"x\"\n");
            QVERIFY(datos.startsWith("<carpeta") ? QDir(carpeta()).removeRecursively() && ::symlink("otra", QFile::encodeName(carpeta()).constData()) == 0
                                                 : ::symlink("../otra/registro.reg", ruta.constData()) == 0);
        } else if (datos == "<carpeta>") {
            QVERIFY(QDir().mkpath(fichero()));
        } else if (datos.contains("dispositivo")) {
            QCOMPARE(::symlink("/dev/zero", ruta.constData()), 0);
        } else { // Opening a FIFO to read waits for a writer: the store must not.
            QVERIFY(::mkfifo(datos == "<fifo>" ? ruta.constData() : tubo.constData(), 0600) == 0 && (datos == "<fifo>" || ::symlink("tubo", ruta.constData()) == 0));
        }
        struct stat antes {}, despues {};
        QCOMPARE(::lstat(ruta.constData(), &antes), 0);
        Registro r(fichero());
        QByteArray visto;
        const QString error = fallo([&] {
            Transaccion t(r); // names in any case
            visto = TRegIniFile(t, QStringLiteral("SOFTWARE\\ludaren")).ReadString(QStringLiteral("OTRO"), QStringLiteral("v"), "(ninguno)");
        });
        QVERIFY2(error.isEmpty() ? visto == leido : error == leido || (error.contains(QString::fromUtf8(leido)) && error.contains(fichero())),
                 qPrintable(error + visto));
        const bool legible = error.isEmpty() || error == leido, escrita = legible && !escrito.startsWith("Failed");
        QCOMPARE(fallo([&] { escribe(r, QStringLiteral("Numero")); }), escrita ? QString() : legible ? QString::fromUtf8(escrito) : error);
        if (escrita) {
            escribe(r, QStringLiteral("NUMERO"));
            const QByteArray ahora = contenido(fichero());
            QVERIFY2(ahora.startsWith("Windows Registry Editor Version 5.00\n\n") && ahora.endsWith("Version]\n\"Numero\"=\"2.1\"\n\n") && ahora.contains(escrito), ahora.constData());
            QCOMPARE(modo(fichero()) + modo(otra), QStringLiteral("600755"));
            QVERIFY(!enlazado || QFileInfo(datos.startsWith("<carpeta") ? carpeta() : fichero()).isSymLink());
        } else {
            QVERIFY(::lstat(ruta.constData(), &despues) == 0 && (especial ? despues.st_mode == antes.st_mode : contenido(fichero()) == datos));
        }
        QCOMPARE(r.reemplazos(), escrita ? 1 : 0);
        QCOMPARE(temporales(carpeta()) + temporales(otra), QStringList());
    }

    void dosEscritoresNoPierdenCambios()
    {
        // Each adds values of its own: without the lock one would write over the other's.
        QList<pid_t> hijos;
        for (const char* quien : {"a", "b"}) {
            if ((hijos << ::fork()).last() == 0) {
                Registro propio(fichero());
                for (int i = 0; i < 40; ++i)
                    escribe(propio, QLatin1String(quien) + QString::number(i));
                ::_exit(0);
            }
        }
        for (const pid_t h : hijos) {
            int estado = -1;
            QVERIFY(::waitpid(h, &estado, 0) == h && estado == 0);
        }
        QCOMPARE(Registro(fichero()).lee().busca(QStringLiteral("HKEY_CURRENT_USER\\Software\\Ludaren\\Version"))->numValores(), 80);
        QCOMPARE(modo(carpeta()), QStringLiteral("700"));
    }

    void discoLlenoEnCadaPosicion_data()
    {
        QTest::addColumn<QByteArray>("antes");
        QTest::addColumn<QStringList>("alCortar"); // the errors of a run cut short, beside the full run's
        QTest::addColumn<QString>("entero"); // the error of the full run
        const QByteArray otro = "[HKEY_CURRENT_USER\\Software\\Otro]Texto=\xCE\xA9mega \xE2\x80\x93 \xE6\x97\xA5;Bloque=hex:" + QByteArray(40, '*').toHex(',');
        const QByteArray opciones = "[L][L\\Configuracion]frecuencia=5", tabla = "[L\\Configuracion\\Buzones]nBuzon=0[L\\Version]Numero=";
        const QStringList numero{QStringLiteral("Failed to set data for 'Numero'")};
        QTest::newRow("the save of 20 mailboxes") << expande(opciones + tabla + "2.0" + otro) << QStringList{"Failed to create key Buzones"} << QString();
        QTest::newRow("the version-0 step") << expande(opciones + ";clave=vieja[L\\Version]Numero=0.9" + otro) << numero << kFaltaNBuzon;
        QTest::newRow("the version-1 step") << expande(opciones + ";Host=h;usuario=u;Codigo={c:c}[L\\Version]Numero=1.3" + otro) << numero << QString();
        QTest::newRow("the version-mark step") << expande(opciones + tabla + "2.5" + otro) << numero << QString();
        QTest::newRow("the first run") << expande(otro) << QStringList{"", "Failed to create key Run"} << QString();
    }
    void discoLlenoEnCadaPosicion()
    {
        // A file size limit fails writes as a full disk does, at any byte. Every cut leaves the
        // old file and its error text, or the whole new file, and never a temporary file.
        QFETCH(QByteArray, antes);
        QFETCH(QStringList, alCortar);
        QFETCH(QString, entero);
        rlimit tope {};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &tope) == 0 && std::signal(SIGXFSZ, SIG_IGN) != SIG_ERR);
        const rlim_t sinLimite = tope.rlim_cur;
        const auto ejecuta = [&](rlim_t limite) {
            QFile::remove(autoarranque());
            pon(fichero(), antes);
            Registro r(fichero());
            TBuzon tabla, copia;
            TOpciones o;
            for (int i = 1; i <= kMaxBuzones; ++i)
                copia.agregar("Buzon " + QByteArray::number(i), "pop.ejemplo.es", "usuario", "clave", i % 2);
            tope.rlim_cur = limite;
            ::setrlimit(RLIMIT_FSIZE, &tope);
            const QString texto = fallo([&] {
                if (QTest::currentDataTag() == QLatin1String("the save of 20 mailboxes"))
                    (void)Guarda(r, o, tabla, copia, {{}, {}, false, true, false, false, 10}, 0, {}, kP);
                else
                    (void)CargaAjustes(r, tabla, o, kP);
            });
            tope.rlim_cur = sinLimite;
            ::setrlimit(RLIMIT_FSIZE, &tope);
            return texto + QStringLiteral(" (%1 writes)").arg(r.reemplazos());
        };
        QCOMPARE(ejecuta(sinLimite), entero + QStringLiteral(" (1 writes)"));
        const QByteArray nuevo = contenido(fichero());
        int viejos = 0, nuevos = 0;
        for (qsizetype corte = 0; corte <= qMax<qsizetype>(nuevo.size(), 512); ++corte) {
            const QString texto = ejecuta(static_cast<rlim_t>(corte));
            const QByteArray ahora = contenido(fichero());
            const QString error = texto.left(texto.lastIndexOf(QStringLiteral(" (")));
            const bool viejo = ahora == antes && alCortar.contains(error), completo = ahora == nuevo && error == entero;
            QVERIFY2((viejo || completo) && temporales(carpeta()).isEmpty(),
                     qPrintable(QStringLiteral("cut at %1: %2 of %3 bytes, %4").arg(corte).arg(ahora.size()).arg(nuevo.size()).arg(texto)));
            viejos += viejo;
            nuevos += completo;
        }
        QVERIFY(viejos > 0 && nuevos > 0 && nuevo != antes);
    }

    void claves()
    {
        // The key starts again past its 28th character: passwords stored by older versions read as ever.
        const QByteArray llave = "RoVaLuN&QtZ482QtZ&RoVaLuN482";
        QByteArray clave, codigo;
        for (int i = 0; i < 128; ++i) {
            clave += i == 3 ? '\0' : i == 5 ? '\xFF' : static_cast<char>(i * 37 + 5);
            codigo += QByteArray::number(static_cast<uchar>(clave[i] ^ llave[i % 28]), 16).rightJustified(2, '0').toUpper();
            QCOMPARE(CodificaClave(clave), codigo);
            QCOMPARE(DecodificaClave(codigo), clave);
        }
        // A stored text that is not upper-case hex reads as it always did: a non-digit counts as -1.
        QCOMPARE(DecodificaClave("Error"), QByteArray("\x8D\x80"));
        QCOMPARE(DecodificaClave("0a"), QByteArray("\xAD"));
        QCOMPARE(DecodificaClave("33A"), QByteArray("a"));
    }

    void carga_data()
    {
        QTest::addColumn<QByteArray>("entrada");
        QTest::addColumn<QString>("programa");
        QTest::addColumn<QByteArray>("salida"); // empty: the file as it was
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("opciones");
        QTest::addColumn<QStringList>("tabla");
        const auto fila = [](const char* n, const QByteArray& entrada, const QByteArray& salida, const QString& error, const QString& opciones,
                             const QStringList& tabla, const QString& programa = kP) {
            QTest::newRow(n) << entrada << programa << salida << error << opciones << tabla;
        };
        const QString trabajo = QStringLiteral("Trabajo|pop.trabajo.es|ana.p|otra|No|"), aviso = QStringLiteral("|Wave|/usr/share/sounds/aviso.wav|thunderbird|Si|-");
        const auto v2 = [&](const char* n, const QByteArray& de, const QByteArray& a, const QString& opciones, const QString& segundo = "Ninguna:110") {
            fila(n, QByteArray(kVersion2).replace(de, a), "", {}, opciones, {kTablaV2a, trabajo + segundo});
        };
        const auto v0 = [](const QByteArray& clave, const char* numero = "0.9") {
            return "[L][L\\Configuracion]Host=h;usuario=u;" + clave + "[L\\Version]Numero=" + numero;
        };
        fila("a store without Version is a first run that writes only the log-on entry, by its exact path", "[L]", "", {},
             "5|Beep|spirel.wav||Si|autoarranque", {}, QStringLiteral("/home/ана/Программы/pirel"));
        fila("a program on removable media writes no log-on entry", "[L]", "", {}, "5|Beep|spirel.wav||Si|-", {}, QStringLiteral("/media/usb/pirel"));
        v2("Numero 2.0 runs no step and rewrites nothing; si is not Si", "", "", kOpciones2);
        v2("beep and si in small letters are neither", "Wave;Fichero Wav=/usr/share/sounds/aviso.wav;Gestor de Correo=thunderbird;Animacion=Si",
           "beep;Animacion=si", "10||||No|-");
        v2("an interval that is no number is told where it is used", "=10", "=diez", "'diez' is not a valid integer value" + aviso);
        v2("no interval at all", "frecuencia=10;", "", "falta" + aviso);
        const QByteArray ssl = "Seguridad2=SSL;Puerto2=";
        v2("SSL, pinned as openssl prints it", "nBuzon", ssl + "995;Huella2=" + QByteArray::fromHex(kHuella).toHex(':') + ";nBuzon", kOpciones2,
           "SSL:995:" + kHuella);
        v2("STLS on another port", "nBuzon", "Seguridad2=STLS;Puerto2=1110;nBuzon", kOpciones2, "STLS:1110");
        v2("plain, five digits with a leading zero", "nBuzon", "Seguridad2=Ninguna;Puerto2=02110;nBuzon", kOpciones2, "Ninguna:2110");
        v2("the highest port", "nBuzon", ssl + "65535;nBuzon", kOpciones2, "SSL:65535");
        v2("a pin that is not 64 hex digits is dropped", "nBuzon", ssl + "995;Huella2=" + kHuella.chopped(1) + "G;nBuzon", kOpciones2, "SSL:995");
        // A damaged security may fail a check; it must never send a password in clear.
        for (const char* otra : {"ssl", "TLS", "", "Ninguna "})
            v2(qPrintable(QStringLiteral("the security \"%1\" is SSL").arg(otra)), "nBuzon", "Seguridad2=" + QByteArray(otra) + ";nBuzon", kOpciones2, "SSL:995");
        for (const char* puerto : {"0", "65536", "001110", "abc", "", " 995", "+995", "-1", "1e3"})
            v2(qPrintable(QStringLiteral("the port \"%1\" is the mode's default").arg(puerto)), "nBuzon", ssl + puerto + ";nBuzon", kOpciones2, "SSL:995");
        fila("Numero 2.5 is rewritten to 2.0", QByteArray(kVersion2).replace("=2.0", "=2.5"), kVersion2, {}, kOpciones2, {kTablaV2a, trabajo + "Ninguna:110"});
        fila("Numero 1.3 moves the single mailbox into the table", kVersion1, kMovida, {}, "3||||No|-", {kTablaMovida});
        fila("Numero 10.0 counts as version 1", QByteArray(kVersion1).replace("1.3", "10.0"), kMovida, {}, "3||||No|-", {kTablaMovida});
        fila("the version-1 step with Codigo absent moves what Error decodes to", QByteArray(kVersion1).replace(";Codigo={c:vieja}", ""),
             QByteArray(kMovida).replace("{c:vieja}", "DFEF"), {}, "3||||No|-", {QString::fromLatin1("Buzon 1|pop.viejo.es|pepe|\x8D\x80|Si|Ninguna:110")});
        fila("the version-1 step with an empty user drops the old values and moves nothing", QByteArray(kVersion1).replace("pepe", ""),
             "[L][L\\Configuracion]frecuencia=3[L\\Version]Numero=2.0", kFaltaNBuzon, "5||||No|-", {});
        fila("the version-1 step cuts server, user and password at 40, 20 and 12, as it always did",
             QByteArray(kVersion1).replace("pop.viejo.es", QByteArray(45, 'h')).replace("pepe", QByteArray(25, 'u')).replace("vieja", QByteArray(16, 'c')),
             QByteArray(kMovida).replace("pop.viejo.es", QByteArray(40, 'h')).replace("pepe", QByteArray(20, 'u')).replace("vieja", QByteArray(12, 'c')),
             {}, "3||||No|-", {"Buzon 1|" + QString(40, u'h') + u'|' + QString(20, u'u') + u'|' + QString(12, u'c') + "|Si|Ninguna:110"});
        fila("Numero 0.9 scrambles the old password, then misses nBuzon", v0("clave=vieja"), v0("Codigo={c:vieja}", "2.0"), kFaltaNBuzon, "5||||No|-", {});
        fila("the version-0 step with clave absent writes only Numero", v0(""), v0("", "2.0"), kFaltaNBuzon, "5||||No|-", {});
        fila("the version-0 step with clave empty deletes it", v0("clave="), v0("", "2.0"), kFaltaNBuzon, "5||||No|-", {});
        fila("the version-0 step keeps 12 of 15 characters", v0("clave=123456789012345"), v0("Codigo={c:123456789012}", "2.0"), kFaltaNBuzon, "5||||No|-", {});
        fila("a REG_DWORD frecuencia is an invalid data type", QByteArray(kVersion2).replace("frecuencia=10", "frecuencia=dword:0000000a"), "",
             QStringLiteral("Invalid data type for 'frecuencia'"), "5||||No|-", {kTablaV2a, trabajo + "Ninguna:110"});
        QStringList veinte{kTablaV2a, trabajo + "Ninguna:110"};
        while (veinte.size() < kMaxBuzones)
            veinte << QString::fromLatin1("Error|Error|Error|\x8D\x80|No|Ninguna:110");
        fila("an nBuzon above 20 is cut to 20", QByteArray(kVersion2).replace("nBuzon=2", "nBuzon=99"), "", {}, kOpciones2, veinte);
    }
    void carga()
    {
        QFETCH(QByteArray, entrada);
        QFETCH(QString, programa);
        QFETCH(QByteArray, salida);
        QFETCH(QString, error);
        QFETCH(QString, opciones);
        QFETCH(QStringList, tabla);
        pon(fichero(), expande(entrada));
        Registro r(fichero());
        TBuzon t;
        TOpciones o;
        Arranque a = Arranque::Configurado;
        QCOMPARE(fallo([&] { a = CargaAjustes(r, t, o, programa); }), error);
        QCOMPARE(QString::fromUtf8(contenido(fichero())), QString::fromUtf8(expande(salida.isEmpty() ? entrada : salida)));
        QCOMPARE(opcionesEnTexto(o), opciones);
        QCOMPARE(tablaEnTexto(t), tabla);
        QCOMPARE(a == Arranque::PrimeraVez, opciones.startsWith(u"5|Beep"));
        QCOMPARE(contenido(autoarranque()).contains("\nExec=\"" + programa.toUtf8() + "\"\n"), opciones.endsWith(u"autoarranque"));
    }

    void entradaDeAutoarranque_data()
    {
        QTest::addColumn<QString>("escrito"); // a program path written by the program, else `entrada` is the file
        QTest::addColumn<QByteArray>("entrada"); // or what the written file holds
        QTest::addColumn<QString>("programa");
        QTest::addColumn<bool>("siempre");
        const auto fila = [](const char* n, const QString& escrito, const QByteArray& entrada, bool siempre, const QString& programa = {}) {
            QTest::newRow(n) << escrito << entrada << (programa.isEmpty() ? escrito.isEmpty() ? kP : escrito : programa) << siempre;
        };
        const QString cirilico = QStringLiteral("/home/ана/Программы/pirel");
        const QByteArray aMano = "[Desktop Entry]\nType=Application\nExec=/usr/bin/pirel\n";
        fila("a path in a folder named in Cyrillic", cirilico, ("Exec=\"" + cirilico + "\"\nTryExec=" + cirilico + "\n").toUtf8(), true);
        fila("quotes, dollars, percents and backslashes", QStringLiteral("/opt/mis \"programas\"/$HOME/100%/a\\b/pirel"),
             "Exec=\"/opt/mis \\\\\"programas\\\\\"/\\\\$HOME/100%%/a\\\\\\\\b/pirel\"\n", true);
        fila("tabs and line breaks", QStringLiteral("/opt/a\tb\nc/pirel"), "Exec=\"/opt/a\\tb\\nc/pirel\"\nTryExec=/opt/a\\tb\\nc/pirel\n", true);
        fila("the same path in another letter case", QStringLiteral("/USR/BIN/PIREL"), "Exec=", false, kP);
        fila("an entry written by hand", {}, aMano, true);
        fila("an entry the desktop has hidden", {}, aMano + "Hidden=true\n", false);
        fila("an entry switched off in GNOME", {}, aMano + "X-GNOME-Autostart-enabled=false\n", false);
        fila("an Exec of another group", {}, "[Desktop Entry]\n[Desktop Action nueva]\nExec=/usr/bin/pirel\n", false);
        fila("a FIFO in place of the entry", {}, {}, false);
    }
    void entradaDeAutoarranque()
    {
        QFETCH(QString, escrito);
        QFETCH(QByteArray, entrada);
        QFETCH(QString, programa);
        QFETCH(bool, siempre);
        TRegMaquina m(reg::kWindowsActual);
        if (!escrito.isEmpty()) {
            m.WriteString(reg::kRun, reg::kEntradaRun, escrito);
            QVERIFY2(contenido(autoarranque()).contains(entrada), contenido(autoarranque()).constData());
        } else if (entrada.isEmpty()) {
            QVERIFY(QDir().mkpath(QFileInfo(autoarranque()).path()) && ::mkfifo(QFile::encodeName(autoarranque()).constData(), 0600) == 0);
        } else {
            pon(autoarranque(), entrada);
        }
        QCOMPARE(m.ReadString(reg::kRun, reg::kEntradaRun, QStringLiteral("Error")) == programa, siempre);
    }

    void ordenDelGestor_data()
    {
        QTest::addColumn<QString>("linea"); // %D: a folder of the test's own, holding an executable "Mis programas/correo"
        QTest::addColumn<QStringList>("partes");
        const QString blancos = QStringLiteral("%D/Mis programas/correo"), comillas = QStringLiteral("\"a\" b \"");
        QTest::newRow("a path with blanks, as the picker stores it") << ComillasOrden(QStringLiteral("/a b/c")) << QStringList{"/a b/c"};
        QTest::newRow("a path with quotes and blanks, as the picker stores it") << ComillasOrden(comillas) << QStringList{comillas};
        QTest::newRow("an unquoted path with blanks to an executable, as older versions stored it") << blancos << QStringList{blancos};
        QTest::newRow("any other line is a command line") << QStringLiteral("%D/Mis -mail \"a b\"") << QStringList{"%D/Mis", "-mail", "a b"};
        QTest::newRow("an empty line") << QString() << QStringList();
    }
    void ordenDelGestor()
    {
        QFETCH(QString, linea);
        QFETCH(QStringList, partes);
        pon(dir_->filePath(QStringLiteral("Mis programas/correo")), "#!/bin/sh\n");
        QVERIFY(QFile::setPermissions(dir_->filePath(QStringLiteral("Mis programas/correo")), QFile::ReadOwner | QFile::ExeOwner));
        QCOMPARE(PartesDeOrden(linea.replace(QStringLiteral("%D"), dir_->path())), partes.replaceInStrings(QStringLiteral("%D"), dir_->path()));
    }

    void guardar_data()
    {
        QTest::addColumn<QString>("que"); // what the chosen aviso.wav is, or what is wrong
        for (const char* que : {"nada", "fichero", "enlace", "carpeta", "fifo", "sin buzones", "autostart bloqueado"})
            QTest::newRow(que) << QString::fromLatin1(que);
    }
    void guardar()
    {
        QFETCH(QString, que);
        const bool tomado = que == u"fichero" || que == u"enlace", bloqueado = que.startsWith(u"autostart"), vacia = que == u"sin buzones";
        // Stale slots up to five, pinned: none may stay behind.
        const QByteArray antes = expande("[L][L\\Configuracion\\Buzones]Huella1=" + kHuella + ";Buzon4=D;Huella4=" + kHuella + ";nBuzon=5");
        const QString wav = dir_->filePath(QStringLiteral("aviso.wav")), real = dir_->filePath(QStringLiteral("real.wav"));
        pon(fichero(), antes);
        pon(real, "RIFF");
        if (que == u"fichero")
            QVERIFY(QFile::rename(real, wav));
        else if (que == u"enlace")
            QVERIFY(QFile::link(real, wav));
        else if (que == u"carpeta")
            QVERIFY(QDir().mkpath(wav));
        else if (que == u"fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(wav).constData(), 0600), 0);
        else if (bloqueado) // a file where the folder goes fails for root too
            pon(dir_->filePath(QStringLiteral("autostart")), "");
        Registro r(fichero());
        TBuzon tabla, copia, leida;
        TOpciones o, leidas;
        o.ficheroWav = "spirel.wav";
        if (!vacia) {
            copia.agregar("A", "pop.a.es", "a", "ca", true);
            copia.agregar("B", "pop.b.es", "b", "cb", false, {Seguridad::SSL, 995, kHuella});
        }
        EleccionDialogo e{QFile::encodeName(wav), "C:\\Archivos \"de\" programa \xF1", true, true, false, true, 15};
        Guardado g;
        QCOMPARE(fallo([&] { g = Guarda(r, o, tabla, copia, e, 0, [](TBuzon& c) { c.agregar("C", "pop.c.es", "c", "cc", true, {Seguridad::STLS, 1110, {}}); }, kP); }),
                 bloqueado ? QStringLiteral("Failed to create key Run") : QString());
        const QByteArray sonido = tomado ? QFile::encodeName(wav) : "spirel.wav";
        QCOMPARE(opcionesEnTexto(o), QString::fromLatin1("15|Beep|" + sonido + "|C:\\Archivos \"de\" programa \xF1|Si|autoarranque"));
        QCOMPARE(g.intervalo, bloqueado ? 0 : 15 * 60000);
        QCOMPARE(g.escrito, !vacia && !bloqueado);
        QCOMPARE(QString::fromUtf8(contenido(fichero())), QString::fromUtf8(vacia ? antes : expande(
            "[L][L\\Configuracion]frecuencia=15;Hacer Sonido=Beep;Fichero Wav=" + sonido + ";Gestor de Correo=C:\\\\Archivos \\\"de\\\" programa ñ;"
            "Animacion=Si[L\\Configuracion\\Buzones]Buzon1=A;Host1=pop.a.es;usuario1=a;Codigo1={c:ca};Chequear1=Si;Seguridad1=Ninguna;Puerto1=110;"
            "Buzon2=B;Host2=pop.b.es;usuario2=b;Codigo2={c:cb};Chequear2=No;Seguridad2=SSL;Puerto2=995;Huella2=" + kHuella + ";Buzon3=C;Host3=pop.c.es;"
            "usuario3=c;Codigo3={c:cc};Chequear3=Si;Seguridad3=STLS;Puerto3=1110;nBuzon=3[L\\Version]Numero=2.0")));
        if (vacia || bloqueado)
            return;
        QVERIFY(contenido(autoarranque()).contains("\nExec=\"/usr/bin/pirel\"\nTryExec=/usr/bin/pirel\n"));
        QCOMPARE(CargaAjustes(r, leida, leidas, kP), Arranque::Configurado);
        QCOMPARE(opcionesEnTexto(leidas) + tablaEnTexto(leida).join(u'/'), opcionesEnTexto(o) + tablaEnTexto(tabla).join(u'/'));
        // Autostart off removes the entry; the same table and options again write nothing.
        e.ejecutarSiempre = false;
        QVERIFY(Guarda(r, o, tabla, copia, e, 0, {}, kP).escrito && !QFile::exists(autoarranque()));
        QCOMPARE(r.reemplazos(), 1);
    }
};

QTEST_GUILESS_MAIN(TestAjustes)
#include "test_ajustes.moc"
