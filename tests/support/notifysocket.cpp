#include "notifysocket.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int datagramBound = 4096;
constexpr qsizetype lineBound = 10000;

} // namespace

NotifySocket::NotifySocket()
{
    const QByteArray name = path().toLocal8Bit();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (!dir.isValid() || size_t(name.size()) >= sizeof address.sun_path)
        return;
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    descriptor = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (descriptor < 0)
        return;
    if (::bind(descriptor, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(descriptor);
        descriptor = -1;
        return;
    }
    notifier = new QSocketNotifier(descriptor, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &NotifySocket::readAll);
}

NotifySocket::~NotifySocket()
{
    delete notifier;
    if (descriptor >= 0)
        ::close(descriptor);
}

QString NotifySocket::path() const
{
    return dir.filePath(QStringLiteral("notify"));
}

void NotifySocket::readAll()
{
    char datagram[datagramBound];
    for (;;) {
        const ssize_t got = ::recv(descriptor, datagram, sizeof datagram, 0);
        if (got < 0)
            break;
        for (const QByteArray &line : QByteArray(datagram, got).split('\n')) {
            if (!line.isEmpty() && received.size() < lineBound)
                received << line;
        }
    }
    emit arrived();
}

bool NotifySocket::waitFor(const QByteArray &line, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!received.contains(line)) {
        if (deadline.hasExpired() || !isOpen())
            return false;
        QEventLoop loop;
        connect(this, &NotifySocket::arrived, &loop, &QEventLoop::quit);
        QTimer::singleShot(int(deadline.remainingTime()), &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}
