// POSIX part of the network line's sockets.
#include "netsocket.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace netsocket {

namespace {

// Keep-alive probes: the first after 5 s of silence, then every 2 s, 3 unanswered end it;
// bytes sent but not acknowledged for 5 s end it too.
constexpr int keepIdleSeconds = 5;
constexpr int keepIntervalSeconds = 2;
constexpr int keepProbes = 3;
constexpr unsigned userTimeoutMs = 5000;

QString errnoText(int sysError)
{
    return QString::fromLocal8Bit(std::strerror(sysError));
}

Failure failureOf(int sysError)
{
    switch (sysError) {
    case ECONNREFUSED:
        return Failure::Refused;
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ETIMEDOUT:
    case ENETDOWN:
    case EHOSTDOWN:
    case EADDRNOTAVAIL:
        return Failure::Unreachable;
    case EPIPE:
    case ECONNABORTED:
        return Failure::Lost;
    case ECONNRESET:
        return Failure::Reset;
    default:
        return Failure::Other;
    }
}

void fail(Outcome &outcome, int sysError)
{
    outcome.failure = failureOf(sysError);
    outcome.text = errnoText(sysError);
}

void tune(int s)
{
    const int on = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
#ifdef TCP_KEEPIDLE
    ::setsockopt(s, IPPROTO_TCP, TCP_KEEPIDLE, &keepIdleSeconds, sizeof keepIdleSeconds);
    ::setsockopt(s, IPPROTO_TCP, TCP_KEEPINTVL, &keepIntervalSeconds, sizeof keepIntervalSeconds);
    ::setsockopt(s, IPPROTO_TCP, TCP_KEEPCNT, &keepProbes, sizeof keepProbes);
#endif
#ifdef TCP_USER_TIMEOUT
    ::setsockopt(s, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs);
#endif
}

int pollFor(Handle socket, short events, int ms, Outcome &outcome)
{
    pollfd p{int(socket), events, 0};
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    int r = ::poll(&p, 1, ms);
    while (r < 0 && errno == EINTR)
        r = ::poll(&p, 1, millisecondsLeft(deadline));
    if (r < 0) {
        fail(outcome, errno);
        return -1;
    }
    return r > 0 ? 1 : 0; // a hang-up or an error shows as ready: the next call tells it
}

// One address of the host: connected (the socket) or -1 with `outcome` set.
} // namespace

Handle connectOne(const addrinfo &address, Clock::time_point deadline,
                  const std::function<bool()> &cancelled, Outcome &outcome)
{
    const int s = ::socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                           address.ai_protocol);
    if (s < 0) {
        fail(outcome, errno);
        return none;
    }
    tune(s);
    if (::connect(s, address.ai_addr, address.ai_addrlen) < 0 && errno != EINPROGRESS) {
        fail(outcome, errno);
        ::close(s);
        return none;
    }
    pollfd p{s, POLLOUT, 0};
    int r = 0;
    while (!cancelled()) {
        const int left = millisecondsLeft(deadline);
        r = ::poll(&p, 1, std::min(left, int(cancelCheck.count())));
        if (r > 0 || (r < 0 && errno != EINTR) || left == 0)
            break;
    }
    if (r <= 0 && cancelled()) {
        outcome = Outcome{Failure::Cancelled, QStringLiteral("the attempt was ended")};
        ::close(s);
        return none;
    }
    int sysError = r < 0 ? errno : ETIMEDOUT;
    if (r > 0) {
        socklen_t length = sizeof sysError;
        ::getsockopt(s, SOL_SOCKET, SO_ERROR, &sysError, &length);
    }
    if (sysError != 0) {
        fail(outcome, sysError);
        ::close(s);
        return none;
    }
    return s;
}

addrinfo *resolve(const QString &host, quint16 port, Outcome &outcome)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const int r = ::getaddrinfo(host.toUtf8().constData(), QByteArray::number(port).constData(),
                                &hints, &found);
    if (r != 0) {
        // EAI_AGAIN: no answer for the name, which may well exist; EAI_NONAME: the name
        // is known to be nobody's.
        outcome.failure = r == EAI_SYSTEM  ? failureOf(errno)
                          : r == EAI_AGAIN ? Failure::ResolverSilent
                                           : Failure::NameNotFound;
        outcome.text = QString::fromLocal8Bit(::gai_strerror(r));
        return nullptr;
    }
    return found;
}

void release(addrinfo *addresses)
{
    ::freeaddrinfo(addresses);
}

const addrinfo *nextAddress(const addrinfo *address)
{
    return address->ai_next;
}

void close(Handle socket)
{
    if (socket != none)
        ::close(int(socket));
}

int waitReadable(Handle socket, int ms, Outcome &outcome)
{
    return pollFor(socket, POLLIN, ms, outcome);
}

int waitWritable(Handle socket, int ms, Outcome &outcome)
{
    return pollFor(socket, POLLOUT, ms, outcome);
}

qint64 send(Handle socket, const char *data, qint64 size, Outcome &outcome)
{
    ssize_t n = 0;
    do
        n = ::send(int(socket), data, size_t(size), MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    if (n >= 0)
        return n;
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        return 0;
    fail(outcome, errno);
    if (outcome.failure != Failure::Reset)
        outcome.failure = Failure::Lost;
    return -1;
}

qint64 receive(Handle socket, char *data, qint64 size, Outcome &outcome)
{
    ssize_t n = 0;
    do
        n = ::recv(int(socket), data, size_t(size), 0);
    while (n < 0 && errno == EINTR);
    if (n > 0)
        return n;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return 0;
    if (n == 0) {
        outcome.failure = Failure::Lost;
        outcome.text = QStringLiteral("the server closed the connection");
        return -1;
    }
    fail(outcome, errno);
    if (outcome.failure != Failure::Reset)
        outcome.failure = Failure::Lost;
    return -1;
}

} // namespace netsocket
