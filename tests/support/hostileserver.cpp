#include "hostileserver.h"

#include "loopbacklistener.h"

#include "termiosspeed.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr quint8 iac = 255;
constexpr quint8 dont = 254;
constexpr quint8 doOption = 253;
constexpr quint8 wont = 252;
constexpr quint8 will = 251;
constexpr quint8 sb = 250;
constexpr quint8 nop = 241;
constexpr quint8 se = 240;
constexpr quint8 binary = 0;
constexpr quint8 suppressGoAhead = 3;
constexpr quint8 comPortOption = 44;
constexpr quint8 setBaudRate = 1;
constexpr quint8 serverAnswer = 100;

// How many bytes of the unit's reply CloseMidReply lets through before it closes.
constexpr int bytesBeforeClose = 3;
// A client that takes nothing for so long is given up (the test's end is never held up).
constexpr int stuckSendMs = 5000;
// The opening's negotiation a client is given before NopFloodAfterNegotiation gives up.
constexpr int negotiationMs = 10000;
constexpr int patternBytes = 64 * 1024;

QByteArray bytesOf(std::initializer_list<quint8> list)
{
    QByteArray bytes;
    for (const quint8 b : list)
        bytes += char(b);
    return bytes;
}

QByteArray repeated(const QByteArray &piece)
{
    return piece.repeated(patternBytes / piece.size());
}

// IAC DO and IAC WILL for every option number in turn: a storm that never asks the same
// thing twice in a row.
QByteArray optionStorm()
{
    QByteArray round;
    for (int option = 0; option < 256; ++option)
        round += bytesOf({iac, doOption, quint8(option), iac, will, quint8(option)});
    return repeated(round);
}

QByteArray patternOf(HostileServer::Behaviour behaviour)
{
    switch (behaviour) {
    case HostileServer::Flood:
        return QByteArray(patternBytes, 'A');
    case HostileServer::IacPairFlood:
        return repeated(bytesOf({iac, 0x01}));
    case HostileServer::NopFloodAfterNegotiation:
        return repeated(bytesOf({iac, nop}));
    case HostileServer::OptionStorm:
        return optionStorm();
    default:
        return {};
    }
}

QByteArray escaped(const QByteArray &data)
{
    QByteArray out;
    for (const char c : data) {
        out += c;
        if (quint8(c) == iac)
            out += c;
    }
    return out;
}

// Reads what `fd` holds into `into`; false when the connection or the device has ended.
bool receive(int fd, QByteArray &into)
{
    char piece[4096];
    const ssize_t n = ::read(fd, piece, sizeof piece);
    if (n > 0)
        into = QByteArray(piece, int(n));
    return n > 0 || (n < 0 && (errno == EINTR || errno == EAGAIN));
}

void setRaw(int fd, int baud)
{
    termios t{};
    if (::tcgetattr(fd, &t) != 0 || termiosSpeed(baud) == B0)
        return;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, termiosSpeed(baud));
    cfsetospeed(&t, termiosSpeed(baud));
    ::tcsetattr(fd, TCSANOW, &t);
}

// The client's side of the Telnet stream cut into its data bytes and whole commands, across
// reads.
class TelnetReader
{
public:
    struct Command
    {
        quint8 verb = 0;
        quint8 option = 0;
        QByteArray payload;
    };

    void feed(const QByteArray &bytes, QByteArray &data, QList<Command> &commands)
    {
        for (const char c : bytes)
            take(quint8(c), data, commands);
    }

private:
    enum class State
    {
        Data,
        Iac,
        Option,
        SubOption,
        Sub,
        SubIac,
    };

    void take(quint8 c, QByteArray &data, QList<Command> &commands)
    {
        switch (state) {
        case State::Data:
            if (c == iac)
                state = State::Iac;
            else
                data += char(c);
            return;
        case State::Iac:
            takeAfterIac(c, data);
            return;
        case State::Option:
            commands.append({pending.verb, c, {}});
            state = State::Data;
            return;
        case State::SubOption:
            pending = {sb, c, {}};
            state = State::Sub;
            return;
        case State::Sub:
            if (c == iac)
                state = State::SubIac;
            else if (pending.payload.size() < 64)
                pending.payload += char(c);
            return;
        case State::SubIac:
            if (c == iac) {
                pending.payload += char(c);
                state = State::Sub;
                return;
            }
            if (c == se)
                commands.append(pending);
            state = State::Data;
            return;
        }
    }

    void takeAfterIac(quint8 c, QByteArray &data)
    {
        state = State::Data;
        if (c == iac) {
            data += char(c);
        } else if (c >= will && c <= dont) {
            pending.verb = c;
            state = State::Option;
        } else if (c == sb) {
            state = State::SubOption;
        }
    }

    State state = State::Data;
    Command pending;
};

} // namespace

// One client's Telnet: the options it asks for, answered once per change of state, and its
// COM-PORT-OPTION requests, answered as the behaviour says.
class HostileServer::Session
{
public:
    Session(HostileServer &server, int device) : server(server), device(device) {}

    // Takes the client's `bytes`: the line's data is appended to `data`; the answers owed.
    QByteArray take(const QByteArray &bytes, QByteArray &data)
    {
        QList<TelnetReader::Command> commands;
        reader.feed(bytes, data, commands);
        QByteArray answers;
        for (const TelnetReader::Command &command : commands)
            answers += obey(command);
        return answers;
    }
    int speedsAnsweredHere() const { return answeredHere; }

private:
    QByteArray obey(const TelnetReader::Command &command)
    {
        const quint8 option = command.option;
        switch (command.verb) {
        case will:
            return turn(his[option], true,
                        option == binary || option == comPortOption || option == suppressGoAhead,
                        doOption, dont, option);
        case wont:
            return turn(his[option], false, false, doOption, dont, option);
        case doOption:
            return turn(ours[option], true, option == binary || option == suppressGoAhead, will,
                        wont, option);
        case dont:
            return turn(ours[option], false, false, will, wont, option);
        default:
            return option == comPortOption ? request(command.payload) : QByteArray();
        }
    }

    // An option asked on (`on`) or off: agreed or refused when the state changes, silence
    // when it is already so.
    static QByteArray turn(bool &state, bool on, bool acceptable, quint8 yes, quint8 no,
                           quint8 option)
    {
        if (on == state)
            return {};
        if (on && !acceptable)
            return bytesOf({iac, no, option});
        state = on;
        return bytesOf({iac, on ? yes : no, option});
    }

    QByteArray request(const QByteArray &payload)
    {
        if (payload.isEmpty())
            return {};
        const quint8 code = quint8(payload.at(0));
        QByteArray value = payload.mid(1);
        if (code == setBaudRate) {
            if (value.size() != 4)
                return {};
            const int answered = speedAnswer(asked(value));
            if (answered == 0)
                return {};
            ++server.speedsAnswered;
            ++answeredHere;
            value = QByteArray(4, 0);
            for (int i = 0; i < 4; ++i)
                value[i] = char(quint32(answered) >> (24 - 8 * i));
        }
        return bytesOf({iac, sb, comPortOption, quint8(code + serverAnswer)}) + escaped(value) +
               bytesOf({iac, se});
    }

    int asked(const QByteArray &value)
    {
        int baud = 0;
        for (const char c : value)
            baud = (baud << 8) | quint8(c);
        ++server.speedsAsked;
        server.lastAsked = baud;
        return baud;
    }

    // The speed told back to the client for `baud`; 0: no answer.
    int speedAnswer(int baud)
    {
        switch (server.behaviour) {
        case KeepsOtherSpeed:
            return server.speed;
        case AnswersFirstSpeedOnly:
            setRaw(device, baud);
            return answeredHere == 0 ? baud : 0;
        default:
            return baud;
        }
    }

    HostileServer &server;
    int device;
    TelnetReader reader;
    bool his[256] = {};
    bool ours[256] = {};
    int answeredHere = 0;
};

HostileServer::HostileServer(Behaviour behaviour_, const QString &devicePath_, int speed_)
    : behaviour(behaviour_), devicePath(devicePath_), speed(speed_)
{
}

HostileServer::~HostileServer()
{
    loopbackListener::close(thread, listener, stopPipe);
}

bool HostileServer::start()
{
    if (!loopbackListener::open(listener, stopPipe, listenPort))
        return false;
    thread = std::thread([this] { serve(); });
    return true;
}

QString HostileServer::url() const
{
    const bool raw = behaviour == Flood || behaviour == ResetAtAccept || behaviour == CloseMidReply;
    return raw ? tcpUrl() : rfc2217Url();
}

QString HostileServer::rfc2217Url() const
{
    return QStringLiteral("rfc2217://127.0.0.1:%1").arg(listenPort);
}

QString HostileServer::tcpUrl() const
{
    return QStringLiteral("tcp://127.0.0.1:%1").arg(listenPort);
}

// Accepts one client after another.
void HostileServer::serve()
{
    for (;;) {
        pollfd watched[] = {{listener, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
        if (::poll(watched, 2, -1) < 0 && errno != EINTR)
            return;
        if (watched[1].revents)
            return;
        if (!(watched[0].revents & POLLIN))
            continue;
        const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (client < 0)
            continue;
        ++accepted;
        serveClient(client);
        ::close(client);
    }
}

void HostileServer::serveClient(int client)
{
    switch (behaviour) {
    case ResetAtAccept: {
        const linger reset{1, 0}; // the close sends RST instead of FIN
        ::setsockopt(client, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        return;
    }
    case NopFloodAfterNegotiation: {
        Session session(*this, -1);
        if (negotiate(client, session))
            pour(client, patternOf(behaviour), &session);
        return;
    }
    case KeepsOtherSpeed:
    case AnswersFirstSpeedOnly:
    case CloseMidReply: {
        const int device = openDevice();
        if (device < 0)
            return;
        Session session(*this, device);
        relay(client, device, behaviour == CloseMidReply ? nullptr : &session);
        ::close(device);
        return;
    }
    default:
        pour(client, patternOf(behaviour), nullptr);
    }
}

void HostileServer::pour(int client, const QByteArray &pattern, Session *session)
{
    QByteArray out;
    QByteArray answers;
    qsizetype done = 0;
    for (;;) {
        pollfd watched[] = {{client, POLLIN | POLLOUT, 0}, {stopPipe[0], POLLIN, 0}};
        if (::poll(watched, 2, -1) < 0 && errno != EINTR)
            return;
        if (watched[1].revents)
            return;
        if (watched[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            QByteArray bytes;
            if (!receive(client, bytes))
                return;
            received += bytes.size();
            QByteArray data;
            if (session)
                answers += session->take(bytes, data);
        }
        if (!(watched[0].revents & POLLOUT))
            continue;
        if (done == out.size()) { // answers only between two whole patterns
            out = answers + pattern;
            answers.clear();
            done = 0;
        }
        const ssize_t n = ::send(client, out.constData() + done, size_t(out.size() - done),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return;
        if (n > 0) {
            done += n;
            sent += n;
        }
    }
}

bool HostileServer::negotiate(int client, Session &session)
{
    while (session.speedsAnsweredHere() == 0) {
        pollfd watched[] = {{client, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
        if (::poll(watched, 2, negotiationMs) <= 0 || watched[1].revents)
            return false;
        QByteArray bytes;
        if (!receive(client, bytes))
            return false;
        received += bytes.size();
        QByteArray data;
        if (!sendAll(client, session.take(bytes, data), true))
            return false;
    }
    return true;
}

void HostileServer::relay(int client, int device, Session *session)
{
    int relayed = 0;
    for (;;) {
        pollfd watched[] = {{client, POLLIN, 0}, {device, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
        if (::poll(watched, 3, -1) < 0 && errno != EINTR)
            return;
        if (watched[2].revents)
            return;
        QByteArray bytes;
        if (watched[0].revents) {
            if (!receive(client, bytes))
                return;
            received += bytes.size();
            QByteArray data = bytes;
            if (session) {
                data.clear();
                if (!sendAll(client, session->take(bytes, data), true))
                    return;
            }
            toDevice += data.size();
            if (!sendAll(device, data, false))
                return;
        }
        bytes.clear();
        if (watched[1].revents) {
            if (!receive(device, bytes))
                return;
            fromDevice += bytes.size();
            if (behaviour == CloseMidReply) {
                bytes = bytes.left(bytesBeforeClose - relayed);
                relayed += int(bytes.size());
            }
            if (!sendAll(client, session ? escaped(bytes) : bytes, true))
                return;
            if (behaviour == CloseMidReply && relayed >= bytesBeforeClose)
                return;
        }
    }
}

int HostileServer::openDevice() const
{
    const int fd = ::open(QFile::encodeName(devicePath).constData(),
                          O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    // Claimed as a server claims its device, so that no one else interleaves bytes.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    setRaw(fd, speed);
    return fd;
}

// Writes all of `bytes` to the client (counted) or the device; false when it has gone, takes
// nothing for long, or the server stops.
bool HostileServer::sendAll(int fd, const QByteArray &bytes, bool toClient)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const char *from = bytes.constData() + done;
        const size_t size = size_t(bytes.size() - done);
        const ssize_t n = toClient ? ::send(fd, from, size, MSG_NOSIGNAL | MSG_DONTWAIT)
                                   : ::write(fd, from, size);
        if (n > 0) {
            done += n;
            sent += toClient ? n : 0;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd watched[] = {{fd, POLLOUT, 0}, {stopPipe[0], POLLIN, 0}};
        if (::poll(watched, 2, stuckSendMs) <= 0 || watched[1].revents)
            return false;
    }
    return true;
}
