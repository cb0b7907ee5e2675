#include "servidor_dovecot.h"
#include <QDeadlineTimer>
#include <QDir>
#include <QStandardPaths>
#include <csignal>
#include <cstdio>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pirel::prueba {
namespace {
// As root, mail belongs to an unprivileged uid, as Dovecot refuses to serve mail as root; without
// root every process runs as the current user.
const bool kRoot = ::geteuid() == 0;
const unsigned kUid = kRoot ? 5000 : ::getuid(), kGid = kRoot ? 5000 : ::getgid();

QString binario() { return QStandardPaths::findExecutable(QStringLiteral("dovecot"), {QStringLiteral("/usr/sbin")}); }

// Closed at once: a free loopback port when `puerto` is 0 (it may be taken again before
// Dovecot binds it), else whether something listens on it.
quint16 prueba(quint16 puerto)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in dir{AF_INET, htons(puerto), {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t largo = sizeof dir;
    const auto d = reinterpret_cast<sockaddr*>(&dir);
    const bool ok = puerto ? ::connect(fd, d, largo) == 0 : ::bind(fd, d, largo) == 0 && ::getsockname(fd, d, &largo) == 0;
    ::close(fd);
    return ok ? ntohs(dir.sin_port) : 0;
}

void escribe(const QString& ruta, const QByteArray& datos)
{
    QFile f(ruta);
    (void)(f.open(QIODevice::WriteOnly) && f.write(datos));
}

// %1 folder, %2 attempt (a stale base_dir slows start-up down), %3 first valid uid, %4 port, %5 to
// %7 Dovecot's own users and group. No chroot, so that it runs without root too. nodelay comes from
// a passdb before the real one (a failed one drops its fields): a wrong password is answered at once.
const char kConfiguracion[] = R"(base_dir = %1/r%2
state_dir = %1
log_path = %1/dovecot.log
protocols = pop3
listen = 127.0.0.1
ssl = no
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
}

bool ServidorDovecot::disponible() { return !binario().isEmpty(); }
void ServidorDovecot::agregaUsuario(const QByteArray& usuario, const QByteArray& clave, const QList<MensajePrueba>& mensajes)
{
    const QString casa = dir_.filePath(QStringLiteral("mail/") + QString::fromUtf8(usuario));
    for (const char* sub : {"/cur", "/new", "/tmp"})
        QDir().mkpath(casa + "/Maildir" + sub);
    // Dovecot numbers new mail in file-name order; rising timestamps keep the given order.
    for (int i = 0; i < mensajes.size(); ++i)
        escribe(casa + QString::asprintf("/Maildir/new/%d.M%06dP1.pirel", 1700000000 + i, i),
                "From: " + mensajes[i].remitente + "\r\nSubject: " + mensajes[i].asunto + "\r\n\r\nHola.\r\n");
    if (kRoot)
        QProcess::execute(QStringLiteral("chown"), {QStringLiteral("-R"), QStringLiteral("%1:%2").arg(kUid).arg(kGid), casa});
    usuarios_ += usuario + ":{PLAIN}" + clave + ':' + QByteArray::number(kUid) + ':' + QByteArray::number(kGid) + "::"
        + QFile::encodeName(casa) + "::\n";
    escribe(dir_.filePath(QStringLiteral("usuarios")), usuarios_);
}

bool ServidorDovecot::arranca(QString* error)
{
    const bool tls = !tls_.first.isEmpty();
    QString fallo = !dir_.isValid() ? QStringLiteral("no temporary folder") : disponible() ? QString() : QStringLiteral("no dovecot");
    const passwd* pw = kRoot ? nullptr : ::getpwuid(::getuid());
    const group* gr = kRoot ? nullptr : ::getgrgid(::getgid());
    const QString yo = QString::fromLocal8Bit(pw ? pw->pw_name : "dovecot"), d = dir_.path();
    ::chmod(QFile::encodeName(d).constData(), 0755); // for Dovecot's processes of other users
    for (int intento = 0; !proceso_ && fallo.isEmpty() && intento < 3; ++intento) {
        puerto_ = prueba(0);
        puertoTLS_ = tls ? prueba(0) : 0;
        QString conf = QString::fromLatin1(kConfiguracion)
                           .arg(d, QString::number(intento), QString::number(qMin<uint>(1000, kUid)), QString::number(puerto_),
                                pw ? yo : QStringLiteral("dovenull"), yo, QString::fromLocal8Bit(gr ? gr->gr_name : "dovecot"));
        if (!saludo.isEmpty())
            conf += "login_greeting = " + QString::fromUtf8(saludo) + "\n";
        if (tls) // STLS is offered on the plain listener as soon as ssl is on
            conf.replace(QStringLiteral("ssl = no\n"),
                         QStringLiteral("ssl = yes\nssl_cert = <%1\nssl_key = <%2\n").arg(tls_.first, tls_.second))
                .replace(QStringLiteral("  inet_listener pop3 {"),
                         QStringLiteral("  inet_listener pop3s {\n    port = %1\n    ssl = yes\n  }\n  inet_listener pop3 {")
                             .arg(puertoTLS_));
        escribe(d + QStringLiteral("/dovecot.conf"), conf.toUtf8());
        proceso_ = std::make_unique<QProcess>();
        proceso_->setProcessChannelMode(QProcess::MergedChannels);
        proceso_->setStandardOutputFile(d + QStringLiteral("/dovecot.log"), QIODevice::Append);
        // A group of its own for detiene(), death with the test even when that crashes, none of the
        // test's blocked signals; -F keeps the master as our child, to be waited for and killed.
        proceso_->setChildProcessModifier([] {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            ::setpgid(0, 0);
            sigset_t vacio{};
            ::sigprocmask(SIG_SETMASK, &vacio, nullptr);
        });
        proceso_->start(binario(), {QStringLiteral("-F"), QStringLiteral("-c"), d + QStringLiteral("/dovecot.conf")});
        for (const QDeadlineTimer plazo(10000); proceso_->waitForStarted(-1) && !plazo.hasExpired() && !proceso_->waitForFinished(5);)
            if (prueba(puerto_) && (!tls || prueba(puertoTLS_)))
                return true;
        // A port taken again before Dovecot bound it: try others.
        fallo = registro().contains(QLatin1String("Address already in use")) ? QString()
                                                                              : "dovecot did not start: " + proceso_->errorString();
        detiene();
    }
    if (error && !proceso_)
        *error = fallo + QStringLiteral("\n--- dovecot log (%1)\n").arg(d) + registro();
    return proceso_ != nullptr;
}

// Killed outright: a clean stop costs Dovecot a fixed one-second sleep. The unreaped master keeps
// its group id from being reused, so only its own children are hit.
void ServidorDovecot::detiene()
{
    if (proceso_ && proceso_->processId() > 0) {
        ::kill(-pid_t(proceso_->processId()), SIGKILL);
        proceso_->waitForFinished(-1);
    }
    proceso_.reset();
}

ServidorDovecot* Dovecots::operator()(Certificados::Tipo t)
{
    auto& s = servidores_[t];
    if (s)
        return s.get();
    qputenv("SSL_CERT_FILE", QFile::encodeName(certificados.autoridad()));
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

}
