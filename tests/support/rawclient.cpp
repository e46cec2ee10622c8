#include "rawclient.h"

#include "exchangeresult.h"
#include "framecodec.h"
#include "termiosspeed.h"

#include <QElapsedTimer>
#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

QByteArray requestFrame(const QByteArray &payload)
{
    QByteArray frame = payload;
    encodeFrame(frame);
    return frame;
}

bool RawClient::open(const QString &path, int baud, bool exclusive)
{
    close();
    fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    if (exclusive && ::flock(fd, LOCK_EX | LOCK_NB) < 0) {
        close();
        return false;
    }
    reads = 0;
    hangUp = false;
    return setSpeed(baud);
}

void RawClient::close()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool RawClient::setSpeed(int baud)
{
    termios t{};
    if (fd < 0 || ::tcgetattr(fd, &t) != 0)
        return false;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, termiosSpeed(baud));
    cfsetospeed(&t, termiosSpeed(baud));
    return ::tcsetattr(fd, TCSANOW, &t) == 0;
}

void RawClient::send(const QByteArray &payload)
{
    sendRaw(requestFrame(payload));
}

void RawClient::sendRaw(const QByteArray &bytes)
{
    [[maybe_unused]] ssize_t n = ::write(fd, bytes.constData(), size_t(bytes.size()));
}

bool RawClient::readOnce(QByteArray &into, int ms)
{
    pollfd p{fd, POLLIN, 0};
    if (fd < 0 || ::poll(&p, 1, ms) <= 0)
        return false;
    char chunk[4096];
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n > 0) {
        into.append(chunk, n);
        ++reads;
        return true;
    }
    if (n == 0 || (errno != EAGAIN && errno != EINTR) || (p.revents & POLLHUP))
        hangUp = true;
    return !hangUp;
}

QByteArray RawClient::readFrame(int timeoutMs)
{
    QByteArray got;
    QElapsedTimer clock;
    clock.start();
    while (!got.endsWith('\r') && !hangUp && clock.elapsed() < timeoutMs)
        readOnce(got, int(timeoutMs - clock.elapsed()));
    return got;
}

QByteArray RawClient::readFor(int ms)
{
    QByteArray got;
    QElapsedTimer clock;
    clock.start();
    while (!hangUp && clock.elapsed() < ms)
        readOnce(got, int(ms - clock.elapsed()));
    return got;
}

QByteArray RawClient::readBytes(int count, int timeoutMs)
{
    QByteArray got;
    QElapsedTimer clock;
    clock.start();
    while (got.size() < count && !hangUp && clock.elapsed() < timeoutMs)
        readOnce(got, int(timeoutMs - clock.elapsed()));
    return got;
}

// Writes all of the request, then reads until the reply's carriage return is in.
int RawClient::exchange(QByteArray &buffer, int timeoutMs)
{
    encodeFrame(buffer);
    for (qsizetype done = 0; done < buffer.size();) {
        const ssize_t n = ::write(fd, buffer.constData() + done, size_t(buffer.size() - done));
        if (n < 0 && errno != EINTR && errno != EAGAIN)
            return NoReply;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, timeoutMs);
        }
        done += n > 0 ? n : 0;
    }
    buffer.clear();
    char piece[256];
    while (!buffer.endsWith('\r')) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return NoReply;
        const ssize_t n = ::read(fd, piece, sizeof piece);
        if (n > 0)
            buffer.append(piece, n);
    }
    return decodeFrame(buffer);
}
