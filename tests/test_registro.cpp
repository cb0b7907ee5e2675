// The registry file on disk: its format, the Windows export forms, damage, links and
// special files, crashes, and a disk that fills up in the middle of any write.
#include "ajustes.h"
#include "ansi.h"
#include "clave.h"
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
#include <sys/statvfs.h>
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
QByteArray enHijo(const std::function<QByteArray()>& f, int plazoMs = 20000)
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
    QDeadlineTimer plazo(plazoMs);
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

// One transaction on the program's key, written at its end.
void enClave(Registro& r, const std::function<void(TRegIniFile&)>& f)
{
    Transaccion t(r);
    TRegIniFile ini(t, QStringLiteral("Software\\Ludaren"));
    f(ini);
    t.confirma();
}

QByteArray leeValor(Registro& r, const QString& seccion, const QString& nombre)
{
    Transaccion t(r);
    return TRegIniFile(t, QStringLiteral("Software\\Ludaren")).ReadString(seccion, nombre, "(ninguno)");
}

void GrabaEnRegistro(Registro& r)
{
    enClave(r, [](TRegIniFile& ini) { ini.WriteString(QStringLiteral("Version"), QStringLiteral("Numero"), "2.0"); });
}

// A registry file; "[L" stands for the program's key.
QByteArray registroDe(QByteArray cuerpo)
{
    return "Windows Registry Editor Version 5.00\n\n" + cuerpo.replace("[L", "[HKEY_CURRENT_USER\\Software\\Ludaren");
}

// Values of another program: texts beyond Windows-1252, and a binary value of `bytes`.
QByteArray ajeno(int bytes)
{
    QByteArray r = "[HKEY_CURRENT_USER\\Software\\Otro]\n\"Texto\"=\"\xCE\xA9mega \xE2\x80\x93 \xE6\x97\xA5\xE6\x9C\xAC\"\n"
                   "\"Ruta\"=hex(2):a9,03,25,00,00,00,62,00\n\"Bloque\"=hex:";
    for (int i = 0; i < bytes; ++i)
        r += QByteArray::number(i % 256, 16).rightJustified(2, '0') + (i + 1 < bytes ? "," : "\n\n");
    return r;
}

struct Resultado {
    QString texto;
    int reemplazos = 0;
};

// The dialog's save of 20 mailboxes, or the load at start-up.
Resultado ejecuta(bool guardar, const QString& fichero)
{
    Registro r(fichero);
    TBuzon tabla, copia;
    TOpciones o;
    try {
        if (guardar) {
            for (int i = 1; i <= kMaxBuzones; ++i)
                copia.agregar("Buzon " + QByteArray::number(i), "pop" + QByteArray::number(i) + ".ejemplo.es", "usuario",
                              "clave", i % 2);
            EleccionDialogo e;
            e.frecuencia = 10;
            e.beep = true;
            (void)Guarda(r, o, tabla, copia, e, 0, {}, QStringLiteral("/usr/bin/pirel"));
        } else {
            (void)CargaAjustes(r, tabla, o, QStringLiteral("/usr/bin/pirel"));
        }
    } catch (const ErrorAlmacen& e) {
        return {e.texto(), r.reemplazos()};
    }
    return {QString(), r.reemplazos()};
}

// Runs the operation in `carpeta` (the settings folder) once with room to spare, then
// once more for every way `corta` has of cutting the disk short (it answers false when
// there are no more), each time from the old file. The first line of the answer counts
// the runs that left the old file with the expected text and those that left the whole
// new file; every further line is a run that left anything else, or a temporary file.
QByteArray cortaCadaEscritura(const QString& carpeta, const QByteArray& antes, bool guardar,
                              const QStringList& textosCorte, const QString& textoEntero,
                              const std::function<bool(int, qsizetype)>& corta, const std::function<void()>& suelta)
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(carpeta));
    const QString fichero = carpeta + QStringLiteral("/Ludaren/registro.reg");
    const auto prepara = [&] {
        QFile::remove(carpeta + QStringLiteral("/autostart/ludaren-electronico.desktop"));
        pon(fichero, antes);
    };
    prepara();
    const Resultado entero = ejecuta(guardar, fichero);
    const QByteArray nuevo = contenido(fichero);
    QStringList informe;
    if (entero.texto != textoEntero || entero.reemplazos != 1 || nuevo == antes)
        informe << QStringLiteral("with room: \"%1\", %2 replacements").arg(entero.texto).arg(entero.reemplazos);
    int viejos = 0, nuevos = 0;
    for (int corte = 0;; ++corte) {
        prepara();
        if (!corta(corte, nuevo.size()))
            break;
        const Resultado r = ejecuta(guardar, fichero);
        suelta();
        const QByteArray ahora = contenido(fichero);
        const bool viejo = ahora == antes && textosCorte.contains(r.texto);
        const bool completo = ahora == nuevo && r.texto == textoEntero;
        viejos += viejo;
        nuevos += completo;
        const QStringList quedan = temporales(carpeta + QStringLiteral("/Ludaren"));
        if ((!viejo && !completo) || !quedan.isEmpty())
            informe << QStringLiteral("cut %1: %2 of %3 bytes, \"%4\" %5")
                           .arg(corte)
                           .arg(ahora.size())
                           .arg(nuevo.size())
                           .arg(r.texto, quedan.join(u','));
    }
    informe.prepend(QStringLiteral("%1 %2").arg(viejos).arg(nuevos));
    return informe.join(u'\n').toUtf8();
}

// A file system of its own, in a mount namespace of the child's own (root only).
bool montaTmpfs(const QString& carpeta)
{
    const QByteArray ruta = QFile::encodeName(carpeta);
    return ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0
        && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
        && ::mount("pirel", ruta.constData(), "tmpfs", 0, "size=256k,nr_inodes=64,mode=0700") == 0;
}

// Fills the file system at `carpeta` until `paginas` pages are free; with -1, until no
// file can be created.
bool llena(const QString& carpeta, qsizetype paginas)
{
    if (paginas < 0) {
        for (int i = 0;; ++i) {
            const int fd = ::open(QFile::encodeName(carpeta + QStringLiteral("/inodo%1").arg(i)).constData(),
                                  O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
            if (fd < 0)
                return errno == ENOSPC;
            ::close(fd);
        }
    }
    struct statvfs info {};
    if (::statvfs(QFile::encodeName(carpeta).constData(), &info) != 0 || info.f_bavail < static_cast<fsblkcnt_t>(paginas))
        return false;
    QFile relleno(carpeta + QStringLiteral("/relleno"));
    if (!relleno.open(QIODevice::WriteOnly))
        return false;
    relleno.write(QByteArray(static_cast<qsizetype>((info.f_bavail - paginas) * info.f_bsize), 'r'));
    relleno.close();
    return ::statvfs(QFile::encodeName(carpeta).constData(), &info) == 0 && info.f_bavail == static_cast<fsblkcnt_t>(paginas);
}

void vacia(const QString& carpeta)
{
    QDir d(carpeta);
    for (const QString& f : d.entryList({QStringLiteral("relleno"), QStringLiteral("inodo*")}, QDir::Files))
        d.remove(f);
}

// A file of `tamano` bytes: the program's settings, then one key of another program with
// many values and a long binary value over many lines.
QByteArray grandeDe(qsizetype tamano)
{
    QByteArray r = registroDe("[L\\Version]\n\"Numero\"=\"2.0\"\n\n[HKEY_CURRENT_USER\\Software\\Otro\\Grande]\n\"Binario\"=hex:");
    for (int i = 0; i < 30000; ++i)
        r += i % 25 == 24 ? "2a,\\\n  " : "2a,";
    r += "2a\n";
    for (int i = 0; r.size() < tamano - 400; ++i)
        r += "\"valor" + QByteArray::number(i) + "\"=\"" + QByteArray(240, 'x') + "\"\n";
    r += "\"ultimo\"=\"";
    return r + QByteArray(tamano - r.size() - 2, 'u') + "\"\n";
}

}

class TestRegistro : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString fichero() const { return dir_.filePath(QStringLiteral("Ludaren/registro.reg")); }
    QString carpeta() const { return dir_.filePath(QStringLiteral("Ludaren")); }

private slots:
    void init()
    {
        for (const QString& c : {QStringLiteral("Ludaren"), QStringLiteral("otra")}) {
            QFile::remove(dir_.filePath(c)); // a link left by an earlier case
            QDir(dir_.filePath(c)).removeRecursively();
        }
    }

    void bytesExactosEnDisco()
    {
        Registro r(fichero());
        enClave(r, [](TRegIniFile& ini) {
            ini.WriteString(QStringLiteral("Configuracion"), QStringLiteral("frecuencia"), "5");
            ini.WriteString(QStringLiteral("Configuracion"), QStringLiteral("Gestor de Correo"), "C:\\Archivos \"de\" programa");
            ini.WriteString(QStringLiteral("Configuracion"), QStringLiteral("Fichero Wav"), "");
            ini.WriteString(QStringLiteral("Version"), QStringLiteral("Numero"), "2.0");
            ini.WriteString(QStringLiteral("Configuracion"), QStringLiteral("Titulo"), ansi::deTexto(QStringLiteral("Electrónico €")));
            ini.WriteString(QStringLiteral("Configuracion"), QStringLiteral("Dos lineas"), "a\r\nb");
        });
        QCOMPARE(r.reemplazos(), 1);
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
        const QString c = QStringLiteral("Configuracion");
        QCOMPARE(leeValor(r, c, QStringLiteral("Titulo")), QByteArray("Electr\xF3nico \x80"));
        QCOMPARE(leeValor(r, c, QStringLiteral("Dos lineas")), QByteArray("a\r\nb"));
        QCOMPARE(leeValor(r, c, QStringLiteral("Gestor de Correo")), QByteArray("C:\\Archivos \"de\" programa"));
        QCOMPARE(leeValor(r, c, QStringLiteral("Fichero Wav")), QByteArray(""));
        QCOMPARE(leeValor(r, QStringLiteral("Nada"), QStringLiteral("frecuencia")), QByteArray("(ninguno)"));
        GrabaEnRegistro(r);
        QCOMPARE(r.reemplazos(), 1); // the same value again changes nothing

        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(fichero()).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0600u);
        QCOMPARE(::stat(QFile::encodeName(carpeta()).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0700u);
        QCOMPARE(enCarpeta(carpeta()), (QStringList{"registro.reg", "registro.reg.lock"}));
    }

    void nombresSinDistinguirMayusculas()
    {
        Registro r(fichero());
        enClave(r, [](TRegIniFile& ini) { ini.WriteString(QStringLiteral("Configuracion"), QStringLiteral("Codigo"), "AA"); });
        Transaccion t(r);
        TRegIniFile otra(t, QStringLiteral("SOFTWARE\\ludaren\\configuracion"));
        QCOMPARE(otra.ReadString(QString(), QStringLiteral("CODIGO"), "Error"), QByteArray("AA"));
        otra.WriteString(QString(), QStringLiteral("codigo"), "BB");
        t.confirma();
        QVERIFY2(contenido(fichero()).contains("[HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion]\n\"Codigo\"=\"BB\""),
                 "names keep the case they were first written with");
        otra.DeleteKey(QStringLiteral("ignorada"), QStringLiteral("cOdIgO"));
        t.confirma();
        QCOMPARE(leeValor(r, QStringLiteral("Configuracion"), QStringLiteral("Codigo")), QByteArray("(ninguno)"));
        TRegIniFile(t, QStringLiteral("Software\\Ludaren")).EraseSection(QStringLiteral("CONFIGURACION"));
        t.confirma();
        QVERIFY(!contenido(fichero()).contains("Configuracion"));
    }

    void valores_data()
    {
        QTest::addColumn<QByteArray>("linea");
        QTest::addColumn<QByteArray>("leido"); // or the error
        QTest::addColumn<QByteArray>("escrito"); // when a write gives another form
        const QByteArray binario = "\"V\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\n"
                                   "  17,18,19,1a";
        const QByteArray ajena = "Invalid data type for 'V'";
        QTest::newRow("a dword is no text") << QByteArray("\"V\"=dword:0000000a") << ajena << QByteArray();
        QTest::newRow("nor a list of texts") << QByteArray("\"V\"=hex(7):61,00,00,00,62,00,00,00,00,00") << ajena
                                             << QByteArray();
        QTest::newRow("nor a type of its own") << QByteArray("\"V\"=hex(ffffffff):01") << ajena << QByteArray();
        QTest::newRow("a binary value over lines") << QByteArray(binario).replace(",\\\n  17,18", ",17,\\\r\n    18") << ajena
                                                   << binario;
        QTest::newRow("an expandable text, unexpanded") << QByteArray("\"V\"=hex(2):25,00,48,00,4f,00,4d,00,45,00,25,00,00,00")
                                                        << QByteArray("%HOME%") << QByteArray();
        QTest::newRow("an expandable text beyond Windows-1252") << QByteArray("\"V\"=hex(2):a9,03,25,00,00,00,62,00")
                                                                << QByteArray("?%") << QByteArray();
        QTest::newRow("a text beyond Windows-1252") << QByteArray("\"V\"=\"\xCE\xA9mega \xE2\x80\x93 \xE6\x97\xA5\xE6\x9C\xAC\"")
                                                    << QByteArray("?mega \x96 ??") << QByteArray();
        QTest::newRow("a text ends at its first zero") << QByteArray("\"V\"=hex(1):61,00,00,00,62,00,00,00") << QByteArray("a")
                                                       << QByteArray();
        QTest::newRow("a text of odd length") << QByteArray("\"V\"=hex(1):61,00,62") << QByteArray("a") << QByteArray();
        QTest::newRow("a text without its closing zero") << QByteArray("\"V\"=hex(1):61,00") << QByteArray("a") << QByteArray();
        QTest::newRow("a lone surrogate") << QByteArray("\"V\"=hex(1):00,d8,41,00,00,00") << QByteArray("?A") << QByteArray();
        QTest::newRow("a text in hex that quotes can hold") << QByteArray("\"V\"=hex(1):61,00,00,00") << QByteArray("a")
                                                            << QByteArray("\"V\"=\"a\"");
        QTest::newRow("the default value") << QByteArray("@=\"por defecto\"") << QByteArray("(ninguno)") << QByteArray();
        QTest::newRow("a value after a comment that ends in a backslash") << QByteArray("; C:\\\n\"V\"=\"leido\"")
                                                                          << QByteArray("leido") << QByteArray("\"V\"=\"leido\"");
    }
    void valores()
    {
        // Read as the program reads its own values; a write of another value keeps this one
        // exactly, in the form it was read.
        QFETCH(QByteArray, linea);
        QFETCH(QByteArray, leido);
        QFETCH(QByteArray, escrito);
        pon(fichero(), registroDe("[L\\Otro]\n\"Antes\"=\"a\"\n" + linea + "\n\"Despues\"=\"b\"\n\n"));
        Registro r(fichero());
        QByteArray visto;
        const QString error = textoDeError([&] { visto = leeValor(r, QStringLiteral("Otro"), QStringLiteral("V")); });
        QCOMPARE(error.isEmpty() ? visto : error.toUtf8(), leido);
        GrabaEnRegistro(r);
        const QByteArray bloque = (escrito.isEmpty() ? linea : escrito).replace("\r", "");
        QVERIFY2(contenido(fichero()).contains("\"Antes\"=\"a\"\n" + bloque + "\n\"Despues\"=\"b\"\n"),
                 contenido(fichero()).constData());
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
        QCOMPARE(leeValor(r, QStringLiteral("Configuracion"), QStringLiteral("Gestor de Correo")),
                 QByteArray("C:\\Archivos de programa\\Correo.exe"));
        QCOMPARE(leeValor(r, QStringLiteral("Configuracion"), QStringLiteral("Nombre")), QByteArray("\xD1" "and\xFA"));

        pon(fichero(), "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Ludaren\\Version]\r\n\"Numero\"=\"1.3\"\r\n"
                       "\"Dueno\"=\"Pe\xF1" "a\"\r\n\"Largo\"=hex(2):61,80,00\r\n");
        QCOMPARE(leeValor(r, QStringLiteral("Version"), QStringLiteral("Numero")), QByteArray("1.3"));
        QCOMPARE(leeValor(r, QStringLiteral("Version"), QStringLiteral("Dueno")), QByteArray("Pe\xF1" "a"));
        QCOMPARE(leeValor(r, QStringLiteral("Version"), QStringLiteral("Largo")), QByteArray("a\x80"));
        GrabaEnRegistro(r);
        QVERIFY2(contenido(fichero()).startsWith("Windows Registry Editor Version 5.00\n"), "rewritten as UTF-8");
        QVERIFY(contenido(fichero()).contains("\"Dueno\"=\"Peña\""));
        QVERIFY2(contenido(fichero()).contains("\"Largo\"=hex(2):61,00,ac,20,00,00\n"), "8-bit texts become UTF-16");
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
        const QByteArray cabecera = "Windows Registry Editor Version 5.00\n";
        QTest::newRow("a key 513 levels deep") << cabecera + "[A" + QByteArray("\\a").repeated(512) + "]\n"
                                               << QStringLiteral("(línea 2): más de 512 niveles de claves");
        QByteArray claves = cabecera, valores = cabecera + "[A]\n";
        for (int i = 0; i < 50000; ++i)
            claves += "[A\\" + QByteArray::number(i) + "\\b]\n";
        for (int i = 0; i <= 500000; ++i)
            valores += '"' + QByteArray::number(i, 36) + "\"=\"\"\n";
        QTest::newRow("more than 100000 keys") << claves << QStringLiteral("(línea 50001): más de 100000 claves");
        QTest::newRow("more than 500000 values") << valores << QStringLiteral("(línea 500003): más de 500000 valores");
        QTest::newRow("a value after a comment ending in a backslash")
            << QByteArray("REGEDIT4\n[A]\n; C:\\\n\"a\"=\"b\n") << QStringLiteral("(línea 4): texto mal cerrado");
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

    void noEsUnFicheroNormal_data()
    {
        QTest::addColumn<QString>("que");
        for (const char* que : {"a folder", "a FIFO", "a link to a FIFO", "a link to a device"})
            QTest::newRow(que) << QString::fromLatin1(que);
    }
    void noEsUnFicheroNormal()
    {
        QFETCH(QString, que);
        QVERIFY(QDir().mkpath(carpeta()));
        const QByteArray fifo = QFile::encodeName(dir_.filePath(QStringLiteral("Ludaren/tubo")));
        const QByteArray ruta = QFile::encodeName(fichero());
        if (que == u"a folder")
            QVERIFY(QDir().mkpath(fichero()));
        else if (que == u"a FIFO")
            QCOMPARE(::mkfifo(ruta.constData(), 0600), 0);
        else if (que == u"a link to a FIFO")
            QVERIFY(::mkfifo(fifo.constData(), 0600) == 0 && ::symlink("tubo", ruta.constData()) == 0);
        else
            QCOMPARE(::symlink("/dev/zero", ruta.constData()), 0);
        struct stat antes {}, despues {};
        QCOMPARE(::lstat(ruta.constData(), &antes), 0);
        // Opening a FIFO for reading waits for a writer: a child, so that the wait is bounded.
        const QByteArray errores = enHijo([&] {
            Registro r(fichero());
            return (textoDeError([&] { (void)r.lee(); }) + u'\n' + textoDeError([&] { GrabaEnRegistro(r); })).toUtf8();
        });
        const QString esperado = QStringLiteral("El fichero de configuración %1 no es un fichero normal").arg(fichero());
        QCOMPARE(QString::fromUtf8(errores), esperado + u'\n' + esperado);
        QCOMPARE(::lstat(ruta.constData(), &despues), 0);
        QCOMPARE(despues.st_mode, antes.st_mode);
        QCOMPARE(temporales(carpeta()), QStringList());
    }

    void escribeAtravesDeEnlaces_data()
    {
        QTest::addColumn<QString>("enlace");
        QTest::addColumn<bool>("objetivoExiste");
        QTest::newRow("the file links to a file in another folder") << QStringLiteral("fichero") << true;
        QTest::newRow("the file links to a file not yet there") << QStringLiteral("fichero") << false;
        QTest::newRow("the folder links to a folder of mode 0755") << QStringLiteral("carpeta") << false;
    }
    void escribeAtravesDeEnlaces()
    {
        QFETCH(QString, enlace);
        QFETCH(bool, objetivoExiste);
        const QString otra = dir_.filePath(QStringLiteral("otra"));
        QVERIFY(QDir().mkpath(otra));
        QVERIFY(QFile::setPermissions(otra, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                                | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
        const QString objetivo = otra + QStringLiteral("/registro.reg");
        if (objetivoExiste)
            pon(objetivo, registroDe("[L\\Configuracion]\n\"frecuencia\"=\"7\"\n\n"));
        if (enlace == u"fichero") {
            QVERIFY(QDir().mkpath(carpeta()));
            QCOMPARE(::symlink("../otra/registro.reg", QFile::encodeName(fichero()).constData()), 0);
        } else {
            QCOMPARE(::symlink("otra", QFile::encodeName(carpeta()).constData()), 0);
        }
        Registro r(fichero());
        GrabaEnRegistro(r);
        GrabaEnRegistro(r); // nothing changes: no write
        enClave(r, [](TRegIniFile& ini) { ini.WriteString(QStringLiteral("Version"), QStringLiteral("Otro"), "x"); });
        QCOMPARE(r.reemplazos(), 2);
        QVERIFY(QFileInfo(enlace == u"fichero" ? fichero() : carpeta()).isSymLink());
        QVERIFY(QFileInfo(objetivo).isFile() && !QFileInfo(objetivo).isSymLink());
        QVERIFY(contenido(objetivo).contains("\"Numero\"=\"2.0\"\n\"Otro\"=\"x\"\n"));
        QCOMPARE(contenido(objetivo).contains("\"frecuencia\"=\"7\""), objetivoExiste);
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(otra).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0755u);
        QCOMPARE(temporales(otra), QStringList());
        QCOMPARE(temporales(carpeta()), QStringList());
    }

    void escritorInterrumpidoDejaUnFicheroEntero()
    {
        // Each round writes one whole set of values, all "A" or all "B", in one change.
        const QString buzones = QStringLiteral("HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion\\Buzones");
        const auto juego = [&](Registro& r, char letra) {
            Transaccion t(r);
            for (int i = 1; i <= 100; ++i)
                t.archivo().crea(buzones)->pon({QStringLiteral("Buzon%1").arg(i), REG_SZ, QByteArray(40, letra)});
            t.cambia();
            t.confirma();
        };
        Registro r(fichero());
        juego(r, 'A');
        auto* azar = QRandomGenerator::global();
        for (int vuelta = 0; vuelta < 40; ++vuelta) {
            const pid_t hijo = ::fork();
            if (hijo == 0) {
                Registro propio(fichero());
                for (int n = 0;; ++n)
                    juego(propio, n % 2 ? 'A' : 'B');
            }
            ::usleep(azar->bounded(1000, 30000));
            ::kill(hijo, SIGKILL);
            ::waitpid(hijo, nullptr, 0);
            const ArchivoRegistro leido = r.lee();
            const ClaveRegistro* c = leido.busca(buzones);
            QVERIFY(c);
            const QList<ValorRegistro> valores = c->valores();
            QCOMPARE(valores.size(), 100);
            for (const ValorRegistro& v : valores)
                QCOMPARE(v.datos, valores.first().datos);
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
                for (int i = 0; i < 40; ++i)
                    enClave(propio, [&](TRegIniFile& ini) {
                        ini.WriteString(QStringLiteral("Prueba"), QLatin1String(quien) + QString::number(i), "x");
                    });
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
        QCOMPARE(r.lee().busca(QStringLiteral("HKEY_CURRENT_USER\\Software\\Ludaren\\Prueba"))->numValores(), 80);
    }

    void discoLlenoEnCadaPosicion_data()
    {
        QTest::addColumn<bool>("tmpfs");
        QTest::addColumn<bool>("guardar");
        QTest::addColumn<QByteArray>("antes");
        QTest::addColumn<QStringList>("textosCorte");
        QTest::addColumn<QString>("textoEntero");
        const QByteArray tabla = "[L\\Configuracion\\Buzones]\n\"Buzon1\"=\"Casa\"\n\"Host1\"=\"pop.casa.es\"\n"
                                 "\"usuario1\"=\"ana\"\n\"Codigo1\"=\"" + CodificaClave("secreta") + "\"\n"
                                 "\"Chequear1\"=\"Si\"\n\"nBuzon\"=\"1\"\n\n";
        const auto version = [](const char* numero) { return "[L\\Version]\n\"Numero\"=\"" + QByteArray(numero) + "\"\n\n"; };
        const QByteArray configuracion = "[L]\n\n[L\\Configuracion]\n\"frecuencia\"=\"5\"\n";
        const QString numero = QStringLiteral("Failed to set data for 'Numero'");
        for (const bool tmpfs : {false, true}) {
            // On a file system the file spans several pages, to be cut between them.
            const QByteArray otro = ajeno(tmpfs ? 3000 : 40);
            const auto fila = [&](const char* nombre) -> QTestData& {
                return QTest::addRow("%s, %s", nombre, tmpfs ? "full tmpfs" : "file size limit") << tmpfs;
            };
            fila("the save of 20 mailboxes") << true << registroDe(configuracion + '\n' + tabla + version("2.0") + otro)
                                             << QStringList{QStringLiteral("Failed to create key Buzones")} << QString();
            fila("the version-0 step") << false << registroDe(configuracion + "\"clave\"=\"vieja\"\n\n" + version("0.9") + otro)
                                       << QStringList{numero} << QStringLiteral("'Error' is not a valid integer value");
            fila("the version-1 step")
                << false
                << registroDe(configuracion + "\"Host\"=\"pop.viejo.es\"\n\"usuario\"=\"pepe\"\n\"Codigo\"=\"" + CodificaClave("vieja")
                       + "\"\n\n" + version("1.3") + otro)
                << QStringList{numero} << QString();
            fila("the version-mark step") << false << registroDe(configuracion + '\n' + tabla + version("2.5") + otro)
                                          << QStringList{numero} << QString();
            fila("the first run") << false << registroDe(otro)
                                  << QStringList{QString(), QStringLiteral("Failed to create key Run")} << QString();
        }
    }
    void discoLlenoEnCadaPosicion()
    {
        QFETCH(bool, tmpfs);
        QFETCH(bool, guardar);
        QFETCH(QByteArray, antes);
        QFETCH(QStringList, textosCorte);
        QFETCH(QString, textoEntero);
        // Thousands of files cut short: where memory holds them, no disk has to discard their blocks.
        QTemporaryDir enMemoria(QStringLiteral("/dev/shm/pirel-XXXXXX"));
        const QString donde = (enMemoria.isValid() ? enMemoria.path() : dir_.path()) + QStringLiteral("/lleno");
        QDir(donde).removeRecursively();
        QVERIFY(QDir().mkpath(donde));
        const QByteArray informe = enHijo(
            [&]() -> QByteArray {
                if (!tmpfs) {
                    // A file size limit fails writes as a full disk does, at any byte.
                    std::signal(SIGXFSZ, SIG_IGN);
                    const auto limite = [](rlim_t n) {
                        const rlimit tope{n, RLIM_INFINITY};
                        ::setrlimit(RLIMIT_FSIZE, &tope);
                    };
                    return cortaCadaEscritura(
                        donde, antes, guardar, textosCorte, textoEntero,
                        [&](int corte, qsizetype tamano) {
                            limite(static_cast<rlim_t>(corte));
                            return corte <= qMax<qsizetype>(tamano, 512);
                        },
                        [&] { limite(RLIM_INFINITY); });
                }
                // A real file system fills by pages; first no file can be created at all.
                if (!montaTmpfs(donde))
                    return "no tmpfs";
                bool lleno = true;
                const QByteArray r = cortaCadaEscritura(
                    donde, antes, guardar, textosCorte, textoEntero,
                    [&](int corte, qsizetype tamano) {
                        if (corte > (tamano + 4095) / 4096 + 3)
                            return false;
                        lleno = lleno && llena(donde, corte - 1);
                        return true;
                    },
                    [&] { vacia(donde); });
                return lleno ? r : r + "\nthe file system could not be filled";
            },
            600000);
        if (informe == "no tmpfs")
            QSKIP("no tmpfs can be mounted here; the file size limit stands for the full disk");
        const QList<QByteArray> lineas = informe.split('\n');
        QVERIFY2(lineas.size() == 1, informe.constData());
        const QList<QByteArray> cuentas = lineas.first().split(' ');
        QVERIFY2(cuentas.size() == 2 && cuentas[0].toInt() > 0 && cuentas[1].toInt() > 0, informe.constData());
        qInfo("%s runs left the old file, %s the new one", cuentas[0].constData(), cuentas[1].constData());
    }

    void unaCarpetaEnLugarDelFicheroAlEscribir()
    {
        // Put there between the read and the write, by someone else.
        Registro r(fichero());
        GrabaEnRegistro(r);
        const QByteArray antes = contenido(fichero());
        Transaccion t(r);
        QFile::remove(fichero());
        pon(fichero() + QStringLiteral("/dentro"), antes);
        TRegIniFile(t, QStringLiteral("Software\\Ludaren")).WriteString(QStringLiteral("Otra"), QStringLiteral("a"), "b");
        QCOMPARE(textoDeError([&] { t.confirma(); }), QStringLiteral("Failed to create key Otra"));
        QVERIFY(QFileInfo(fichero()).isDir());
        QCOMPARE(contenido(fichero() + QStringLiteral("/dentro")), antes);
        QCOMPARE(enCarpeta(carpeta()), (QStringList{"registro.reg", "registro.reg.lock"}));
    }

    void ficheroGrande_data()
    {
        QTest::addColumn<qsizetype>("tamano");
        QTest::addColumn<QString>("error"); // %F: the file's name
        QTest::addColumn<QByteArray>("numero");
        QTest::newRow("just under 16 MiB: read and written again") << qsizetype((16 << 20) - 65536) << QString()
                                                                  << QByteArray("2.1");
        QTest::newRow("16 MiB: read, but not written into more than can be read")
            << qsizetype(16 << 20) << QStringLiteral("Failed to set data for 'Numero'") << QByteArray("2.0");
        QTest::newRow("one byte more: refused") << qsizetype((16 << 20) + 1)
                                                << QStringLiteral("El fichero de configuración %F es demasiado grande")
                                                << QByteArray();
    }
    void ficheroGrande()
    {
        QFETCH(qsizetype, tamano);
        QFETCH(QString, error);
        QFETCH(QByteArray, numero);
        const QByteArray datos = grandeDe(tamano);
        QCOMPARE(datos.size(), tamano);
        pon(fichero(), datos);
        Registro r(fichero());
        QCOMPARE(textoDeError([&] {
                     enClave(r, [](TRegIniFile& ini) {
                         ini.WriteString(QStringLiteral("Version"), QStringLiteral("Numero"), "2.1");
                     });
                 }),
                 error.replace(QStringLiteral("%F"), fichero()));
        QCOMPARE(contenido(fichero()) == datos, !error.isEmpty());
        if (numero.isEmpty())
            return;
        const ArchivoRegistro leido = r.lee();
        const ClaveRegistro* grande = leido.busca(QStringLiteral("HKEY_CURRENT_USER\\Software\\Otro\\Grande"));
        QVERIFY(grande);
        QCOMPARE(grande->valor(QStringLiteral("binario"))->datos, QByteArray(30001, '*'));
        QCOMPARE(grande->valor(QStringLiteral("VALOR0"))->texto(), QString(240, u'x'));
        QCOMPARE(grande->valores().last().nombre, QStringLiteral("ultimo"));
        QCOMPARE(leeValor(r, QStringLiteral("Version"), QStringLiteral("Numero")), numero);
    }

    void clavesMuyHondas()
    {
        // Read; but written, each of the 512 keys would repeat the whole path above it, which
        // makes a file bigger than can be read: nothing is written.
        QByteArray ruta = "HKEY_CURRENT_USER";
        for (int i = 1; i < 512; ++i)
            ruta += '\\' + QByteArray(200, 'a');
        const QByteArray datos = "Windows Registry Editor Version 5.00\n\n[" + ruta + "]\n\"V\"=\"x\"\n";
        pon(fichero(), datos);
        Registro r(fichero());
        QCOMPARE(r.lee().busca(QString::fromLatin1(ruta))->valor(QStringLiteral("v"))->texto(), QStringLiteral("x"));
        QCOMPARE(textoDeError([&] { GrabaEnRegistro(r); }), QStringLiteral("Failed to create key Version"));
        QCOMPARE(contenido(fichero()), datos);
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
        QCOMPARE(temporales(carpeta()), QStringList());
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
        QCOMPARE(temporales(carpeta()), QStringList());
        qInfo("%d cuts refused, %d still read", rechazados, leidos);
    }
};

QTEST_GUILESS_MAIN(TestRegistro)
#include "test_registro.moc"
