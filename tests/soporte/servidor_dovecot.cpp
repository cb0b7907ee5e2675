#include "servidor_dovecot.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace pirel::prueba {
namespace {

// As root, mail is owned by an unprivileged uid: Dovecot refuses to serve mail as root.
const bool kRoot = ::geteuid() == 0;
uid_t uidCorreo() { return kRoot ? 5000 : ::getuid(); }
gid_t gidCorreo() { return kRoot ? 5000 : ::getgid(); }

QString binario()
{
    for (const char* p : {"/usr/sbin/dovecot", "/usr/local/sbin/dovecot"}) {
        if (QFileInfo(QString::fromLatin1(p)).isExecutable())
            return QString::fromLatin1(p);
    }
    return {};
}

int conectaLoopback(quint16 puerto)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in dir{};
    dir.sin_family = AF_INET;
    dir.sin_port = htons(puerto);
    dir.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&dir), sizeof dir) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The port can be taken again before Dovecot binds it; arranca() retries in that case.
quint16 puertoLibre()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in dir{};
    dir.sin_family = AF_INET;
    dir.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t largo = sizeof dir;
    quint16 puerto = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&dir), sizeof dir) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&dir), &largo) == 0)
        puerto = ntohs(dir.sin_port);
    if (fd >= 0)
        ::close(fd);
    return puerto;
}

bool saluda(quint16 puerto)
{
    const int fd = conectaLoopback(puerto);
    if (fd < 0)
        return false;
    timeval espera{0, 500000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &espera, sizeof espera);
    QByteArray linea;
    char buf[256];
    while (!linea.contains('\n')) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        linea.append(buf, n);
    }
    if (linea.startsWith("+OK"))
        (void)!::write(fd, "QUIT\r\n", 6);
    ::close(fd);
    return linea.startsWith("+OK");
}

bool escribe(const QString& ruta, const QByteArray& datos)
{
    QFile f(ruta);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(datos) == datos.size();
}

QByteArray compone(const MensajePrueba& m, int n, const QByteArray& usuario)
{
    if (!m.crudo.isEmpty())
        return m.crudo;
    QByteArray t;
    if (!m.sinRemitente)
        t += "From: " + m.remitente + "\r\n";
    t += "To: " + usuario + "@pirel.prueba\r\n";
    if (!m.sinAsunto)
        t += "Subject: " + m.asunto + "\r\n";
    t += "Date: Mon, 6 May 2024 10:00:00 +0000\r\n";
    t += "Message-ID: <" + QByteArray::number(n) + "." + usuario + "@pirel.prueba>\r\n\r\n";
    return t + m.cuerpo;
}

} // namespace

ServidorDovecot::ServidorDovecot()
    : dir_(QStringLiteral("/tmp/pdXXXXXX")) // short: unix socket paths live under it
{
    // Dovecot's mail and auth processes run as other users and must reach the files.
    if (dir_.isValid())
        ::chmod(QFile::encodeName(dir_.path()).constData(), 0755);
}

ServidorDovecot::~ServidorDovecot() { detiene(); }

bool ServidorDovecot::disponible() { return !binario().isEmpty(); }

QString ServidorDovecot::buzon(const QByteArray& usuario) const
{
    return dir_.filePath(QStringLiteral("mail/%1/Maildir").arg(QString::fromUtf8(usuario)));
}

void ServidorDovecot::agregaUsuario(const QByteArray& usuario, const QByteArray& clave,
                                    const QList<MensajePrueba>& mensajes)
{
    const QString casa = dir_.filePath(QStringLiteral("mail/") + QString::fromUtf8(usuario));
    const QString maildir = buzon(usuario);
    for (const char* sub : {"cur", "new", "tmp"})
        QDir().mkpath(maildir + QLatin1Char('/') + QLatin1String(sub));
    // Dovecot gives UIDs in file-name order; rising timestamps keep the given order.
    for (int i = 0; i < mensajes.size(); ++i) {
        const QString nombre = QStringLiteral("%1.M%2P1.pirel")
                                   .arg(1700000000 + i)
                                   .arg(i, 6, 10, QLatin1Char('0'));
        escribe(maildir + QStringLiteral("/new/") + nombre, compone(mensajes[i], i + 1, usuario));
    }
    if (kRoot) {
        QDirIterator it(casa, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                        QDirIterator::Subdirectories);
        ::chown(QFile::encodeName(casa).constData(), uidCorreo(), gidCorreo());
        while (it.hasNext())
            ::chown(QFile::encodeName(it.next()).constData(), uidCorreo(), gidCorreo());
    }
    usuarios_ += usuario + ":{PLAIN}" + clave + ':' + QByteArray::number(uidCorreo()) + ':'
        + QByteArray::number(gidCorreo()) + "::" + QFile::encodeName(casa) + "::\n";
    escribe(dir_.filePath(QStringLiteral("usuarios")), usuarios_);
}

bool ServidorDovecot::arranca(QString* error)
{
    if (pid_ > 0)
        return true;
    QString fallo;
    if (!dir_.isValid())
        fallo = QStringLiteral("no temporary folder: ") + dir_.errorString();
    else if (!disponible())
        fallo = QStringLiteral("dovecot binary not found");
    else {
        for (int intento = 0; intento < 3; ++intento) {
            if (lanza(intento, &fallo))
                return true;
            const bool ocupado = registro().contains(QLatin1String("Address already in use"));
            detiene();
            if (!ocupado)
                break;
        }
    }
    if (error)
        *error = fallo + QStringLiteral("\n--- dovecot log (") + carpeta() + QStringLiteral(")\n")
            + registro();
    return false;
}

bool ServidorDovecot::lanza(int intento, QString* error)
{
    puerto_ = puertoLibre();
    if (puerto_ == 0) {
        *error = QStringLiteral("no free loopback port");
        return false;
    }
    QString extra;
    if (!kRoot) {
        // Without root Dovecot can neither switch users nor chroot.
        const passwd* pw = ::getpwuid(::getuid());
        const QString yo = pw ? QString::fromLocal8Bit(pw->pw_name) : QString();
        extra = QStringLiteral("default_login_user = %1\ndefault_internal_user = %1\n"
                               "service pop3-login {\n  chroot =\n}\n"
                               "service anvil {\n  chroot =\n}\n")
                    .arg(yo);
    }
    const QString d = carpeta();
    const QString conf = QStringLiteral(R"(base_dir = %1/r%2
state_dir = %1/estado
log_path = %1/dovecot.log
instance_name = pirel-prueba
protocols = pop3
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
auth_mechanisms = plain login
auth_failure_delay = 0
auth_verbose = yes
mail_location = maildir:~/Maildir
first_valid_uid = %3
# Sets nodelay before the real check, since a failed passdb drops its own fields:
# without it a wrong password is answered up to 0.5 s late.
passdb {
  driver = static
  args = nopassword=y noauthenticate=y nodelay=y
}
passdb {
  driver = passwd-file
  args = %1/usuarios
}
userdb {
  driver = passwd-file
  args = %1/usuarios
}
service pop3-login {
  inet_listener pop3 {
    address = 127.0.0.1
    port = %4
  }
  inet_listener pop3s {
    port = 0
  }
}
service imap-login {
  inet_listener imap {
    port = 0
  }
  inet_listener imaps {
    port = 0
  }
}
# Failed log-ins must not slow down the ones that follow.
service anvil {
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
)")
                             .arg(d)
                             .arg(intento)
                             .arg(qMin<uint>(1000, uidCorreo()))
                             .arg(puerto_)
        + extra;
    QDir().mkpath(d + QStringLiteral("/estado"));
    if (!QFile::exists(d + QStringLiteral("/usuarios")))
        escribe(d + QStringLiteral("/usuarios"), {});
    if (!escribe(d + QStringLiteral("/dovecot.conf"), conf.toUtf8())) {
        *error = QStringLiteral("cannot write dovecot.conf");
        return false;
    }

    // Everything the child needs is prepared before fork(): only async-signal-safe calls after it.
    const QByteArray bin = QFile::encodeName(binario());
    const QByteArray rutaConf = QFile::encodeName(d + QStringLiteral("/dovecot.conf"));
    const QByteArray rutaConsola = QFile::encodeName(d + QStringLiteral("/consola.log"));
    const pid_t padre = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        *error = QStringLiteral("fork failed");
        return false;
    }
    if (pid == 0) {
#ifdef __linux__
        // Dies with the test process even if it crashes before the destructor runs.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != padre)
            ::_exit(127);
#endif
        ::setpgid(0, 0); // lets detiene() sweep any children left behind
        sigset_t vacio;
        sigemptyset(&vacio);
        ::sigprocmask(SIG_SETMASK, &vacio, nullptr);
        const int nulo = ::open("/dev/null", O_RDONLY);
        const int salida = ::open(rutaConsola.constData(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        ::dup2(nulo, 0);
        ::dup2(salida, 1);
        ::dup2(salida, 2);
        ::close_range(3, ~0U, 0);
        ::execl(bin.constData(), bin.constData(), "-F", "-c", rutaConf.constData(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    pid_ = pid;

    const QDeadlineTimer plazo(10000);
    while (!plazo.hasExpired()) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            *error = QStringLiteral("dovecot exited during start-up");
            return false;
        }
        if (saluda(puerto_))
            return true;
        QThread::msleep(5);
    }
    *error = QStringLiteral("no +OK greeting on 127.0.0.1:%1 within 10 s").arg(puerto_);
    return false;
}

void ServidorDovecot::detiene()
{
    if (pid_ <= 0)
        return;
    // Killed outright: a clean stop costs Dovecot a fixed one-second sleep, and nothing
    // outside the temporary folder needs cleaning up. The group takes the children too;
    // the unreaped master keeps the group id from being reused meanwhile.
    ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

QString ServidorDovecot::registro() const
{
    QString texto;
    for (const char* nombre : {"dovecot.log", "consola.log"}) {
        QFile f(dir_.filePath(QString::fromLatin1(nombre)));
        if (f.open(QIODevice::ReadOnly))
            texto += QString::fromUtf8(f.readAll());
    }
    return texto;
}

} // namespace pirel::prueba
