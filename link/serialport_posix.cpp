// POSIX part of SerialPort: termios on a terminal device.
#include "serialport.h"

#include "lowlatency.h"
#include "networkline.h" // the network line the port may hold, closed with it
#include "termiosspeed.h"

#include <QMutexLocker>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// How long write() waits for room in a full output queue before it gives up.
constexpr auto writeTimeout = 2000ms;
// Read in pieces of this size; a reply is a few dozen bytes.
constexpr int readPiece = 4096;

// Raw mode done completely: no line editing, echo or signals, a carriage return arrives as
// a carriage return, 8 data bits, no parity, 1 stop bit, no flow control, the modem lines
// ignored, and read() returns at once with what is there.
void makeRaw(termios &t)
{
    t.c_iflag &=
        ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
}

// Milliseconds left until `deadline`, rounded up so that a wait never ends early; 0 if past.
int millisecondsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? int(left.count()) : 0;
}

// The one place where a system call that a signal interrupted (EINTR) is made again.
// Returns the call's result; on failure errno is the call's own.
template <typename Call> auto restartedOnSignal(Call call)
{
    auto result = call();
    while (result < 0 && errno == EINTR)
        result = call();
    return result;
}

// Waits until `fd` shows one of `events`, or `deadline` passes; an interrupted wait goes on
// with the time that is left. Returns poll()'s count (0 on time-out, -1 with errno set) and
// leaves what the descriptor showed in `shown`.
int pollUntil(int fd, short events, Clock::time_point deadline, short &shown)
{
    pollfd p{fd, events, 0};
    const int r = restartedOnSignal([&] { return ::poll(&p, 1, millisecondsLeft(deadline)); });
    shown = p.revents;
    return r;
}

// The one place where errno values become SerialPort errors.
SerialPort::Error errorFromErrno(int sysError)
{
    switch (sysError) {
    case 0:
        return SerialPort::NoError;
    case ENOENT:
        return SerialPort::NotFound;
    case EACCES:
    case EPERM:
        return SerialPort::Permission;
    case EBUSY:
        return SerialPort::Busy;
    case EIO:
    case ENXIO:
    case ENODEV:
        return SerialPort::Gone;
    case ENOTTY:
    case EINVAL:
        return SerialPort::Unsupported;
    case EAGAIN:
    case ETIMEDOUT:
        return SerialPort::Timeout;
    case EBADF:
        return SerialPort::NotOpen;
    default:
        return SerialPort::OtherError;
    }
}

// Takes the advisory claim on an open line without waiting. Returns 0, or the errno of the
// refusal (EWOULDBLOCK: another descriptor holds it).
int claimLine(int fd)
{
    return restartedOnSignal([fd] { return ::flock(fd, LOCK_EX | LOCK_NB); }) < 0 ? errno : 0;
}

} // namespace

speed_t termiosSpeed(int baud)
{
    switch (baud) {
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return B0;
    }
}

struct SerialPort::Native
{
    termios savedSettings{};
    LowLatency latency;
};

SerialPort::SerialPort() : native(std::make_unique<Native>()) {}

SerialPort::~SerialPort()
{
    close();
}

qintptr SerialPort::openLine(const QString &path)
{
    const int opened =
        ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (opened < 0) {
        // At open time a missing device is simply not there, not gone.
        const int sysError = errno;
        setError(errorFromErrno(sysError) == Gone ? NotFound : errorFromErrno(sysError), sysError);
        return -1;
    }
    // The claim comes before any setting is touched: a second program must not reset the
    // line under the one that holds it. An advisory lock binds whoever runs the second copy,
    // root included, and the kernel drops it with the last descriptor, however the program
    // ends. The terminal's exclusive flag is not used: root ignores it, and on a
    // pseudo-terminal it outlives a program that was killed.
    if (const int sysError = claimLine(opened)) {
        ::close(opened);
        setError(sysError == EWOULDBLOCK ? Busy : errorFromErrno(sysError), sysError);
        return -1;
    }
    termios settings{};
    if (::tcgetattr(opened, &native->savedSettings) < 0) {
        setSystemError(errno);
        ::close(opened);
        return -1;
    }
    settings = native->savedSettings;
    makeRaw(settings);
    ::cfsetispeed(&settings, B4800);
    ::cfsetospeed(&settings, B4800);
    if (::tcsetattr(opened, TCSANOW, &settings) < 0) {
        setSystemError(errno);
        ::close(opened);
        return -1;
    }
    native->latency = requestLowLatency(opened);
    return opened;
}

void SerialPort::closeLine()
{
    if (fd < 0)
        return;
    restoreLatency(int(fd), native->latency);
    ::tcsetattr(int(fd), TCSANOW, &native->savedSettings);
    // An exclusive flag left on the terminal by an older program would lock out the next
    // user who is not root; the claim itself goes with the descriptor.
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
    fd = -1;
    speed = 0;
}

bool SerialPort::setLineSpeed(int baud)
{
    const speed_t code = termiosSpeed(baud);
    if (fd < 0 || code == B0) {
        setError(fd < 0 ? NotOpen : Unsupported, fd < 0 ? EBADF : EINVAL);
        return false;
    }
    termios settings{};
    if (::tcgetattr(fd, &settings) < 0) {
        setSystemError(errno);
        return false;
    }
    ::cfsetispeed(&settings, code);
    ::cfsetospeed(&settings, code);
    if (::tcsetattr(fd, TCSANOW, &settings) < 0) {
        setSystemError(errno);
        return false;
    }
    speed = baud;
    return true;
}

qint64 SerialPort::writeLine(const QByteArray &data)
{
    if (fd < 0) {
        setError(NotOpen, EBADF);
        return 0;
    }
    const auto deadline = Clock::now() + writeTimeout;
    qint64 done = 0;
    while (done < data.size() && !gone) {
        const ssize_t n = restartedOnSignal(
            [&] { return ::write(fd, data.constData() + done, size_t(data.size() - done)); });
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EAGAIN) {
            if (!waitWritable(millisecondsLeft(deadline)))
                break;
            continue;
        }
        setSystemError(n < 0 ? errno : EIO);
        break;
    }
    return done;
}

bool SerialPort::waitWritable(int ms)
{
    short shown = 0;
    const int r = pollUntil(int(fd), POLLOUT, Clock::now() + std::chrono::milliseconds(ms), shown);
    if (r < 0) {
        setSystemError(errno);
        return false;
    }
    if (r == 0) {
        setError(Timeout, ETIMEDOUT);
        return false;
    }
    if (shown & (POLLHUP | POLLERR | POLLNVAL)) {
        setSystemError(shown & POLLNVAL ? EBADF : EIO);
        return false;
    }
    return true;
}

bool SerialPort::drainLine()
{
    if (fd < 0) {
        setError(NotOpen, EBADF);
        return false;
    }
    if (restartedOnSignal([this] { return ::tcdrain(int(fd)); }) < 0) {
        setSystemError(errno);
        return false;
    }
    return true;
}

qint64 SerialPort::lineBytesToWrite() const
{
    int queued = 0;
    if (fd < 0 || ::ioctl(fd, TIOCOUTQ, &queued) < 0)
        return 0;
    return queued;
}

qint64 SerialPort::lineBytesAvailable() const
{
    int available = 0;
    if (fd < 0 || ::ioctl(fd, FIONREAD, &available) < 0)
        return 0;
    return available;
}

QByteArray SerialPort::readLine()
{
    QByteArray result;
    if (fd < 0)
        return result;
    char piece[readPiece];
    for (;;) {
        const ssize_t n = restartedOnSignal([&] { return ::read(fd, piece, sizeof piece); });
        if (n > 0)
            result.append(piece, n);
        if (n == ssize_t(sizeof piece))
            continue;
        if (n < 0 && errno != EAGAIN)
            setSystemError(errno);
        return result;
    }
}

bool SerialPort::waitForLine(int ms)
{
    if (fd < 0) {
        setError(NotOpen, EBADF);
        return false;
    }
    if (gone)
        return false;
    short shown = 0;
    const int r = pollUntil(int(fd), POLLIN, Clock::now() + std::chrono::milliseconds(ms), shown);
    if (r < 0) {
        setSystemError(errno);
        return false;
    }
    if (r == 0)
        return false;
    if (shown & POLLNVAL) {
        setError(NotOpen, EBADF);
        return false;
    }
    // A hung-up line may still hold the last bytes the device sent: hand them out first;
    // once they are read, the next wait reports the device gone.
    if (shown & (POLLHUP | POLLERR)) {
        if (bytesAvailable() > 0)
            return true;
        setSystemError(EIO);
        return false;
    }
    return (shown & POLLIN) != 0;
}

void SerialPort::setSystemError(int sysError)
{
    setError(errorFromErrno(sysError), sysError);
}

QString SerialPort::systemErrorText(int sysError)
{
    return qt_error_string(sysError);
}
