#include "latespeedrelay.h"

#include "loopbacklistener.h"

#include <QByteArray>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <deque>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr char iac = char(0xff);
constexpr char sb = char(0xfa);
constexpr char se = char(0xf0);
constexpr char comPortOption = 44;
constexpr char setBaudRate = 1;
const QByteArray speedRequest = QByteArray(1, iac) + sb + comPortOption + setBaudRate;

// The client's byte stream cut into what may go at once and the SET-BAUDRATE commands that
// wait; Telnet commands are recognised across reads.
class ClientStream
{
public:
    struct Held
    {
        Clock::time_point due;
        QByteArray bytes;
    };

    // Takes `bytes`; what may pass now is appended to `now`, SET-BAUDRATE commands to `held`.
    void feed(const QByteArray &bytes, QByteArray &now, std::deque<Held> &held,
              Clock::time_point due)
    {
        for (const char c : bytes) {
            pending += c;
            if (!complete(c))
                continue;
            if (pending.startsWith(speedRequest))
                held.push_back({due, pending});
            else
                now += pending;
            pending.clear();
            inSubnegotiation = false;
        }
    }

private:
    // Whether `pending`, now ending in `c`, is a whole piece: a data byte, a doubled IAC, a
    // two- or three-byte command, or a subnegotiation up to its IAC SE.
    bool complete(char c)
    {
        if (inSubnegotiation) {
            const bool iacBefore = afterIac;
            afterIac = c == iac && !iacBefore;
            return iacBefore && c == se;
        }
        if (pending.size() == 1)
            return c != iac;
        const char verb = pending.at(1);
        if (verb == sb) {
            inSubnegotiation = true;
            afterIac = false;
            return false;
        }
        const bool optionFollows = quint8(verb) >= 0xfb && quint8(verb) <= 0xfe;
        return pending.size() == (optionFollows ? 3 : 2);
    }

    QByteArray pending;
    bool inSubnegotiation = false;
    bool afterIac = false;
};

bool sendAll(int fd, const QByteArray &bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n =
            ::send(fd, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Reads what `fd` holds; false when the connection has ended.
bool receive(int fd, QByteArray &into)
{
    char piece[4096];
    const ssize_t n = ::recv(fd, piece, sizeof piece, 0);
    if (n > 0)
        into = QByteArray(piece, int(n));
    return n > 0 || (n < 0 && errno == EINTR);
}

} // namespace

LateSpeedRelay::LateSpeedRelay(quint16 serverPort_, std::chrono::milliseconds delay_)
    : serverPort(serverPort_), delay(delay_)
{
}

LateSpeedRelay::~LateSpeedRelay()
{
    loopbackListener::close(thread, listener, stopPipe);
}

bool LateSpeedRelay::start()
{
    if (!loopbackListener::open(listener, stopPipe, port))
        return false;
    thread = std::thread([this] { serve(); });
    return true;
}

QString LateSpeedRelay::rfc2217Url() const
{
    return QStringLiteral("rfc2217://127.0.0.1:%1").arg(port);
}

// Accepts one client after another and relays each to a connection of its own to the server.
void LateSpeedRelay::serve()
{
    for (;;) {
        pollfd watched[] = {{listener, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
        if (::poll(watched, 2, -1) < 0 && errno != EINTR)
            return;
        if (watched[1].revents)
            return;
        if (!(watched[0].revents & POLLIN))
            continue;
        const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in address = loopbackListener::address(serverPort);
        if (client >= 0 && server >= 0 &&
            ::connect(server, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
            relay(client, server);
        for (const int fd : {client, server})
            if (fd >= 0)
                ::close(fd);
    }
}

void LateSpeedRelay::relay(int client, int server)
{
    ClientStream stream;
    std::deque<ClientStream::Held> waiting;
    for (;;) {
        int timeout = -1;
        if (!waiting.empty()) {
            const auto left = waiting.front().due - Clock::now();
            timeout = int(
                std::max<long long>(0, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
        }
        pollfd watched[] = {{client, POLLIN, 0}, {server, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
        if (::poll(watched, 3, timeout) < 0 && errno != EINTR)
            return;
        if (watched[2].revents)
            return;
        QByteArray bytes;
        if (watched[0].revents) {
            if (!receive(client, bytes))
                return;
            QByteArray now;
            const auto before = waiting.size();
            stream.feed(bytes, now, waiting, Clock::now() + delay);
            held += int(waiting.size() - before);
            if (!sendAll(server, now))
                return;
        }
        bytes.clear();
        if (watched[1].revents && (!receive(server, bytes) || !sendAll(client, bytes)))
            return;
        while (!waiting.empty() && waiting.front().due <= Clock::now()) {
            if (!sendAll(server, waiting.front().bytes))
                return;
            waiting.pop_front();
        }
    }
}
