// The tray program on a private X server with an XEmbed tray: start-up until the icon
// is docked, resident memory after the first check, plain and over TLS, and wake-ups while
// idle. Then once more
// on private buses with stand-ins for the panel's watcher, logind and NetworkManager:
// start-up until the D-Bus item is registered, wake-ups while idle with every watcher in
// place, and how long after a resume the check comes.
#include "certificados.h"
#include "clave.h"
#include "entorno_x.h"
#include "servidor_dovecot.h"
#include "servidor_guion.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

using namespace pirel::prueba;

namespace {

constexpr int kArranques = 5;
constexpr int kSegundosQuieto = 30;
constexpr int kAsentarse = 35;

long campo(const QString& fichero, const QByteArray& nombre)
{
    QFile f(fichero);
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& linea : f.readAll().split('\n'))
        if (linea.startsWith(nombre + ':'))
            return linea.mid(nombre.size() + 1).trimmed().split(' ').first().toLong();
    return 0;
}

// Context switches of every thread: each one is the process waking up.
long despertares(qint64 pid)
{
    long total = 0;
    const QString tareas = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString& t : QDir(tareas).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString status = tareas + u'/' + t + QStringLiteral("/status");
        total += campo(status, "voluntary_ctxt_switches") + campo(status, "nonvoluntary_ctxt_switches");
    }
    return total;
}

// `conexion`: mailbox 1's values after Chequear1.
QString configura(const QTemporaryDir& dir, const QByteArray& conexion = {})
{
    QDir().mkpath(dir.filePath(QStringLiteral("Ludaren")));
    QFile f(dir.filePath(QStringLiteral("Ludaren/registro.reg")));
    f.open(QIODevice::WriteOnly);
    f.write("Windows Registry Editor Version 5.00\n\n"
            "[HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion]\n\"frecuencia\"=\"60\"\n\"Animacion\"=\"No\"\n\n"
            "[HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion\\Buzones]\n"
            "\"Buzon1\"=\"Casa\"\n\"Host1\"=\"127.0.0.1\"\n\"usuario1\"=\"pepe\"\n\"Codigo1\"=\""
            + pirel::CodificaClave("secreta") + "\"\n\"Chequear1\"=\"Si\"\n" + conexion + "\"nBuzon\"=\"1\"\n\n"
            "[HKEY_CURRENT_USER\\Software\\Ludaren\\Version]\n\"Numero\"=\"2.0\"\n");
    return dir.path();
}

struct Memoria {
    long residente = -1, pico = -1; // kB
};

// The program right after its first check, over TLS from the first byte against Dovecot,
// the certificate verified against an authority of the run's own.
Memoria memoriaTrasTLS(const EntornoX& x)
{
    Dovecots dovecots([](ServidorDovecot& s) {
        s.agregaUsuario("pepe", "secreta", {{"Hola", "Ana <ana@ejemplo.org>"}, {"Cena", "Eva <eva@ejemplo.org>"}});
    });
    ServidorDovecot* const arrancado = dovecots();
    if (!arrancado)
        return {};
    const ServidorDovecot& dovecot = *arrancado;
    const Certificados& certificados = dovecots.certificados;
    QTemporaryDir dir;
    QProcessEnvironment entorno = x.entornoPrograma();
    entorno.insert(QStringLiteral("XDG_CONFIG_HOME"),
                   configura(dir, "\"Seguridad1\"=\"SSL\"\n\"Puerto1\"=\"" + QByteArray::number(dovecot.puertoTLS())
                                      + "\"\n"));
    entorno.insert(QStringLiteral("SSL_CERT_FILE"), certificados.autoridad());
    entorno.insert(QStringLiteral("SSL_CERT_DIR"), certificados.carpeta());
    QProcess programa;
    programa.setProcessEnvironment(entorno);
    programa.setProcessChannelMode(QProcess::ForwardedChannels);
    programa.start(QCoreApplication::applicationDirPath() + QStringLiteral("/pirel"));
    Memoria m;
    // The session ends with QUIT once both headers are read: Dovecot logs it.
    if (EsperaA([&] { return dovecot.registro().contains(QLatin1String("Logged out")); })) {
        const QString status = QStringLiteral("/proc/%1/status").arg(programa.processId());
        m = {campo(status, "VmRSS"), campo(status, "VmHWM")};
    } else {
        std::fprintf(stderr, "el chequeo con TLS no terminó:\n%s\n", qUtf8Printable(dovecot.registro()));
    }
    Termina(programa);
    return m;
}

QProcess* lanza(const EntornoX& x, const QString& configuracion, quint16 puerto, const BusesPrivados* buses = nullptr)
{
    QProcessEnvironment entorno = x.entornoPrograma();
    if (buses)
        buses->aplica(entorno);
    entorno.insert(QStringLiteral("XDG_CONFIG_HOME"), configuracion);
    entorno.insert(QStringLiteral("PIREL_PUERTO_POP3"), QString::number(puerto));
    auto* programa = new QProcess;
    programa->setProcessEnvironment(entorno);
    programa->setProcessChannelMode(QProcess::ForwardedChannels);
    programa->start(QCoreApplication::applicationDirPath() + QStringLiteral("/pirel"));
    return programa;
}

void conServicios(const EntornoX& x, const QString& configuracion)
{
    BusesPrivados buses;
    SistemaFalso sistema;
    NotificadorFalso notificador;
    VigiaFalso vigia(buses);
    QString error;
    if (!buses.arranca(&error) || !sistema.arranca(buses, 70) || !notificador.arranca(buses) || !vigia.arranca()) {
        std::fprintf(stderr, "sin buses de prueba: %s\n", qUtf8Printable(error));
        return;
    }
    ServidorGuion servidor({Guion::entrada().stat(0).quit(), Guion::entrada().stat(0).quit()});
    QElapsedTimer t;
    t.start();
    std::unique_ptr<QProcess> programa(lanza(x, configuracion, servidor.puerto(), &buses));
    EsperaA([&] { return !vigia.registros.isEmpty(); });
    const qint64 registro = t.elapsed();
    EsperaA([&] { return servidor.conexiones() == 1; });
    EsperaA([] { return false; }, kAsentarse * 1000);
    const long memoria = campo(QStringLiteral("/proc/%1/status").arg(programa->processId()), "VmRSS");
    const long antes = despertares(programa->processId());
    EsperaA([] { return false; }, kSegundosQuieto * 1000);
    const long quieto = despertares(programa->processId()) - antes;
    // The start-up check is over a minute old by now: the resume brings one.
    sistema.reanuda();
    t.restart();
    EsperaA([&] { return servidor.conexiones() == 2; }, 30000);
    const qint64 tras = t.elapsed();
    Termina(*programa);
    std::printf("con vigía, logind y NetworkManager en buses privados:\n");
    std::printf("  arranque hasta el elemento registrado en el vigía: %lld ms\n", registro);
    std::printf("  memoria residente tras el primer chequeo: %.1f MB\n", memoria / 1024.0);
    std::printf("  despertares en reposo: %ld en %d s, %.1f por minuto (objetivo: ninguno entre chequeos)\n", quieto,
                kSegundosQuieto, quieto * 60.0 / kSegundosQuieto);
    std::printf("  chequeo tras reanudar: %.1f s (espera de asentamiento: 10 s)\n", tras / 1000.0);
}

}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    EntornoX x;
    QString error;
    if (!x.arranca(&error) || !x.arrancaBandeja()) {
        std::fprintf(stderr, "sin escritorio de prueba: %s\n", qUtf8Printable(error));
        return 1;
    }
    QTemporaryDir dir;
    const QString configuracion = configura(dir);
    std::vector<double> arranques;
    long memoria = 0, quieto = 0;
    for (int n = 0; n < kArranques; ++n) {
        ServidorGuion servidor({Guion::entrada().stat(0).quit()});
        QElapsedTimer t;
        t.start();
        std::unique_ptr<QProcess> proceso(lanza(x, configuracion, servidor.puerto()));
        QProcess& programa = *proceso;
        EsperaA([&] { return x.ventanas(QStringLiteral("pirel")).size() == 1; });
        arranques.push_back(t.nsecsElapsed() / 1e6);
        servidor.termina();
        if (n == kArranques - 1) {
            // Qt's pooled threads end 30 s after their last task: one wake-up that is not idling.
            QThread::sleep(kAsentarse);
            const QString status = QStringLiteral("/proc/%1/status").arg(programa.processId());
            memoria = campo(status, "VmRSS");
            const long antes = despertares(programa.processId());
            QThread::sleep(kSegundosQuieto);
            quieto = despertares(programa.processId()) - antes;
        }
        Termina(programa);
    }
    const Memoria tls = memoriaTrasTLS(x);
    std::sort(arranques.begin(), arranques.end());
    std::printf("arranque hasta el icono en la bandeja: %.0f ms (mediana de %d; %.0f a %.0f)\n",
                arranques[arranques.size() / 2], kArranques, arranques.front(), arranques.back());
    std::printf("memoria residente tras el primer chequeo: %.1f MB (objetivo < 40 MB)\n", memoria / 1024.0);
    std::printf("memoria residente tras un chequeo con TLS: %.1f MB, pico %.1f MB (objetivo < 40 MB)\n",
                tls.residente / 1024.0, tls.pico / 1024.0);
    std::printf("despertares en reposo: %ld en %d s, %.1f por minuto (objetivo: ninguno entre chequeos)\n", quieto,
                kSegundosQuieto, quieto * 60.0 / kSegundosQuieto);
    std::fflush(stdout);
    conServicios(x, configuracion);
    return 0;
}
