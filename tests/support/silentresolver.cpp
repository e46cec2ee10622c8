#include "silentresolver.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <future>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int holderStartMs = 10000;
constexpr int holderEndMs = 5000;

// glibc gives up on the silent server after 4 s x 2 tries (A and AAAA asked together):
// past the program's own 5 s deadline, so that the deadline is what ends a lookup, and a
// lookup the program leaves behind still ends by itself.
const char resolvConf[] = "nameserver 127.0.0.1\noptions timeout:4 attempts:2\n";
const char hostsFile[] = "127.0.0.1 localhost\n::1 localhost ip6-localhost\n";
const char minimalNsswitch[] = "passwd: files\ngroup: files\nshadow: files\n";
const char hostsDatabase[] = "hosts: files dns";

// Sets up the holder's namespaces, says "ready" and stays until its input closes.
const char holderScript[] = "ip link set lo up && mount --bind \"$1\" /etc/resolv.conf && "
                            "mount --bind \"$2\" /etc/hosts && "
                            "mount --bind \"$3\" /etc/nsswitch.conf && echo ready && exec cat";

bool writeFile(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

// The system's host database list replaced by "files dns": no other source (a name
// service cache, mDNS, systemd's resolver) may answer the name.
QByteArray nsswitchText()
{
    QFile system(QStringLiteral("/etc/nsswitch.conf"));
    QByteArray text;
    if (system.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : system.readAll().split('\n')) {
            if (!line.trimmed().startsWith("hosts:") && !line.isEmpty())
                text += line + '\n';
        }
    } else {
        text = minimalNsswitch;
    }
    return text + hostsDatabase + '\n';
}

// A UDP socket on 127.0.0.1:53 in the network namespace `nsPath`, made on a thread of its
// own (joining a namespace changes only the calling thread); -1 on failure.
int socketIn(const QByteArray &nsPath)
{
    auto made = std::async(std::launch::async, [nsPath] {
        const int ns = ::open(nsPath.constData(), O_RDONLY | O_CLOEXEC);
        const bool joined = ns >= 0 && ::setns(ns, CLONE_NEWNET) == 0;
        if (ns >= 0)
            ::close(ns);
        if (!joined)
            return -1;
        const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(53);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (s >= 0 && ::bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
            return s;
        if (s >= 0)
            ::close(s);
        return -1;
    });
    return made.get();
}

} // namespace

SilentResolver::~SilentResolver()
{
    if (reader.joinable()) {
        const char stop = 0;
        (void)!::write(stopPipe[1], &stop, 1);
        reader.join();
    }
    for (int fd : stopPipe) {
        if (fd >= 0)
            ::close(fd);
    }
    if (holder.state() != QProcess::NotRunning) {
        holder.closeWriteChannel();
        if (!holder.waitForFinished(holderEndMs)) {
            holder.kill();
            holder.waitForFinished(holderEndMs);
        }
    }
}

bool SilentResolver::start()
{
    if (::geteuid() != 0) {
        error = QStringLiteral("a resolver of our own needs root (namespaces and bind mounts)");
        return false;
    }
    for (const char *tool : {"unshare", "nsenter", "ip", "mount"}) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty()) {
            error = QStringLiteral("%1 is not installed").arg(QLatin1String(tool));
            return false;
        }
    }
    return writeFiles() && startHolder() && bindSocket();
}

QStringList SilentResolver::wrapper() const
{
    return {QStringLiteral("nsenter"),
            QStringLiteral("--target"),
            QString::number(holder.processId()),
            QStringLiteral("--net"),
            QStringLiteral("--mount"),
            QStringLiteral("--wd=") + QDir::currentPath(),
            QStringLiteral("--")};
}

bool SilentResolver::writeFiles()
{
    if (dir.isValid() && writeFile(dir.filePath("resolv.conf"), resolvConf) &&
        writeFile(dir.filePath("hosts"), hostsFile) &&
        writeFile(dir.filePath("nsswitch.conf"), nsswitchText()))
        return true;
    error = QStringLiteral("cannot write the resolver's files in %1").arg(dir.path());
    return false;
}

bool SilentResolver::startHolder()
{
    holder.start(QStringLiteral("unshare"),
                 {"--net", "--mount", "--propagation", "private", "--", "sh", "-c", holderScript,
                  "sh", dir.filePath("resolv.conf"), dir.filePath("hosts"),
                  dir.filePath("nsswitch.conf")});
    QByteArray said;
    while (!said.contains("ready\n") && holder.waitForReadyRead(holderStartMs))
        said += holder.readAllStandardOutput();
    if (said.contains("ready\n"))
        return true;
    error = QStringLiteral("no namespaces of our own: %1")
                .arg(QString::fromLocal8Bit(holder.readAllStandardError()).trimmed());
    return false;
}

bool SilentResolver::bindSocket()
{
    const int socket = socketIn("/proc/" + QByteArray::number(holder.processId()) + "/ns/net");
    if (socket < 0 || ::pipe2(stopPipe, O_CLOEXEC) != 0) {
        if (socket >= 0)
            ::close(socket);
        error = QStringLiteral("no UDP socket on 127.0.0.1:53 in the namespace");
        return false;
    }
    reader = std::thread([this, socket] { readQueries(socket); });
    return true;
}

// Reads every query until told to stop, answering none.
void SilentResolver::readQueries(int socket)
{
    std::array<pollfd, 2> waits{pollfd{socket, POLLIN, 0}, pollfd{stopPipe[0], POLLIN, 0}};
    char query[1500];
    for (;;) {
        const int r = ::poll(waits.data(), waits.size(), -1);
        if ((r < 0 && errno != EINTR) || (r > 0 && waits[1].revents != 0))
            break;
        if (r > 0 && waits[0].revents != 0 && ::recv(socket, query, sizeof query, 0) >= 0)
            ++queries;
    }
    ::close(socket);
}
