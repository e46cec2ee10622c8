// Windows part of the network line's sockets: Winsock 2.
// Winsock's headers in their order, before anything that brings in windows.h.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <mstcpip.h>
// clang-format on

#include "netsocket.h"

#include <algorithm>

namespace netsocket {

namespace {

// Keep-alive probes: the first after 5 s of silence, then every 2 s.
constexpr ULONG keepIdleMs = 5000;
constexpr ULONG keepIntervalMs = 2000;

// Winsock is started once, for the program's life.
bool started()
{
    static const bool ok = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ok;
}

QString errorText(int code)
{
    wchar_t *text = nullptr;
    ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                         FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, DWORD(code), 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    QString result = text ? QString::fromWCharArray(text).trimmed()
                          : QStringLiteral("Winsock error %1").arg(code);
    ::LocalFree(text);
    return result;
}

Failure failureOf(int code)
{
    switch (code) {
    case WSAECONNREFUSED:
        return Failure::Refused;
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
    case WSAETIMEDOUT:
    case WSAENETDOWN:
    case WSAEHOSTDOWN:
    case WSAEADDRNOTAVAIL:
        return Failure::Unreachable;
    case WSAECONNABORTED:
    case WSAESHUTDOWN:
        return Failure::Lost;
    case WSAECONNRESET:
        return Failure::Reset;
    default:
        return Failure::Other;
    }
}

void fail(Outcome &outcome, int code)
{
    outcome.failure = failureOf(code);
    outcome.text = errorText(code);
}

SOCKET toSocket(Handle socket)
{
    return SOCKET(socket);
}

void tune(SOCKET s)
{
    const BOOL on = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on), sizeof on);
    tcp_keepalive keep{1, keepIdleMs, keepIntervalMs};
    DWORD returned = 0;
    ::WSAIoctl(s, SIO_KEEPALIVE_VALS, &keep, sizeof keep, nullptr, 0, &returned, nullptr, nullptr);
}

int pollFor(Handle socket, short events, int ms, Outcome &outcome)
{
    WSAPOLLFD p{toSocket(socket), events, 0};
    const int r = ::WSAPoll(&p, 1, ms);
    if (r == SOCKET_ERROR) {
        fail(outcome, ::WSAGetLastError());
        return -1;
    }
    return r > 0 ? 1 : 0;
}

} // namespace

Handle connectOne(const addrinfo &address, Clock::time_point deadline,
                  const std::function<bool()> &cancelled, Outcome &outcome)
{
    const SOCKET s = ::socket(address.ai_family, address.ai_socktype, address.ai_protocol);
    if (s == INVALID_SOCKET) {
        fail(outcome, ::WSAGetLastError());
        return none;
    }
    u_long nonBlocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonBlocking);
    tune(s);
    if (::connect(s, address.ai_addr, int(address.ai_addrlen)) == SOCKET_ERROR &&
        ::WSAGetLastError() != WSAEWOULDBLOCK) {
        fail(outcome, ::WSAGetLastError());
        ::closesocket(s);
        return none;
    }
    // A refused connection shows in the exception set, not as writable.
    fd_set writable, failed;
    int r = 0;
    while (!cancelled()) {
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        const int left = millisecondsLeft(deadline);
        const int ms = (std::min)(left, int(cancelCheck.count()));
        timeval wait{ms / 1000, (ms % 1000) * 1000};
        r = ::select(0, nullptr, &writable, &failed, &wait);
        if (r != 0 || left == 0)
            break;
    }
    if (r == 0 && cancelled()) {
        outcome = Outcome{Failure::Cancelled, QStringLiteral("the attempt was ended")};
        ::closesocket(s);
        return none;
    }
    int code = r == 0 ? WSAETIMEDOUT : r < 0 ? ::WSAGetLastError() : 0;
    if (r > 0 && FD_ISSET(s, &failed)) {
        int length = sizeof code;
        ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&code), &length);
        if (code == 0)
            code = WSAECONNREFUSED;
    }
    if (code != 0) {
        fail(outcome, code);
        ::closesocket(s);
        return none;
    }
    return Handle(s);
}

addrinfo *resolve(const QString &host, quint16 port, Outcome &outcome)
{
    if (!started()) {
        outcome = Outcome{Failure::Other, QStringLiteral("Winsock did not start")};
        return nullptr;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo *found = nullptr;
    const int r = ::getaddrinfo(host.toUtf8().constData(), QByteArray::number(port).constData(),
                                &hints, &found);
    if (r != 0) {
        // WSATRY_AGAIN: no answer for the name, which may well exist.
        outcome = Outcome{r == WSATRY_AGAIN ? Failure::ResolverSilent : Failure::NameNotFound,
                          errorText(r)};
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
        ::closesocket(toSocket(socket));
}

int waitReadable(Handle socket, int ms, Outcome &outcome)
{
    return pollFor(socket, POLLRDNORM, ms, outcome);
}

int waitWritable(Handle socket, int ms, Outcome &outcome)
{
    return pollFor(socket, POLLWRNORM, ms, outcome);
}

qint64 send(Handle socket, const char *data, qint64 size, Outcome &outcome)
{
    const int n = ::send(toSocket(socket), data, int(size), 0);
    if (n != SOCKET_ERROR)
        return n;
    const int code = ::WSAGetLastError();
    if (code == WSAEWOULDBLOCK)
        return 0;
    fail(outcome, code);
    if (outcome.failure != Failure::Reset)
        outcome.failure = Failure::Lost;
    return -1;
}

qint64 receive(Handle socket, char *data, qint64 size, Outcome &outcome)
{
    const int n = ::recv(toSocket(socket), data, int(size), 0);
    if (n > 0)
        return n;
    if (n == 0) {
        outcome = Outcome{Failure::Lost, QStringLiteral("the server closed the connection")};
        return -1;
    }
    const int code = ::WSAGetLastError();
    if (code == WSAEWOULDBLOCK)
        return 0;
    fail(outcome, code);
    if (outcome.failure != Failure::Reset)
        outcome.failure = Failure::Lost;
    return -1;
}

} // namespace netsocket
