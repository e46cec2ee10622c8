#include "serialserver.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTextStream>
#include <QThread>

#include <csignal>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr int listenTimeoutMs = 5000;

QString yesNo(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}
} // namespace

quint16 SerialServer::freePort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    quint16 port = 0;
    if (::bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(s);
    return port;
}

bool SerialServer::isListening(quint16 port)
{
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QByteArray local =
        QByteArray("0100007F:") + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && fields.at(1) == local && fields.at(3) == "0A")
            return true;
    }
    return false;
}

bool SerialServer::start(const QString &devicePath, const Options &options)
{
    stop();
    device = devicePath;
    opts = options;
    telnetPort = freePort();
    rawPort = freePort();
    while (rawPort == telnetPort)
        rawPort = freePort();
    return launch();
}

bool SerialServer::restart()
{
    stop();
    return launch();
}

bool SerialServer::launch()
{
    const QString program = QStandardPaths::findExecutable(
        QStringLiteral("ser2net"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
    if (program.isEmpty()) {
        error = QStringLiteral("ser2net is not installed (scripts/install-deps.sh ser2net)");
        return false;
    }
    const QString config = dir.filePath(QStringLiteral("ser2net.yaml"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        error = file.errorString();
        return false;
    }
    const QString options = QStringLiteral("  options:\n    kickolduser: %1\n    chardelay: %2\n")
                                .arg(yesNo(opts.kickOldUser), yesNo(opts.charDelay));
    QTextStream(&file) << "connection: &unit2217\n"
                       << "  accepter: telnet(rfc2217),tcp,127.0.0.1," << telnetPort << "\n"
                       << "  connector: serialdev," << device << ",9600n81,local\n"
                       << options << "connection: &unitraw\n"
                       << "  accepter: tcp,127.0.0.1," << rawPort << "\n"
                       << "  connector: serialdev," << device << "," << opts.rawSpeed
                       << "n81,local\n"
                       << options;
    file.close();
    process.setProcessChannelMode(QProcess::MergedChannels);
    // A test that dies (a crash, a sanitizer's end) must not leave the server behind.
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    process.start(program, {QStringLiteral("-n"), QStringLiteral("-c"), config,
                            QStringLiteral("-P"), dir.filePath(QStringLiteral("ser2net.pid"))});
    if (!process.waitForStarted()) {
        error = process.errorString();
        return false;
    }
    const QDeadlineTimer deadline(listenTimeoutMs);
    while (!(isListening(telnetPort) && isListening(rawPort))) {
        if (deadline.hasExpired() || process.state() == QProcess::NotRunning) {
            error = QStringLiteral("ser2net does not listen: %1")
                        .arg(QString::fromLocal8Bit(process.readAll()));
            return false;
        }
        QThread::msleep(10); // the server's sockets are looked at again, up to the deadline
    }
    return true;
}

void SerialServer::kill()
{
    if (!isRunning())
        return;
    process.kill();
    process.waitForFinished();
}

void SerialServer::stop()
{
    if (!isRunning())
        return;
    process.terminate();
    if (!process.waitForFinished(3000))
        kill();
}

QString SerialServer::rfc2217Url() const
{
    return QStringLiteral("rfc2217://127.0.0.1:%1").arg(telnetPort);
}

QString SerialServer::tcpUrl() const
{
    return QStringLiteral("tcp://127.0.0.1:%1").arg(rawPort);
}
