#include "ptyline.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

// How long a write may wait for the far end to make room before the bytes are dropped.
constexpr std::chrono::milliseconds writeRoomWait{200};

} // namespace

bool PtyLine::open(QString *error, PtyLineSetup setup)
{
    close();
    termios raw{};
    cfmakeraw(&raw);
    raw.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&raw, B4800);
    cfsetospeed(&raw, B4800);
    char name[256] = {};
    if (::openpty(&master, &slave, name, setup.raw ? &raw : nullptr, nullptr) != 0) {
        master = slave = -1;
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (!setup.keepFarSideOpen) {
        ::close(slave);
        slave = -1;
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    path = QString::fromLocal8Bit(name);
    return true;
}

void PtyLine::close()
{
    hangUp();
    if (slave >= 0)
        ::close(slave);
    slave = -1;
    path.clear();
}

void PtyLine::hangUp()
{
    if (master >= 0)
        ::close(master);
    master = -1;
}

int PtyLine::lineSpeed() const
{
    termios t{};
    if (master < 0 || ::tcgetattr(master, &t) != 0)
        return 0;
    switch (cfgetospeed(&t)) {
    case B4800:
        return 4800;
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    default:
        return 0;
    }
}

bool PtyLine::write(const QByteArray &bytes)
{
    // While no slave is open the bytes would wait in the line for whoever opens it next;
    // on a real line they are simply lost.
    pollfd open{master, 0, 0};
    if (master < 0 || (::poll(&open, 1, 0) > 0 && (open.revents & POLLHUP)))
        return false;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + writeRoomWait;
    qsizetype done = 0;
    while (master >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return false;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{master, POLLOUT, 0};
        ::poll(&p, 1, int(left.count()));
    }
    return done == bytes.size();
}

bool PtyLine::read(QByteArray &into)
{
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(master, chunk, sizeof chunk);
        if (n > 0) {
            into.append(chunk, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // EAGAIN: all read. EIO (or end of file): no slave is open.
        return n < 0 && errno == EAGAIN;
    }
}
