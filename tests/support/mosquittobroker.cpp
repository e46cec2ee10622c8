#include "mosquittobroker.h"

#include "serialserver.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTextStream>
#include <csignal>
#include <pwd.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

constexpr int listenTimeoutMs = 10000;
constexpr int toolTimeoutMs = 30000;
constexpr qsizetype logBound = 1 << 20;

QString ownUser()
{
    const passwd *entry = ::getpwuid(::getuid());
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QStringLiteral("root");
}

} // namespace

QString MosquittoBroker::path(const char *name) const
{
    return dir.filePath(QString::fromLatin1(name));
}

bool MosquittoBroker::run(const QString &program, const QStringList &arguments)
{
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(program, arguments);
    if (!tool.waitForFinished(toolTimeoutMs) || tool.exitStatus() != QProcess::NormalExit ||
        tool.exitCode() != 0) {
        error = QStringLiteral("%1 %2 failed: %3%4")
                    .arg(program, arguments.join(QLatin1Char(' ')), tool.errorString(),
                         QString::fromLocal8Bit(tool.readAll()));
        return false;
    }
    return true;
}

bool MosquittoBroker::makeCertificates()
{
    const QString openssl = QStringLiteral("openssl");
    const QStringList ec{QStringLiteral("-newkey"), QStringLiteral("ec"),
                         QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"),
                         QStringLiteral("-nodes")};
    QFile extensions(path("server.ext"));
    if (!extensions.open(QIODevice::WriteOnly))
        return false;
    extensions.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n");
    extensions.close();
    auto selfSigned = [&](const char *key, const char *certificate, const char *name) {
        return run(openssl,
                   QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + ec +
                       QStringList{QStringLiteral("-keyout"), path(key), QStringLiteral("-out"),
                                   path(certificate), QStringLiteral("-days"), QStringLiteral("2"),
                                   QStringLiteral("-subj"), QString::fromLatin1(name)});
    };
    return selfSigned("ca.key", "ca.crt", "/CN=vertal test CA") &&
           selfSigned("wrong-ca.key", "wrong-ca.crt", "/CN=vertal wrong CA") &&
           run(openssl,
               QStringList{QStringLiteral("req")} + ec +
                   QStringList{QStringLiteral("-keyout"), path("server.key"),
                               QStringLiteral("-out"), path("server.csr"), QStringLiteral("-subj"),
                               QStringLiteral("/CN=127.0.0.1")}) &&
           run(openssl,
               {QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                path("server.csr"), QStringLiteral("-CA"), path("ca.crt"), QStringLiteral("-CAkey"),
                path("ca.key"), QStringLiteral("-CAcreateserial"), QStringLiteral("-out"),
                path("server.crt"), QStringLiteral("-days"), QStringLiteral("2"),
                QStringLiteral("-extfile"), path("server.ext")});
}

bool MosquittoBroker::makePasswordFile()
{
    bool first = true;
    for (const auto &[user, password] : opts.users) {
        QStringList arguments{QStringLiteral("-b")};
        if (first)
            arguments << QStringLiteral("-c");
        if (!run(QStringLiteral("mosquitto_passwd"),
                 arguments + QStringList{path("passwords"), user, password}))
            return false;
        first = false;
    }
    return true;
}

bool MosquittoBroker::writeConfig()
{
    QFile file(path("mosquitto.conf"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        error = file.errorString();
        return false;
    }
    QTextStream out(&file);
    out << "per_listener_settings false\n"
        << "allow_anonymous " << (opts.allowAnonymous ? "true" : "false") << "\n"
        << "persistence false\n"
        // Room for a whole burst of the bridge's queue to a subscriber that reads it slowly
        // (a sanitizer's build): the broker's default of 1000 would drop the rest.
        << "max_queued_messages 20000\n"
        << "log_dest stderr\n"
        << "log_type error\nlog_type warning\nlog_type notice\nlog_type information\n"
        << "user " << ownUser() << "\n";
    if (!opts.users.isEmpty())
        out << "password_file " << path("passwords") << "\n";
    if (!opts.acl.isEmpty())
        out << "acl_file " << path("acl") << "\n";
    out << "listener " << plainPort << " 127.0.0.1\n";
    if (opts.tls) {
        out << "listener " << securePort << " 127.0.0.1\n"
            << "cafile " << path("ca.crt") << "\n"
            << "certfile " << path("server.crt") << "\n"
            << "keyfile " << path("server.key") << "\n";
    }
    return true;
}

bool MosquittoBroker::start(const Options &options)
{
    stop();
    opts = options;
    error.clear();
    plainPort = SerialServer::freePort();
    securePort = 0;
    while (opts.tls && (securePort == 0 || securePort == plainPort))
        securePort = SerialServer::freePort();
    if (!opts.acl.isEmpty()) {
        QFile acl(path("acl"));
        if (!acl.open(QIODevice::WriteOnly) || acl.write(opts.acl.toUtf8()) < 0)
            return false;
    }
    if ((opts.tls && !makeCertificates()) || !makePasswordFile() || !writeConfig())
        return false;
    return launch();
}

bool MosquittoBroker::restart()
{
    stop();
    return launch();
}

bool MosquittoBroker::launch()
{
    process.setProcessChannelMode(QProcess::MergedChannels);
    // A test that dies must not leave the broker behind.
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    process.start(QStringLiteral("/usr/sbin/mosquitto"),
                  {QStringLiteral("-c"), path("mosquitto.conf")});
    if (!process.waitForStarted()) {
        error = process.errorString();
        return false;
    }
    const QDeadlineTimer deadline(listenTimeoutMs);
    while (!(SerialServer::isListening(plainPort) &&
             (securePort == 0 || SerialServer::isListening(securePort)))) {
        if (deadline.hasExpired() || process.state() == QProcess::NotRunning) {
            error = QStringLiteral("mosquitto does not listen: %1").arg(log());
            return false;
        }
        process.waitForReadyRead(10); // its start-up lines, or the table again after 10 ms
    }
    return true;
}

void MosquittoBroker::kill()
{
    if (!isRunning())
        return;
    process.kill();
    process.waitForFinished();
    log();
}

void MosquittoBroker::pause()
{
    if (isRunning())
        ::kill(pid_t(process.processId()), SIGSTOP);
}

void MosquittoBroker::stop()
{
    if (!isRunning())
        return;
    ::kill(pid_t(process.processId()), SIGCONT);
    process.terminate();
    if (!process.waitForFinished(3000))
        kill();
    log();
}

bool MosquittoBroker::setAllowAnonymous(bool allow)
{
    opts.allowAnonymous = allow;
    if (!writeConfig())
        return false;
    if (isRunning())
        ::kill(pid_t(process.processId()), SIGHUP);
    return true;
}

QString MosquittoBroker::url() const
{
    return QStringLiteral("mqtt://127.0.0.1:%1").arg(plainPort);
}

QString MosquittoBroker::tlsUrl() const
{
    return QStringLiteral("mqtts://localhost:%1").arg(securePort);
}

QString MosquittoBroker::caPath() const
{
    return path("ca.crt");
}

QString MosquittoBroker::wrongCaPath() const
{
    return path("wrong-ca.crt");
}

QString MosquittoBroker::log()
{
    output += QString::fromLocal8Bit(process.readAll());
    if (output.size() > logBound)
        output = output.right(logBound);
    return output;
}
