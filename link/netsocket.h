#pragma once

#include <QString>
#include <QtGlobal>
#include <chrono>
#include <functional>

struct addrinfo;

// The few socket calls a network line makes, on POSIX sockets or Winsock: one file per
// platform behind this header, which carries no platform types.
namespace netsocket {

using Handle = qintptr;
constexpr Handle none = -1;
using Clock = std::chrono::steady_clock;

// Why a connection could not be made (or ended).
enum class Failure
{
    None,
    NameNotFound,   // the host name does not resolve
    Refused,        // nothing listens on that port
    Unreachable,    // no route, or no answer before the deadline
    Lost,           // the connection ended (closed by the server, timed out)
    Reset,          // the server reset the connection
    ResolverSilent, // the resolver gave no answer for the name in time (EAI_AGAIN)
    Cancelled,      // the attempt was ended from outside (the operator, a signal)
    Other,
};

struct Outcome
{
    Failure failure = Failure::None;
    QString text; // the system's words for it
};

// Resolves `host` and connects to `port` without blocking past `deadline`, and ends at once
// once `cancelled()` says so: TCP_NODELAY and keep-alive (with short probes, so that a network
// gone away is noticed in seconds) set.
Handle connectTo(const QString &host, quint16 port, Clock::time_point deadline,
                 const std::function<bool()> &cancelled, Outcome &outcome);
void close(Handle socket);

// Waits up to `ms` for bytes to read (or the connection's end): 1 ready, 0 time-out, -1
// failure (in `outcome`).
int waitReadable(Handle socket, int ms, Outcome &outcome);
int waitWritable(Handle socket, int ms, Outcome &outcome);
// Sends or receives what the socket takes or holds now. The count, or 0 when it would
// have to wait, or -1 with `outcome` set; receive() reports the server's close as Lost.
qint64 send(Handle socket, const char *data, qint64 size, Outcome &outcome);
qint64 receive(Handle socket, char *data, qint64 size, Outcome &outcome);

// Milliseconds left until `deadline`, rounded up; 0 when it has passed.
int millisecondsLeft(Clock::time_point deadline);

// The platform's steps of connectTo(), which tries each address of the host in turn: the
// host's addresses (null with `outcome` set; blocks as long as the resolver takes), their
// release and order, one connection made without blocking past `deadline` or a few
// milliseconds past `cancelled()` (none with `outcome` set).
addrinfo *resolve(const QString &host, quint16 port, Outcome &outcome);
void release(addrinfo *addresses);
const addrinfo *nextAddress(const addrinfo *address);
Handle connectOne(const addrinfo &address, Clock::time_point deadline,
                  const std::function<bool()> &cancelled, Outcome &outcome);
// How often a connection attempt looks whether it has been cancelled.
constexpr std::chrono::milliseconds cancelCheck{20};

} // namespace netsocket
