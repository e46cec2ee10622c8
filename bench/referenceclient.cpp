#include "referenceclient.h"

#include "exchangeresult.h"
#include "framecodec.h"
#include "termiosspeed.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

bool ReferenceClient::open(const QString &path, int baud)
{
    close();
    fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, termiosSpeed(baud));
    ::cfsetospeed(&t, termiosSpeed(baud));
    if (::tcsetattr(fd, TCSANOW, &t) != 0) {
        close();
        return false;
    }
    return true;
}

void ReferenceClient::close()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

int ReferenceClient::exchange(QByteArray &buffer, int timeoutMs)
{
    encodeFrame(buffer);
    for (qsizetype done = 0; done < buffer.size();) {
        const ssize_t n = ::write(fd, buffer.constData() + done, size_t(buffer.size() - done));
        if (n < 0 && errno != EINTR)
            return NoReply;
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
