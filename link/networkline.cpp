#include "networkline.h"

#include "exchangetiming.h"
#include "linespeeds.h"
#include "linklog.h"

#include <QMutexLocker>
#include <QThread>
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
// What the line keeps for its reader: a whole reply for each copy of a request, and one more.
constexpr qsizetype receivedBound = exchangeTiming::maxReplySize * (exchangeTiming::sends + 1);
// A server that has filled a read in a poll slice, or been read so often in it, is read again
// in the next slice only (a reply comes in a few pieces).
constexpr auto slice = exchangeTiming::pollInterval;
constexpr int readsPerSlice = 16;
// Option commands a server may send while its line is set up: each option asked at most
// once each way, and as many again for a change of mind.
constexpr int optionCommandLimit = 1024;
// Dropped bytes are noted in the trace at most so often, as a count.
constexpr auto dropNoteInterval = 1s;

std::atomic<unsigned> abortEpoch{0};

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
    case netsocket::Failure::ResolverSilent:
        return SerialPort::ResolverSilent;
    case netsocket::Failure::Cancelled:
        return SerialPort::Cancelled;
    case netsocket::Failure::Refused:
        return SerialPort::Refused;
    case netsocket::Failure::Unreachable:
        return SerialPort::Unreachable;
    case netsocket::Failure::Reset:
        return SerialPort::ServerReset;
    case netsocket::Failure::Lost:
        return SerialPort::Busy;
    default:
        return SerialPort::OtherError;
    }
}

} // namespace

NetworkLine::NetworkLine(Report reportFailure) : report(std::move(reportFailure)), options(wanted)
{
}

NetworkLine::~NetworkLine()
{
    close();
}

void NetworkLine::abortAttempts()
{
    abortEpoch.fetch_add(1);
}

bool NetworkLine::cancelled() const
{
    return opening && abortEpoch.load() != openEpoch;
}

netsocket::Handle NetworkLine::open(const NetworkPortName &name)
{
    close();
    openEpoch = abortEpoch.load();
    opening = true;
    const QString where = QStringLiteral("%1 port %2").arg(name.host).arg(name.port);
    netsocket::Outcome outcome;
    const netsocket::Handle connected = netsocket::connectTo(
        name.host, name.port, Clock::now() + connectTimeout, [this] { return cancelled(); },
        outcome);
    if (connected == netsocket::none) {
        opening = false;
        report(openError(outcome.failure), QStringLiteral("%1: %2").arg(where, outcome.text));
        return netsocket::none;
    }
    return openOn(connected, name.kind, where);
}

netsocket::Handle NetworkLine::openOn(netsocket::Handle connected, NetworkPortName::Kind kind,
                                      const QString &where)
{
    if (!opening) {
        close();
        openEpoch = abortEpoch.load();
        opening = true;
    }
    socket = connected;
    telnetFraming = kind == NetworkPortName::Rfc2217;
    if (telnetFraming)
        negotiate(Clock::now() + negotiateTimeout);
    else
        waitUntil([] { return false; }, Clock::now() + refusalWait);
    opening = false;
    if (!opened(where)) {
        close();
        return netsocket::none;
    }
    QMutexLocker hold(&lock);
    received.clear(); // what the line said before it was set up is no reply
    return socket;
}

// Whether the opening ended well, with its failure reported when not.
bool NetworkLine::opened(const QString &where)
{
    if (abortEpoch.load() != openEpoch) {
        report(SerialPort::Cancelled, QStringLiteral("%1: the attempt was ended").arg(where));
        return false;
    }
    if (stormed) {
        report(SerialPort::BrokenServer,
               QStringLiteral("%1 sent more than %2 Telnet option commands while its line was "
                              "being set up")
                   .arg(where)
                   .arg(optionCommandLimit));
        return false;
    }
    // A server that serves another client says so and closes (often with a reset, its
    // words unread); a reset before any word is the server's own doing.
    if (ended && loss.failure == netsocket::Failure::Reset && !heardServer) {
        report(SerialPort::ServerReset,
               QStringLiteral("%1 reset the connection as soon as it was made (%2)")
                   .arg(where, loss.text));
        return false;
    }
    if (ended) {
        report(SerialPort::Busy,
               QStringLiteral("%1 closed the connection at once: it serves another client")
                   .arg(where));
        return false;
    }
    if (telnetFraming && !options.enabled(TelnetOptions::Side::Ours, telnet::comPortOption)) {
        report(SerialPort::NotRfc2217,
               QStringLiteral("%1 does not set its line by RFC 2217 (Telnet COM-PORT-OPTION)")
                   .arg(where));
        return false;
    }
    if (telnetFraming && speedAnswered == 0) {
        report(SerialPort::NotRfc2217,
               QStringLiteral("%1 agreed to RFC 2217 but did not answer its line speed within "
                              "%2 s")
                   .arg(where)
                   .arg(std::chrono::seconds(negotiateTimeout).count()));
        return false;
    }
    return true;
}

// Both directions binary, COM-PORT-OPTION agreed, then 4800 8N1 without flow control, and
// the server's answer to the speed awaited. The data size, parity, stop bits and flow
// control are not awaited: a server in front of a pseudo-terminal may leave one of them
// unanswered (it cannot take flow control there).
bool NetworkLine::negotiate(Clock::time_point deadline)
{
    QByteArray asks;
    {
        QMutexLocker hold(&lock);
        options.ask(TelnetOptions::Side::Ours, telnet::binary, asks);
        options.ask(TelnetOptions::Side::His, telnet::binary, asks);
        options.ask(TelnetOptions::Side::Ours, telnet::comPortOption, asks);
    }
    if (!sendAll(asks))
        return false;
    const auto comPortSettled = [this] {
        return options.enabled(TelnetOptions::Side::Ours, telnet::comPortOption) ||
               options.refused(TelnetOptions::Side::Ours, telnet::comPortOption);
    };
    if (!waitUntil(comPortSettled, deadline) ||
        !options.enabled(TelnetOptions::Side::Ours, telnet::comPortOption))
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

bool NetworkLine::waitUntil(const std::function<bool()> &done, Clock::time_point deadline)
{
    for (;;) {
        {
            QMutexLocker hold(&lock);
            if (done())
                return true;
        }
        if (ended || stormed || cancelled())
            return false;
        if (sliceBytes >= readPiece || sliceReads >= readsPerSlice) {
            // Read a whole piece in this slice already: the rest waits for the next one, so
            // that a server sending without end costs one read per slice, not a core.
            const auto resume = std::min(sliceEnd, deadline);
            QThread::usleep(quint64(std::max<qint64>(
                0, std::chrono::duration_cast<std::chrono::microseconds>(resume - Clock::now())
                       .count())));
            if (Clock::now() >= deadline)
                return false;
            sliceBytes = sliceReads = 0;
            continue;
        }
        int ms = netsocket::millisecondsLeft(deadline);
        if (opening)
            ms = std::min(ms, int(netsocket::cancelCheck.count()));
        netsocket::Outcome outcome;
        const int r = netsocket::waitReadable(socket, ms, outcome);
        if (r < 0) {
            lost(outcome);
            return false;
        }
        if (r > 0 && !receiveOnce())
            return false;
        // A deadline already past still takes what the socket held: one read, then the end.
        if (Clock::now() >= deadline) {
            QMutexLocker hold(&lock);
            return done();
        }
    }
}

void NetworkLine::close()
{
    netsocket::close(socket);
    socket = netsocket::none;
    noteDropped(true);
    QMutexLocker hold(&lock);
    ended = false;
    loss = netsocket::Outcome{};
    received.clear();
    decoder = telnet::Decoder{};
    options = TelnetOptions(wanted);
    stormed = false;
    answersStopped = false;
    heardServer = false;
    sliceBytes = sliceReads = 0;
    speedAsked = 0;
    speedAnswered = 0;
    speedAnswersStopped = false;
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
        speedAsked = speedAnswersStopped ? 0 : baud;
    }
    if (!sendAll(rfc2217::baudRateRequest(baud)))
        return false;
    if (speedAnswersStopped)
        return true;
    if (!waitUntil([this] { return speedAsked == 0; }, Clock::now() + speedAnswerTimeout)) {
        if (ended)
            return false;
        // Taken at its word: the bytes after a request go in the stream's order, and waiting
        // out every later request too would make each exchange two seconds late.
        speedAnswersStopped = true;
        logNote(QStringLiteral("the server did not answer the line speed %1 within %2 s: its "
                               "answers are not waited for again on this connection")
                    .arg(baud)
                    .arg(std::chrono::seconds(speedAnswerTimeout).count()));
        return true;
    }
    if (speedAnswered == baud)
        return true;
    report(SerialPort::SpeedNotSet,
           QStringLiteral("the server keeps its line at %1 baud: %2 cannot be set")
               .arg(speedAnswered.load())
               .arg(baud));
    return false;
}

qint64 NetworkLine::write(const QByteArray &data)
{
    if (socket == netsocket::none || ended)
        return 0;
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

// Reads one piece of what the socket holds; false when the connection has ended. The
// Telnet answers it owes go out together, after it.
bool NetworkLine::receiveOnce()
{
    char piece[readPiece];
    netsocket::Outcome outcome;
    const qint64 n = netsocket::receive(socket, piece, sizeof piece, outcome);
    if (n < 0) {
        lost(outcome);
        return false;
    }
    const auto now = Clock::now();
    if (now >= sliceEnd) {
        sliceEnd = now + slice;
        sliceBytes = sliceReads = 0;
    }
    sliceBytes += n;
    ++sliceReads;
    if (n == 0)
        return true;
    heardServer = true;
    QByteArray answers;
    {
        const QByteArray chunk(piece, int(n));
        QMutexLocker hold(&lock);
        if (!telnetFraming) {
            keep(chunk);
        } else {
            QByteArray data;
            QList<telnet::Decoder::Command> commands;
            decoder.feed(chunk, data, commands);
            keep(data);
            for (const auto &command : commands)
                obey(command, answers);
        }
    }
    return answers.isEmpty() || sendAll(answers);
}

// Adds the line's bytes for the reader, up to the bound; the rest is counted.
void NetworkLine::keep(const QByteArray &bytes)
{
    const qsizetype room = std::max<qsizetype>(0, receivedBound - received.size());
    received += bytes.left(room);
    dropped += bytes.size() - std::min(room, bytes.size());
}

// The server's Telnet commands: options agreed by the Q method, the speed answer taken,
// notifications dropped. A server past the limit of option commands is answered no more.
void NetworkLine::obey(const telnet::Decoder::Command &command, QByteArray &answers)
{
    if (command.verb == telnet::sb) {
        if (command.option == telnet::comPortOption) {
            if (const int baud = rfc2217::answeredBaudRate(command.payload)) {
                speedAnswered = baud;
                speedAsked = 0;
            }
        }
        return;
    }
    if (options.commandsReceived() >= optionCommandLimit) {
        if (opening)
            stormed = true;
        else if (!answersStopped)
            logNote(QStringLiteral("the server sent more than %1 Telnet option commands: they "
                                   "are answered no more")
                        .arg(optionCommandLimit));
        answersStopped = true;
        return;
    }
    options.received(command.verb, command.option, answers);
}

void NetworkLine::lost(const netsocket::Outcome &outcome)
{
    if (ended)
        return;
    loss = outcome;
    ended = true;
    if (!opening)
        report(SerialPort::Gone, outcome.text);
}

// Notes the bytes dropped since the last note in the trace, as a count: at most once a
// second, or `now`.
void NetworkLine::noteDropped(bool now)
{
    const auto stamp = Clock::now();
    qint64 count = 0;
    {
        QMutexLocker hold(&lock);
        if (dropped == 0 || (!now && stamp - lastDropNote < dropNoteInterval))
            return;
        count = dropped;
        dropped = 0;
        lastDropNote = stamp;
    }
    logNote(QStringLiteral("%1 bytes from the server dropped: more than a reply and its copies")
                .arg(count));
}

qint64 NetworkLine::bytesAvailable()
{
    if (socket != netsocket::none && !ended)
        waitUntil([this] { return !received.isEmpty(); }, Clock::now());
    QMutexLocker hold(&lock);
    return received.size();
}

QByteArray NetworkLine::readAll()
{
    if (socket != netsocket::none && !ended)
        waitUntil([this] { return !received.isEmpty(); }, Clock::now());
    noteDropped(false);
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
