#include "networkline.h"

#include "linespeeds.h"
#include "linklog.h"

#include <QMutexLocker>
#include <algorithm>

namespace {

using namespace std::chrono_literals;
using netsocket::Clock;

constexpr auto connectTimeout = 5s;     // resolving and connecting
constexpr auto negotiateTimeout = 3s;   // the server's Telnet answers at open
constexpr auto speedAnswerTimeout = 2s; // the server's answer to SET-BAUDRATE
constexpr auto writeTimeout = 2s;       // a send the connection does not take
// A server that gives its line to one client at a time closes a second client's connection
// at once (a raw socket tells nothing else): so long is waited for that at open.
constexpr auto refusalWait = 300ms;
constexpr int readPiece = 4096;
constexpr int openingSpeed = 4800;

// What the program takes part in: both directions binary, COM-PORT-OPTION, no go-aheads.
bool wanted(quint8 option)
{
    return option == telnet::binary || option == telnet::comPortOption ||
           option == telnet::suppressGoAhead;
}

SerialPort::Error openError(netsocket::Failure failure)
{
    switch (failure) {
    case netsocket::Failure::NameNotFound:
        return SerialPort::HostNotFound;
    case netsocket::Failure::Refused:
        return SerialPort::Refused;
    case netsocket::Failure::Unreachable:
        return SerialPort::Unreachable;
    case netsocket::Failure::Lost:
        return SerialPort::Busy;
    default:
        return SerialPort::OtherError;
    }
}

} // namespace

NetworkLine::NetworkLine(Report reportFailure) : report(std::move(reportFailure)) {}

NetworkLine::~NetworkLine()
{
    close();
}

netsocket::Handle NetworkLine::open(const NetworkPortName &name)
{
    close();
    const QString where = QStringLiteral("%1 port %2").arg(name.host).arg(name.port);
    netsocket::Outcome outcome;
    socket = netsocket::connectTo(name.host, name.port, Clock::now() + connectTimeout, outcome);
    if (socket == netsocket::none) {
        report(openError(outcome.failure), QStringLiteral("%1: %2").arg(where, outcome.text));
        return netsocket::none;
    }
    telnetFraming = name.kind == NetworkPortName::Rfc2217;
    bool ready = false;
    if (telnetFraming) {
        ready = negotiate(Clock::now() + negotiateTimeout);
    } else {
        waitUntil([] { return false; }, Clock::now() + refusalWait);
        ready = !ended;
    }
    if (!ready) {
        if (!ended && telnetFraming)
            report(SerialPort::NotRfc2217,
                   QStringLiteral("%1 does not set its line by RFC 2217 (Telnet COM-PORT-OPTION)")
                       .arg(where));
        else
            report(SerialPort::Busy,
                   QStringLiteral("%1 closed the connection at once: it serves another client")
                       .arg(where));
        close();
        return netsocket::none;
    }
    received.clear(); // what the line said before it was set up is no reply
    return socket;
}

// Both directions binary, COM-PORT-OPTION agreed, then 4800 8N1 without flow control, and
// the server's answer to the speed awaited. The data size, parity, stop bits and flow
// control are not awaited: a server in front of a pseudo-terminal may leave one of them
// unanswered (it cannot take flow control there).
bool NetworkLine::negotiate(Clock::time_point deadline)
{
    {
        QMutexLocker hold(&lock);
        askedOurs[telnet::binary] = askedHis[telnet::binary] = true;
        askedOurs[telnet::comPortOption] = true;
    }
    if (!sendAll(telnet::negotiation(telnet::will, telnet::binary) +
                 telnet::negotiation(telnet::doOption, telnet::binary) +
                 telnet::negotiation(telnet::will, telnet::comPortOption)))
        return false;
    if (!waitUntil([this] { return ours[telnet::comPortOption] || comPortRefused; }, deadline) ||
        comPortRefused)
        return false;
    {
        QMutexLocker hold(&lock);
        speedAsked = openingSpeed;
    }
    if (!sendAll(rfc2217::baudRateRequest(openingSpeed) +
                 rfc2217::settingRequest(rfc2217::setDataSize, 8) +
                 rfc2217::settingRequest(rfc2217::setParity, rfc2217::parityNone) +
                 rfc2217::settingRequest(rfc2217::setStopSize, rfc2217::oneStopBit) +
                 rfc2217::settingRequest(rfc2217::setControl, rfc2217::noFlowControl)))
        return false;
    return waitUntil([this] { return speedAsked == 0; }, deadline);
}

// Reads and obeys the server until `done` (checked under the lock) or `deadline`; false
// on the deadline or the connection's end.
bool NetworkLine::waitUntil(const std::function<bool()> &done, Clock::time_point deadline)
{
    for (;;) {
        {
            QMutexLocker hold(&lock);
            if (done())
                return true;
        }
        if (ended)
            return false;
        // A deadline already past still takes what the socket holds now.
        netsocket::Outcome outcome;
        const int r =
            netsocket::waitReadable(socket, netsocket::millisecondsLeft(deadline), outcome);
        if (r < 0) {
            lost(outcome);
            return false;
        }
        if (r == 0 || !receiveWaiting())
            return false;
    }
}

void NetworkLine::close()
{
    netsocket::close(socket);
    socket = netsocket::none;
    QMutexLocker hold(&lock);
    ended = false;
    received.clear();
    decoder = telnet::Decoder{};
    std::fill(std::begin(his), std::end(his), false);
    std::fill(std::begin(ours), std::end(ours), false);
    std::fill(std::begin(askedHis), std::end(askedHis), false);
    std::fill(std::begin(askedOurs), std::end(askedOurs), false);
    comPortRefused = false;
    speedAsked = speedAnswered = 0;
}

bool NetworkLine::setBaudRate(int baud)
{
    if (socket == netsocket::none || !isUnitLineSpeed(baud)) {
        report(socket == netsocket::none ? SerialPort::NotOpen : SerialPort::Unsupported,
               QString());
        return false;
    }
    if (!telnetFraming)
        return true;
    {
        QMutexLocker hold(&lock);
        speedAsked = baud;
    }
    return sendAll(rfc2217::baudRateRequest(baud));
}

qint64 NetworkLine::write(const QByteArray &data)
{
    if (socket == netsocket::none || ended)
        return 0;
    // The first copy at a new speed goes once the server has set its line to it.
    if (telnetFraming &&
        !waitUntil([this] { return speedAsked == 0; }, Clock::now() + speedAnswerTimeout) && !ended)
        qCDebug(lcLink) << "no answer to the line speed" << speedAsked << "from the server";
    return sendAll(telnetFraming ? telnet::escaped(data) : data) ? data.size() : 0;
}

bool NetworkLine::sendAll(const QByteArray &bytes)
{
    QMutexLocker hold(&sendLock);
    const auto deadline = Clock::now() + writeTimeout;
    qint64 done = 0;
    while (done < bytes.size() && !ended) {
        netsocket::Outcome outcome;
        const qint64 n =
            netsocket::send(socket, bytes.constData() + done, bytes.size() - done, outcome);
        if (n < 0) {
            lost(outcome);
            return false;
        }
        done += n;
        if (n == 0 &&
            netsocket::waitWritable(socket, netsocket::millisecondsLeft(deadline), outcome) <= 0) {
            report(SerialPort::Timeout, QStringLiteral("the connection takes no bytes"));
            return false;
        }
    }
    return done == bytes.size();
}

// Reads what the socket holds now; false when the connection has ended.
bool NetworkLine::receiveWaiting()
{
    char piece[readPiece];
    for (;;) {
        netsocket::Outcome outcome;
        const qint64 n = netsocket::receive(socket, piece, sizeof piece, outcome);
        if (n < 0) {
            lost(outcome);
            return false;
        }
        if (n == 0)
            return true;
        const QByteArray chunk(piece, int(n));
        QMutexLocker hold(&lock);
        if (!telnetFraming) {
            received += chunk;
        } else {
            QList<telnet::Decoder::Command> commands;
            decoder.feed(chunk, received, commands);
            for (const auto &command : commands)
                obey(command);
        }
        if (n < qint64(sizeof piece))
            return true;
    }
}

// The server's Telnet commands: options agreed or refused without ever answering an
// answer (no loops), the speed answer taken, notifications dropped.
void NetworkLine::obey(const telnet::Decoder::Command &command)
{
    const quint8 option = command.option;
    const bool hisSide = command.verb == telnet::will || command.verb == telnet::wont;
    bool &state = hisSide ? his[option] : ours[option];
    bool &asked = hisSide ? askedHis[option] : askedOurs[option];
    const bool enable = command.verb == telnet::will || command.verb == telnet::doOption;
    if (command.verb == telnet::sb) {
        if (option == telnet::comPortOption) {
            if (const int baud = rfc2217::answeredBaudRate(command.payload)) {
                speedAnswered = baud;
                speedAsked = 0;
            }
        }
        return;
    }
    if (enable && !state) {
        if (wanted(option)) {
            state = true;
            if (!asked)
                answer(hisSide ? telnet::doOption : telnet::will, option);
        } else {
            answer(hisSide ? telnet::dont : telnet::wont, option);
        }
    } else if (!enable && (state || asked)) {
        if (state)
            answer(hisSide ? telnet::dont : telnet::wont, option);
        state = false;
        if (option == telnet::comPortOption)
            comPortRefused = true;
    }
    asked = false;
}

void NetworkLine::answer(quint8 verb, quint8 option)
{
    sendAll(telnet::negotiation(verb, option));
}

void NetworkLine::lost(const netsocket::Outcome &outcome)
{
    if (ended)
        return;
    ended = true;
    report(SerialPort::Gone, outcome.text);
}

bool NetworkLine::pump(Clock::time_point deadline)
{
    return waitUntil([this] { return !received.isEmpty(); }, deadline) || !ended;
}

qint64 NetworkLine::bytesAvailable()
{
    if (socket != netsocket::none)
        pump(Clock::now());
    QMutexLocker hold(&lock);
    return received.size();
}

QByteArray NetworkLine::readAll()
{
    if (socket != netsocket::none)
        pump(Clock::now());
    QMutexLocker hold(&lock);
    QByteArray bytes;
    bytes.swap(received);
    return bytes;
}

bool NetworkLine::waitForReadyRead(int ms)
{
    if (socket == netsocket::none || ended)
        return false;
    return waitUntil([this] { return !received.isEmpty(); },
                     Clock::now() + std::chrono::milliseconds(ms));
}
