#include "servidor_dovecot.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pirel::prueba {
namespace {

// As root, mail belongs to an unprivileged uid: Dovecot refuses to serve mail as root.
const bool kRoot = ::geteuid() == 0;
const uid_t kUid = kRoot ? 5000 : ::getuid();
const gid_t kGid = kRoot ? 5000 : ::getgid();

QString binario() { return QStandardPaths::findExecutable(QStringLiteral("dovecot"), {QStringLiteral("/usr/sbin")}); }

// A loopback socket connected to `puerto`, or bound to a free port when it is 0.
int enlaza(quint16* puerto)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in dir{AF_INET, htons(*puerto), {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t largo = sizeof dir;
    const auto d = reinterpret_cast<sockaddr*>(&dir);
    const bool ok = *puerto ? ::connect(fd, d, largo) == 0 : ::bind(fd, d, largo) == 0 && ::getsockname(fd, d, &largo) == 0;
    *puerto = ok ? ntohs(dir.sin_port) : 0;
    return fd;
}

// The port may be taken again before Dovecot binds it; arranca() retries in that case.
quint16 puertoLibre()
{
    quint16 p = 0;
    ::close(enlaza(&p));
    return p;
}

bool saluda(quint16 puerto)
{
    const int fd = enlaza(&puerto);
    QByteArray linea;
    const timeval espera{0, 500000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &espera, sizeof espera);
    char buf[256];
    for (ssize_t n = 0; puerto && !linea.contains('\n') && (n = ::read(fd, buf, sizeof buf)) > 0;)
        linea.append(buf, n);
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

// %1 folder, %2 attempt, %3 first valid uid, %4 port, %5 to %7 the users and group of
// Dovecot's own processes. No chroot, so that it also runs without root. A failed passdb
// drops the fields it set, so nodelay comes from an earlier one (else a wrong password is
// answered up to 0.5 s late); failed log-ins must not slow down the ones that follow.
const char kConfiguracion[] = R"(base_dir = %1/r%2
state_dir = %1/estado
log_path = %1/dovecot.log
instance_name = pirel-prueba
protocols = pop3
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
auth_mechanisms = plain login
auth_verbose = yes
mail_location = maildir:~/Maildir
first_valid_uid = %3
default_login_user = %5
default_internal_user = %6
default_internal_group = %7
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
  chroot =
  inet_listener pop3 {
    port = %4
  }
}
service anvil {
  chroot =
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
)";

} // namespace

ServidorDovecot::ServidorDovecot()
    : dir_(QStringLiteral("/tmp/pdXXXXXX")) // short: unix socket paths live under it
{
    // Dovecot's mail and auth processes run as other users and must reach the files.
    if (!dir_.isValid())
        return;
    ::chmod(QFile::encodeName(dir_.path()).constData(), 0755);
    QDir(dir_.path()).mkdir(QStringLiteral("estado"));
    escribe(dir_.filePath(QStringLiteral("usuarios")), {});
}

ServidorDovecot::~ServidorDovecot() { detiene(); }

bool ServidorDovecot::disponible() { return !binario().isEmpty(); }

void ServidorDovecot::agregaUsuario(const QByteArray& usuario, const QByteArray& clave,
                                    const QList<MensajePrueba>& mensajes)
{
    const QString casa = dir_.filePath(QStringLiteral("mail/") + QString::fromUtf8(usuario));
    for (const char* sub : {"/cur", "/new", "/tmp"})
        QDir().mkpath(casa + "/Maildir" + sub);
    // Dovecot numbers new mail in file-name order; rising timestamps keep the given order.
    for (int i = 0; i < mensajes.size(); ++i) {
        const MensajePrueba& m = mensajes[i];
        const QByteArray asunto = m.sinAsunto ? QByteArray() : "Subject: " + m.asunto + "\r\n";
        escribe(casa + QString::asprintf("/Maildir/new/%d.M%06dP1.pirel", 1700000000 + i, i),
                "From: " + m.remitente + "\r\nTo: " + usuario + "@pirel.prueba\r\n" + asunto
                    + "Date: Mon, 6 May 2024 10:00:00 +0000\r\nMessage-ID: <" + QByteArray::number(i + 1) + "."
                    + usuario + "@pirel.prueba>\r\n\r\n" + m.cuerpo);
    }
    QDirIterator it(casa, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    for (QString ruta = casa; kRoot && !ruta.isEmpty(); ruta = it.hasNext() ? it.next() : QString())
        (void)!::chown(QFile::encodeName(ruta).constData(), kUid, kGid);
    usuarios_ += usuario + ":{PLAIN}" + clave + ':' + QByteArray::number(kUid) + ':' + QByteArray::number(kGid) + "::"
        + QFile::encodeName(casa) + "::\n";
    escribe(dir_.filePath(QStringLiteral("usuarios")), usuarios_);
}

bool ServidorDovecot::arranca(QString* error)
{
    if (pid_ > 0)
        return true;
    QString fallo = !dir_.isValid() ? "no temporary folder: " + dir_.errorString()
        : disponible()              ? QString()
                                    : QStringLiteral("dovecot binary not found");
    for (int intento = 0; fallo.isEmpty(); ++intento) {
        if (lanza(intento, &fallo))
            return true;
        detiene();
        if (intento < 2 && registro().contains(QLatin1String("Address already in use")))
            fallo.clear(); // lost the port race: try another
    }
    if (error)
        *error = fallo + QStringLiteral("\n--- dovecot log (%1)\n").arg(dir_.path()) + registro();
    return false;
}

void ServidorDovecot::usaTLS(const QString& certificado, const QString& clave)
{
    certificado_ = certificado;
    clave_ = clave;
}

bool ServidorDovecot::lanza(int intento, QString* error)
{
    const bool tls = !certificado_.isEmpty();
    puerto_ = puertoLibre();
    puertoTLS_ = tls ? puertoLibre() : 0;
    if (puerto_ == 0 || (tls && (puertoTLS_ == 0 || puertoTLS_ == puerto_))) {
        *error = QStringLiteral("no free loopback port");
        return false;
    }
    // Without root every process runs as the current user.
    const passwd* pw = kRoot ? nullptr : ::getpwuid(::getuid());
    const group* gr = kRoot ? nullptr : ::getgrgid(::getgid());
    const QString yo = QString::fromLocal8Bit(pw ? pw->pw_name : "dovecot");
    const QString d = dir_.path();
    // A fresh base_dir per attempt: a stale one slows start-up down.
    QString conf = QString::fromLatin1(kConfiguracion)
                       .arg(d, QString::number(intento), QString::number(qMin<uint>(1000, kUid)),
                            QString::number(puerto_), pw ? yo : QStringLiteral("dovenull"), yo,
                            QString::fromLocal8Bit(gr ? gr->gr_name : "dovecot"));
    if (tls) // STLS is offered on the plain listener as soon as ssl is on
        conf.replace(QStringLiteral("ssl = no\n"), QStringLiteral("ssl = yes\nssl_cert = <%1\nssl_key = <%2\n").arg(certificado_, clave_))
            .replace(QStringLiteral("  inet_listener pop3 {"),
                     QStringLiteral("  inet_listener pop3s {\n    port = %1\n    ssl = yes\n  }\n  inet_listener pop3 {").arg(puertoTLS_));
    escribe(d + QStringLiteral("/dovecot.conf"), conf.toUtf8());

    // Prepared before fork(): only async-signal-safe calls may follow it in the child.
    const QByteArray bin = QFile::encodeName(binario());
    const QByteArray rutaConf = QFile::encodeName(d + QStringLiteral("/dovecot.conf"));
    const QByteArray rutaLog = QFile::encodeName(d + QStringLiteral("/dovecot.log"));
    const pid_t padre = ::getpid();
    if ((pid_ = ::fork()) == 0) {
        // Ends with the test process even when it crashes before the destructor runs.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != padre)
            ::_exit(127);
        ::setpgid(0, 0);
        sigset_t vacio{}; // an empty set: the test's blocked signals must not reach Dovecot
        ::sigprocmask(SIG_SETMASK, &vacio, nullptr);
        ::dup2(::open("/dev/null", O_RDONLY), 0);
        // Errors from before the log is set up land in the same file.
        const int salida = ::open(rutaLog.constData(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        ::dup2(salida, 1);
        ::dup2(salida, 2);
        ::close_range(3, ~0U, 0);
        // -F keeps the master as our child, so it can be waited for and killed with its group.
        ::execl(bin.constData(), bin.constData(), "-F", "-c", rutaConf.constData(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::setpgid(pid_, pid_); // also here, so detiene() never races the child's own call
    for (const QDeadlineTimer plazo(10000); pid_ > 0 && !plazo.hasExpired(); ::usleep(5000)) {
        siginfo_t info{};
        ::waitid(P_PID, pid_, &info, WEXITED | WNOHANG | WNOWAIT); // detiene() reaps it
        if (info.si_pid == pid_) {
            *error = QStringLiteral("dovecot exited during start-up");
            return false;
        }
        if (saluda(puerto_))
            return true;
    }
    *error = pid_ < 0 ? QStringLiteral("fork failed") : QStringLiteral("no +OK greeting on port %1 within 10 s").arg(puerto_);
    return false;
}

void ServidorDovecot::detiene()
{
    if (pid_ <= 0)
        return;
    // Killed outright: a clean stop costs Dovecot a fixed one-second sleep. The unreaped
    // master keeps its group id from being reused, so only its own children are hit.
    ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

QString ServidorDovecot::registro() const
{
    QFile f(dir_.filePath(QStringLiteral("dovecot.log")));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

ServidorDovecot* Dovecots::operator()(Certificados::Tipo t)
{
    auto& s = servidores_[t];
    if (s)
        return s.get();
    qputenv("SSL_CERT_FILE", QFile::encodeName(certificados.autoridad()));
    qputenv("SSL_CERT_DIR", QFile::encodeName(certificados.carpeta()));
    s = std::make_unique<ServidorDovecot>();
    puebla_(*s);
    s->usaTLS(certificados.certificado(t), certificados.clave(t));
    QString error = certificados.hechos() ? QString() : QStringLiteral("no test certificates");
    if (error.isEmpty() && s->arranca(&error))
        return s.get();
    std::fprintf(stderr, "Dovecot no arranca: %s\n", qUtf8Printable(error));
    s.reset();
    return nullptr;
}

} // namespace pirel::prueba
