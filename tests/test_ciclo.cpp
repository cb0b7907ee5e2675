// The check cycle end to end: against scripted servers that behave, misbehave or change
// between cycles, against the private Dovecot, and through the console program.
#include "ciclo_prueba.h"
#include "servidor_dovecot.h"
#include "servidor_guion.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

using namespace pirel;
using namespace pirel::prueba;

Q_DECLARE_METATYPE(QList<pirel::prueba::Guion>)

namespace {

const QString kNoResponde = QStringLiteral("error: Casa: el servidor 127.0.0.1 no responde");
const QString kSaludo = QStringLiteral("dialogo: Casa: el servidor 127.0.0.1 no responde ().");
const QString kProtocolo = QStringLiteral("dialogo: Protocol erroneo: Contacte con el autor. y enviele por mail el siguiente mensaje:\r");
const QString kRechazada = QStringLiteral("error: 127.0.0.1: Conexion rechazada");
const QString kClave = QStringLiteral("dialogo: Casa: Clave incorrecta ");
const QString kNada = QStringLiteral("consejo: No Hay Mensajes"), kError = QStringLiteral("consejo: Error en Conexion");
const QList<QByteArray> kEnCadena{"PIPELINING", "UIDL"};

// One cycle's mailbox as "id:Asunto" words, a "*" after those whose TOP must go out, and
// the lines it gives.
Guion sesion(const QByteArray& mensajes, const QList<QByteArray>& capacidades, QStringList* lineas = nullptr)
{
    const QList<QByteArray> palabras = mensajes.isEmpty() ? QList<QByteArray>() : mensajes.split(' ');
    const bool enCadena = capacidades.contains("PIPELINING");
    QByteArray listado = "+OK\r\n";
    Guion tops;
    for (qsizetype k = 0; k < palabras.size(); ++k) {
        listado += QByteArray::number(k + 1) + ' ' + palabras[k].split(':').first() + "\r\n";
        const QByteArray asunto = palabras[k].split(':').last();
        if (asunto.endsWith('*'))
            tops.top(int(k + 1), asunto.chopped(1), "Ana <ana@x.es>");
        if (lineas)
            *lineas << "Casa => " + QString::fromLatin1(asunto).remove(u'*') + ": Ana";
    }
    Guion g = Guion().S("+OK\r\n").capa(capacidades).junta(enCadena ? 4 : 0).C("USER pepe").S("+OK\r\n").C("PASS secreta").S("+OK\r\n");
    g.stat(int(palabras.size()));
    // An empty mailbox is listed only where the listing goes out with the count.
    if (!palabras.isEmpty() || enCadena)
        g.C("UIDL").S(listado + ".\r\n").junta(enCadena ? int(mensajes.count('*')) : 0);
    g.pasos += tops.pasos;
    return g.quit();
}

// The peak of this process's resident memory in kB.
qint64 pico()
{
    QFile f(QStringLiteral("/proc/self/status"));
    return f.open(QIODevice::ReadOnly) ? QString(f.readAll()).section("VmHWM:", 1).section("kB", 0, 0).trimmed().toLongLong() : 0;
}

}

class TestCiclo : public QObject {
    Q_OBJECT

    Dovecots dovecot_{[](ServidorDovecot& s) {
        s.agregaUsuario("ana", "secreta", {{"Reunión del lunes", "Ana Pérez <ana@ejemplo.org>"}, {"Factura", "<f@ejemplo.org>"}});
    }};

private slots:
    void initTestCase() { QVERIFY2(dovecot_() && dovecot_(Certificados::Autofirmado), "dovecot-pop3d is missing: run tools/instalar"); }

    // One mailbox, one connection per cycle: the lines of the last cycle; the boxes and
    // tooltips of all of them; the count, error flag and times new mail was told at the end.
    void ciclos_data()
    {
        QTest::addColumn<QList<Guion>>("guiones");
        QTest::addColumn<int>("espera");
        QTest::addColumn<QStringList>("lineas");
        QTest::addColumn<QStringList>("vistos");
        QTest::addColumn<QList<int>>("fin");
        // What the server heard after the log-in, where that tells something; "-" for nothing.
        QTest::addColumn<QStringList>("oidas");
        const auto fila = [](const char* n, QList<Guion> g, int espera, QStringList lineas, QStringList vistos, int actuales,
                             bool conError = false, int avisos = 0, QStringList oidas = {}) {
            QTest::newRow(n) << g << espera << lineas << vistos << QList<int>{actuales, conError, avisos} << oidas;
        };
        const Guion entrada = Guion::entrada();
        const QByteArray mega(64 * 1024, 'x');
        const QString vacia = QStringLiteral("Casa => Sin Asunto: Sin remitente");
        const QStringList muerto{kNoResponde, kSaludo, kError}, conQuit{"1: QUIT"}, dos{vacia, vacia}, plazo{kNoResponde, kError};
        fila("answers in pieces, slow, rejected and stuffed",
             {Guion().goteo("+ok listo\r\n", 5).C("USER pepe").S("-ERR da igual\r\n").C("PASS secreta").S("+OK\r\n")
                  .C("STAT").S("+OK 4").pausa(100).S(" 900\r\n")
                  .C("TOP 1 1").S("+OK\r\nSubj").pausa(100).S("ect: Tro").pausa(100).S("zos\r\nFrom: Ana\r\n\r\n..l\r\n").pausa(100).S(".\r\n")
                  .C("TOP 2 1").S("-ERR no existe\r\n").C("TOP 3 1").S("+OK\nSubject: Solo LF\nFrom: Bea\n.\n")
                  .C("TOP 4 1").S("+OK\r\nSubject: x\r\n.\r\n+OK sobrante\r\n").quit()},
             5, {"Casa => Trozos: Ana", vacia, "Casa => Solo LF: Bea", "Casa => x: Sin remitente"}, {"consejo: 4 Mensajes"}, 4, false, 1);
        fila("greetings that are not +OK, control characters and zero bytes made blanks",
             {Guion().S("+OK sin CR\n").quit(), Guion().S(QByteArray("-ERR \x1b]0;x\x07y\0z\x9d\r\n", 17)).quit()}, 1, {},
             {kSaludo, kNada, "dialogo: Casa: el servidor 127.0.0.1 no responde (-ERR  ]0;x y z ).", kNada}, 0);
        fila("a line more after the greeting; a refused password keeps the count, the tooltip counts this cycle's lines",
             {sesion("a:Uno*", {"UIDL"}), Guion().S("+OK\r\n-ERR\r\n").C("USER pepe").S("+OK\r\n").C("PASS secreta").S("-err\r\n").quit()},
             1, {}, {"consejo: 1 Mensajes", kClave, "consejo: Clave incorrecta", "consejo: 0 Mensajes"}, 1, false, 1);
        fila("a count without a size", {Guion(entrada).C("STAT").S("+OK 3\r\n").quit()}, 1, {}, {kProtocolo + "+OK 3", kNada}, -1);
        fila("trickling past its time", {Guion(entrada).stat(1).C("TOP 1 1").goteo("+OK\r\nSubject: a\r\n" + mega.left(200), 10).cierra()},
             1, {"Casa => a: Sin remitente"}, plazo, 0, true, 0);
        fila("CR and LF in different reads", {Guion(entrada).C("STAT").S("+OK 1 100\r").pausa(100).S("\n")
                  .C("TOP 1 1").S("+OK\r\nSubject: P\r").pausa(100).S("\nFrom: Ana\r\n.\r").pausa(100).S("\n").quit()},
             1, {"Casa => P: Ana"}, {"consejo: 1 Mensajes"}, 1, false, 1);
        Guion muchos = Guion(entrada).C("STAT").S("+OK 2147483647 100\r\n");
        for (int k = 1; k <= kMaxCabeceras; ++k)
            muchos.top(k, "m", "r");
        fila("2147483647 messages: 255 lines", {muchos.quit()}, 1, QStringList(kMaxCabeceras, "Casa => m: r"), {"consejo: 255 Mensajes"}, 2147483647, false, 1);
        fila("an 8 MB greeting line", {Guion().S("+OK " + mega.repeated(128)).escucha()}, 1, {}, muerto, 0, true);
        fila("8 MB of TOP", {Guion(entrada).stat(2).C("TOP 1 1").S("+OK\r\nSubject: E\r\nFrom: A\r\n" + (mega.left(60) + "\r\n").repeated(1 << 17)).escucha()},
             1, {"Casa => E: A", vacia}, plazo, 0, true, 0);
        fila("8 MB of empty lines after the greeting", {Guion().S("+OK\r\n" + QByteArray("\r\n").repeated(4 << 20)).escucha()}, 1, {},
             {kProtocolo, kNada}, -1);
        fila("never speaks", {Guion().escucha()}, 1, {}, muerto, 0, true, 0, conQuit);
        fila("hangs up in the greeting", {Guion().S("+OK hol").cierra()}, 1, {}, {kSaludo, kNada}, 0, false, 0, {"-"});
        fila("hangs up in TOP", {Guion(entrada).stat(2).C("TOP 1 1").S("+OK\r\nSubj").cierra()}, 1, dos, {"consejo: 2 Mensajes"}, 2, false, 1);
        // The mailbox has been read by QUIT: a goodbye that fails costs it nothing, and is
        // waited for only briefly however long the time-out.
        fila("QUIT unanswered", {Guion(entrada).stat(1).top(1, "Hola", "Ana").C("QUIT").escucha()}, 3600, {"Casa => Hola: Ana"},
             {"consejo: 1 Mensajes"}, 1, false, 1);
        // Servers that offer PIPELINING and then fall out of step with the commands.
        const Guion enCadena = Guion().S("+OK hola\r\n").capa(kEnCadena).junta(4).C("USER pepe").S("+OK\r\n").C("PASS secreta");
        fila("in a row, an answer less to TOP", {Guion(enCadena).S("+OK\r\n").stat(2).C("UIDL").S("+OK\r\n1 a\r\n2 b\r\n.\r\n").junta(2).C("TOP 1 1").C("TOP 2 1")
                                                      .S("+OK\r\nSubject: Dos\r\nFrom: Ana\r\n\r\n.\r\n").escucha()},
             1, {"Casa => Dos: Ana", vacia}, plazo, 0, true, 0, {"1: CAPA", "1: STAT", "1: UIDL", "1: TOP 1 1", "1: TOP 2 1", "1: QUIT"});
        fila("in a row, a refused password: the answers behind it are read before QUIT's",
             {Guion(enCadena).S("-ERR mala\r\n").C("STAT").S("-ERR fuera\r\n").C("UIDL").S("-ERR fuera\r\n").quit()}, 1, {},
             {kClave, "consejo: Clave incorrecta", kNada}, 0);
        fila("in a row, an unreadable count", {Guion(enCadena).S("+OK\r\n").C("STAT").S("+OK 3\r\n").C("UIDL").S("+OK\r\n1 a\r\n.\r\n").quit()}, 1, {},
             {kProtocolo + "+OK 3", kNada}, -1);
        // Headers remembered by unique id: only new ids are asked for, and the lines are
        // those a full cycle would give.
        const QList<std::tuple<const char*, QList<QByteArray>, int>> rondas{
            {"a number now with another id", {"a:Uno* b:Dos*", "c:Tres* b:Dos"}, 1},
            {"an id back after it was gone", {"a:Uno* b:Dos*", "a:Uno", "a:Uno b:Otro*"}, 3},
            {"an id listed twice is never trusted", {"a:Uno* a:Dos*", "a:Uno* a:Dos*"}, 1},
            {"a count that drops to 0 and comes back is told again", {"a:Uno* b:Dos*", "", "a:Uno* b:Dos*"}, 2},
            {"a count that falls, not to 0, is told as new mail", {"a:Uno* b:Dos* c:Tres*", "a:Uno c:Tres"}, 2},
        };
        QStringList lineas;
        for (const auto& [nombre, ciclos, avisos] : rondas)
            for (const QList<QByteArray>& capacidades : {kEnCadena, QList<QByteArray>{"UIDL"}}) {
                QList<Guion> guiones;
                QStringList vistos;
                for (const QByteArray& c : ciclos) {
                    guiones << sesion(c, capacidades, &(lineas = {}));
                    vistos << (c.isEmpty() ? kNada : "consejo: " + QString::number(c.count(' ') + 1) + " Mensajes");
                }
                QTest::addRow("%s, %s", nombre, capacidades.size() > 1 ? "in a row" : "one at a time")
                    << guiones << 1 << lineas << vistos << QList<int>{int(lineas.size()), 0, avisos} << QStringList();
            }
    }
    void ciclos()
    {
        QFETCH(QList<Guion>, guiones);
        QFETCH(int, espera);
        QFETCH(QStringList, oidas);
        ServidorGuion servidor(guiones);
        Ciclo ciclo(servidor.puerto(), espera);
        ciclo.opciones.sonido = Sonido::Pitido;
        ciclo.buzon("Casa");
        [[maybe_unused]] const qint64 antes = pico();
        QFile picoNuevo(QStringLiteral("/proc/self/clear_refs"));
        [[maybe_unused]] const bool medible = picoNuevo.open(QIODevice::WriteOnly) && picoNuevo.write("5") == 1 && picoNuevo.flush();
        for (qsizetype n = 0; n < guiones.size(); ++n)
            ciclo.c.CheckMail();
#if !defined(__SANITIZE_ADDRESS__) // its quarantine keeps what the ordinary allocator gives back
        // What one reply may keep is 256 kB; the floods are 8 MB.
        QVERIFY2(!medible || pico() - antes < 2048, qPrintable(QString::number(pico() - antes)));
#endif
        QVERIFY(servidor.termina(30000));
        QVERIFY2(servidor.fallos().isEmpty(), qPrintable(servidor.fallos().join(u'|')));
        QTEST(ciclo.lineas(), "lineas");
        QTEST(ciclo.p.hechos.filter(QRegularExpression(QStringLiteral("^(error|dialogo|caja|consejo): "))), "vistos");
        QTEST((QList<int>{ciclo.mensajes.actuales(1), ciclo.buzones.conError(1), int(ciclo.p.hechos.count("pitido"))}), "fin");
        QVERIFY(!ciclo.c.chequeando() && ciclo.s.SocketHandle() == -1);
        if (!oidas.isEmpty()) // "-": nothing
            QCOMPARE(servidor.recibidas().filter(QRegularExpression(QStringLiteral("^1: (?!USER|PASS)"))), oidas.mid(oidas[0] == u"-"));
    }

    // Told once, until the server answers again; mailboxes without a host or unmarked are
    // not checked at all.
    void inalcanzableSeAvisaUnaVez()
    {
        const quint16 cerrado = PuertoCerrado();
        Ciclo ciclo(cerrado);
        ciclo.buzon("Casa");
        ciclo.buzon("Lejos", 0, "no-existe.invalid");
        ciclo.buzones.agregar("SinHost", "", "u", "c", true);
        ciclo.buzones.agregar("Apagado", "127.0.0.1", "u", "c", false);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(ciclo.c.CheckMail().fallidos, (QList<int>{1, 2}));
        QCOMPARE(ciclo.p.cajas(), (QStringList{kRechazada, "error: Lejos: el servidor no-existe.invalid no responde"}));
        ServidorGuion servidor({Guion::entrada().stat(0).quit()});
        ciclo.c.puerto = QByteArray::number(servidor.puerto());
        QCOMPARE(ciclo.c.CheckMail().fallidos, QList<int>{2});
        TRANSCRIPCION_LIMPIA(servidor);
        ciclo.p.hechos.clear();
        ciclo.c.puerto = QByteArray::number(cerrado);
        ciclo.c.CheckMail();
        QCOMPARE(ciclo.p.cajas(), QStringList{kRechazada});
    }

    // A dead, a slow and a refusing mailbox beside a good one and a refused password: side
    // by side, the user is told exactly what one after another tells, in table order.
    void aLaVezComoUnoTrasOtro()
    {
        const quint16 cerrado = PuertoCerrado();
        const auto ciclo = [&](int simultaneos, Ciclo* c) {
            ServidorGuion muerto({Guion().escucha()});
            ServidorGuion lento({Guion().pausa(300).S("+OK\r\n").C("USER pepe").pausa(200).S("+OK\r\n").C("PASS secreta").S("+OK\r\n")
                                     .stat(2).top(1, "Tarde", "Bea").pausa(300).top(2, "Luego", "Bea").quit()});
            ServidorGuion bueno({Guion::entrada().stat(1).top(1, "Hola", "Ana").quit()});
            ServidorGuion clave({Guion().S("+OK <1.2@h>\r\n").C("USER pepe").S("+OK\r\n").C("PASS mala").S("-ERR no\r\n").quit()});
            c->c.simultaneos = simultaneos;
            c->buzon("Muerto", muerto.puerto());
            c->buzon("Lento", lento.puerto());
            c->buzon("Rechaza", cerrado);
            c->buzon("Bueno", bueno.puerto());
            c->buzon("Clave", clave.puerto(), "127.0.0.1", "mala");
            c->mensajes.setActuales(3, 7);
            return c->c.CheckMail();
        };
        Ciclo uno(0), todos(0);
        const ResultadoChequeo a = ciclo(1, &uno), b = ciclo(kMaxBuzones, &todos);
        QCOMPARE(todos.lineas(), uno.lineas());
        QCOMPARE(todos.p.hechos, uno.p.hechos);
        QVERIFY(b.fallidos == a.fallidos && b.cuentas == a.cuentas && b.estado == a.estado);
        QCOMPARE(uno.lineas(), (QStringList{"Lento => Tarde: Bea", "Lento => Luego: Bea", "Bueno => Hola: Ana"}));
        QCOMPARE(uno.p.cajas(), (QStringList{QString(kNoResponde).replace("Casa", "Muerto"), QString(kSaludo).replace("Casa", "Muerto"),
                                            kRechazada, "dialogo: Clave: Clave incorrecta "}));
        QCOMPARE(a.fallidos, (QList<int>{1, 3, 5}));
        QVERIFY(a.hecho && a.nuevos && a.estado == EstadoBandeja::Mensajes && a.cabeceras == 3 && a.cuentas == (QList<int>{0, 2, 0, 1, 0}));
        QVERIFY2(uno.p.ultimoIcono == Bandera::Bandera5 && uno.c.sello() == "<1.2@h>", "the last greeting offered a stamp");
    }

    // The program quits while its sessions wait: each ends at once with its QUIT, and
    // nothing more is shown. A check asked for meanwhile is refused.
    void salidaDuranteUnCiclo()
    {
        ServidorGuion mudo({Guion().escucha()}), lento({Guion().pausa(1000).escucha()});
        Ciclo ciclo(0, 30);
        ciclo.buzon("Mudo", mudo.puerto());
        ciclo.buzon("Lento", lento.puerto());
        bool anidada = true;
        QTimer::singleShot(300, [&] {
            anidada = ciclo.c.CheckMail().hecho;
            QCoreApplication::exit(0);
        });
        QVERIFY(ciclo.c.CheckMail().hecho && !anidada);
        // The quit is spent; later waits of this process must wait again.
        QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
        QVERIFY(!ciclo.c.chequeando() && ciclo.p.hechos.isEmpty());
        QVERIFY(mudo.termina() && lento.termina());
        QCOMPARE(mudo.recibidas(), QStringList{"1: QUIT"});
    }

    // pirel-chequeo: arguments, a list of mailboxes or the stored settings, what it prints
    // and its exit status.
    void consola_data()
    {
        QTest::addColumn<QStringList>("argumentos");
        QTest::addColumn<QByteArray>("entrada"); // the list of mailboxes, or with --config the settings file
        QTest::addColumn<QStringList>("salida");
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("estado");
        const auto fila = [](const char* n, const QStringList& argumentos, const QByteArray& entrada, const QStringList& salida,
                             const QString& error, int estado) {
            QTest::newRow(n) << argumentos << entrada << salida << error << estado;
        };
        const QStringList casa{"Casa => Reunión del lunes: Ana Pérez", "Casa => Factura: Sin Remitente", "2 Mensajes"};
        const QString uso = QStringLiteral("Uso: pirel-chequeo [--buzones FICHERO] [--puerto N] [--espera SEGUNDOS] | --help | --version");
        const QStringList lista{"--buzones", "-"}, nada{"No Hay Mensajes"};
        fila("two messages", lista, "Casa\t127.0.0.1\tana\tsecreta\n", casa, {}, 0);
        const QByteArray seguro = "Casa\t127.0.0.1\tana\tsecreta\tssl\t{ssl}";
        fila("ssl, STLS by name, a pinned self-signed certificate with colons", lista,
             seguro + "\nCasa\tlocalhost\tana\tsecreta\tSTLS\t{plano}\nCasa\t127.0.0.1\tana\tsecreta\tssl\t{auto}\t{pin}\n",
             casa.mid(0, 2) + casa.mid(0, 2) + casa.mid(0, 2) << "6 Mensajes", {}, 0);
        fila("a mode it does not know", lista, "Casa\t127.0.0.1\tana\tsecreta\ttls\n", {}, "-, línea 1", 3);
        fila("a fingerprint one digit short", lista, seguro + "\t" + QByteArray(63, 'A') + "\n", {}, "-, línea 1", 3);
        fila("a comment; a wrong password, never printed", lista, "# sin correo\nCasa\t127.0.0.1\tana\tmala\n", nada, "Casa: Clave incorrecta \n", 1);
        fila("a server that does not exist, control characters made blanks", lista, "Casa\x1b[2J\tno-existe.invalid\tana\tsecreta\n",
             {"Error en Conexion"}, "Casa [2J: el servidor no-existe.invalid no responde\n", 2);
        fila("eight fields", lista, "\nCasa\t127.0.0.1\tana\tsecreta\tssl\t995\t" + QByteArray(64, 'a') + "\tx\n", {},
             "-, línea 2: se esperan nombre, servidor, usuario y clave", 3);
        fila("no wait", {"--espera", "0"}, {}, {}, "Espera no válida (de 1 a 3600 segundos): 0\n" + uso, 3);
        // A settings file written by hand with the single-mailbox layout of old versions;
        // "secreta" scrambled with the program's key.
        fila("old settings migrated and checked", {"--config"},
             "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion]\r\n\"Host\"=\"127.0.0.1\"\r\n"
             "\"usuario\"=\"ana\"\r\n\"Codigo\"=\"210A351329012F\"\r\n\"frecuencia\"=\"5\"\r\n\r\n"
             "[HKEY_CURRENT_USER\\Software\\Ludaren\\Version]\r\n\"Numero\"=\"1.0\"\r\n",
             QStringList(casa).replaceInStrings("Casa", "Buzon 1"), {}, 0);
        fila("no settings", {"--config"}, {}, {}, "Pirel no está configurado todavía", 3);
    }
    void consola()
    {
        QFETCH(QStringList, argumentos);
        QFETCH(QByteArray, entrada);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const bool config = argumentos.value(0) == u"--config";
        QDir().mkpath(dir.filePath(QStringLiteral("Ludaren")));
        QFile f(dir.filePath(QStringLiteral("Ludaren/registro.reg")));
        if (config && !entrada.isEmpty())
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(entrada) == entrada.size() && f.flush());
        const ServidorDovecot &valido = *dovecot_(), &propio = *dovecot_(Certificados::Autofirmado);
        entrada.replace("{ssl}", QByteArray::number(valido.puertoTLS())).replace("{plano}", QByteArray::number(valido.puerto()))
            .replace("{auto}", QByteArray::number(propio.puertoTLS()))
            .replace("{pin}", QByteArray::fromHex(dovecot_.certificados.huella(Certificados::Autofirmado)).toHex(':'));
        if (argumentos.contains(u"-") || config)
            argumentos = argumentos.mid(config) + QStringList{"--puerto", QString::number(valido.puerto()), "--espera", "10"};
        QProcess p;
        auto entorno = QProcessEnvironment::systemEnvironment();
        entorno.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
        p.setProcessEnvironment(entorno);
        p.start(QCoreApplication::applicationDirPath() + "/pirel-chequeo", argumentos);
        p.write(config ? QByteArray() : entrada);
        p.closeWriteChannel();
        QVERIFY(p.waitForFinished(240000) && p.exitStatus() == QProcess::NormalExit);
        const QString errores = QString::fromUtf8(p.readAllStandardError());
        QFETCH(QStringList, salida);
        QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts).mid(0, qMax(salida.size(), 1)), salida);
        const bool esperado = error.endsWith(u'\n') ? errores.startsWith(error) : errores.contains(error);
        QVERIFY2(error.isEmpty() ? errores.isEmpty() : esperado, qPrintable(errores));
        QTEST(p.exitCode(), "estado");
        QVERIFY2(!QFile::exists(dir.filePath(QStringLiteral("autostart"))), "the checker adds no log-on entry");
    }
};

QTEST_GUILESS_MAIN(TestCiclo)
#include "test_ciclo.moc"
