#include "ccomport.h"

#include "exchangeresult.h"
#include "exchangetiming.h"
#include "framecodec.h"
#include "frameformat.h"
#include "linklog.h"
#include "networkportname.h"
#include "serialport.h"

#include <QEventLoop>
#include <QSerialPortInfo>
#include <QTimer>
#include <algorithm>
#include <chrono>

std::atomic<int> linkBusy{0};

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using exchangeTiming::maxReplySize;
using exchangeTiming::pollInterval;
using exchangeTiming::settleAfterSend;
constexpr auto linkRetry = 30ms;         // between tries to take the link
constexpr auto linkWaitOnDestroy = 10ms; // destructor's wait for a free link
constexpr auto drainTimeout = 1000ms;    // bound on waiting for the output queue to empty

// How long `bytes` take to leave at `baud`, never more than the bound on a stuck line.
std::chrono::microseconds lineTime(qint64 bytes, int baud)
{
    const std::chrono::microseconds bound = drainTimeout;
    return baud > 0 ? std::min(exchangeTiming::timeOnTheLine(bytes, baud), bound) : bound;
}

// Listed port names (ttyS0) are opened by their device; a path is taken as given.
// Windows: COM3 is opened as \\.\COM3, the one form that reaches COM10 and above too.
// A serial server's rfc2217:// or tcp:// name is its own.
QString devicePathFor(const QString &portName)
{
    if (parseNetworkPortName(portName).isNetwork())
        return portName;
#ifdef Q_OS_WIN
    return portName.startsWith(QLatin1Char('\\')) ? portName : QStringLiteral("\\\\.\\") + portName;
#else
    if (portName.contains(QLatin1Char('/')))
        return portName;
    const QString location = QSerialPortInfo(portName).systemLocation();
    return location.isEmpty() ? QStringLiteral("/dev/") + portName : location;
#endif
}

// Holds the link for one run(): taken with an atomic 0 -> 1, released on every way out.
// A worker told to stop while it waits for the link gives up without taking it.
struct LinkHold
{
    LinkHold(std::atomic<int> &lock, const std::atomic<bool> &stop) : busy(lock)
    {
        int expected = 0;
        while (!busy.compare_exchange_strong(expected, 1)) {
            if (stop.load())
                return;
            expected = 0;
            QThread::msleep(std::chrono::milliseconds(linkRetry).count());
        }
        held = true;
    }
    ~LinkHold()
    {
        if (held)
            busy.fetch_sub(1);
    }
    std::atomic<int> &busy;
    bool held = false;
    LinkHold(const LinkHold &) = delete;
    LinkHold &operator=(const LinkHold &) = delete;
};

} // namespace

cComPort::cComPort(const QString &portName) : QThread(nullptr), ownsPort(true)
{
    serial = new SerialPort;
    path = devicePathFor(portName);
    if (!serial->open(path)) {
        openFailure = serial->lastErrorString();
        if (openFailure.isEmpty())
            openFailure = QStringLiteral("cannot open %1").arg(path);
        qCDebug(lcLink) << "cannot open" << path << openFailure;
        return;
    }
    strayReplies::opened(*serial);
}

cComPort::cComPort(SerialPort *sharedPort) : QThread(nullptr), serial(sharedPort), ownsPort(false)
{
}

cComPort::~cComPort()
{
    // A closed port is no one's any more: nothing to wait for but this worker's own thread.
    while (serial && serial->isOpen() && serial->linkLock().load() != 0)
        QThread::msleep(std::chrono::milliseconds(linkWaitOnDestroy).count());
    wait(); // a running thread must never be destroyed
    if (ownsPort)
        delete serial; // closes it
}

int cComPort::exchange(QByteArray &request, bool pauseBeforeRead)
{
    if (!serial)
        return NoPort;
    if (stopped)
        return NoReply;
    // One exchange per worker: a second call while one is in flight would share its buffer.
    if (exchanging || isRunning()) {
        ++refusedCount;
        return NoReply;
    }
    ++startedCount;

    int result = NoReply;
    buffer = &request;
    resultSlot = &result;
    waitBeforeRead = pauseBeforeRead;
    exchanging = true;

    // `finished` arrives queued on this thread, so it is handled inside exec() even when the
    // worker ends before exec() starts.
    QEventLoop loop;
    connect(this, &QThread::finished, &loop, &QEventLoop::quit);
    start(QThread::HighestPriority);
    if (isRunning() || isFinished())
        loop.exec();
    wait();

    exchanging = false;
    buffer = nullptr;
    resultSlot = nullptr;
    return result;
}

void cComPort::setSendsPerExchange(int count)
{
    sends = std::max(count, 1);
}

void cComPort::setPollsPerAttempt(int count)
{
    polls = std::max(count, 1);
}

bool cComPort::setBaudRate(int baud)
{
    if (!serial)
        return false;
    const bool set = serial->setBaudRate(baud);
    strayReplies::speedChanged(*serial);
    return set;
}

void cComPort::waitProcessingEvents(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void cComPort::run()
{
    QByteArray frame = *buffer;
    encodeFrame(frame);
    LinkHold hold(serial->linkLock(), stopped);
    if (!hold.held) {
        *resultSlot = NoReply;
        return;
    }
    // Replies to an earlier exchange's copies are not this exchange's: they go first.
    // A line its last exchange left clean costs one look at the input queue.
    strayReplies::discardBefore(*serial, stopped);
    tally = LineTally{};
    floodBytes = 0;
    *resultSlot = talk(frame);
    if (floodBytes > 0)
        logNote(QStringLiteral("%1 bytes of noise not shown").arg(floodBytes));
    tally.cutShort = stopped.load();
    strayReplies::noteAfter(*serial, tally, *resultSlot == Ok);
}

// Sends `frame` up to nine times and returns the exchange's result.
int cComPort::talk(const QByteArray &frame)
{
    // A port that never opened or has gone away can neither send nor hear: waiting out
    // nine attempts on it would only freeze the operator's window for nothing.
    if (!serial->isOpen() || serial->isGone())
        return NoReply;
    for (int attempt = 0; attempt < sends && !stopped; ++attempt) {
        send(frame);
        if (serial->isGone())
            return NoReply;
        if (waitBeforeRead)
            QThread::msleep(std::chrono::milliseconds(settleAfterSend).count());
        buffer->clear();
        switch (collectReply(*buffer)) {
        case Heard::Frame:
            return decodeFrame(*buffer);
        case Heard::PortGone:
            return NoReply;
        case Heard::Nothing:
            break;
        }
    }
    return NoReply;
}

void cComPort::send(const QByteArray &frame)
{
    logFrame("out", frame);
    serial->write(frame);
    // The drain returns once the line has sent the frame. A driver that still counts bytes
    // after it (an adapter's own buffer) gets, once, the time they take at the line's speed.
    serial->flush();
    const qint64 queued = serial->bytesToWrite();
    if (queued > 0 && !serial->isGone())
        QThread::usleep(lineTime(queued, serial->baudRate()).count());
    // Stamped when the copy has left: the replies owed to it are counted from here.
    tally.sent();
}

// Listens for one reply: the first complete frame after the send. A poll is a window of
// 15 ms: it counts when it passes without useful bytes; bytes that extend the reply end it
// early, uncounted, and a new one starts. Bytes before the first '!' are noise (glitches of
// a line turning round) and are dropped, the reply starting at the '!'; a chunk of noise
// alone leaves the window running, so a noisy line still gets its full 21 x 15 ms of
// listening. What follows the reply's carriage return belongs to later copies.
cComPort::Heard cComPort::collectReply(QByteArray &reply)
{
    int counted = 0;
    auto windowEnd = Clock::now() + pollInterval;
    while (counted < polls && !stopped) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(windowEnd - Clock::now());
        if (left.count() > 0 && serial->waitForReadyRead(int(left.count()))) {
            const QByteArray chunk = serial->readAll();
            logHeard(chunk);
            tally.heard(chunk);
            if (!takeReplyBytes(reply, chunk))
                continue;
            if (reply.back() == frameByte::end) {
                tally.replyBytes = reply.size();
                return Heard::Frame;
            }
            if (reply.size() > maxReplySize) {
                tally.unused(); // the reply is thrown away
                return Heard::Nothing;
            }
            windowEnd = Clock::now() + pollInterval;
            continue;
        }
        if (serial->isGone())
            return Heard::PortGone;
        // A wait that failed early (not a time-out) must not turn into a busy loop.
        if (Clock::now() < windowEnd)
            QThread::usleep(
                std::chrono::duration_cast<std::chrono::microseconds>(windowEnd - Clock::now())
                    .count());
        ++counted;
        windowEnd = Clock::now() + pollInterval;
    }
    return Heard::Nothing;
}

// A piece of bytes goes to the trace as it is, unless it is more noise than any reply can be
// (a server sending without end): that is counted, and noted once at the exchange's end.
void cComPort::logHeard(const QByteArray &chunk)
{
    if (chunk.size() > maxReplySize && !chunk.contains(frameByte::replyStart))
        floodBytes += chunk.size();
    else
        logFrame("in", chunk);
}

// Adds what `chunk` holds of the reply to `reply`: from its first '!' while the reply has
// not begun, up to and with the first carriage return. False when it held nothing of it.
bool cComPort::takeReplyBytes(QByteArray &reply, const QByteArray &chunk)
{
    if (chunk.isEmpty())
        return false;
    qsizetype from = 0;
    if (reply.isEmpty()) {
        from = chunk.indexOf(frameByte::replyStart);
        if (from < 0) {
            tally.unused();
            return false;
        }
        if (from > 0)
            tally.unused(); // noise before the reply
    }
    const qsizetype end = chunk.indexOf(frameByte::end, from);
    const qsizetype upTo = end < 0 ? chunk.size() : end + 1;
    if (upTo < chunk.size())
        tally.unused(); // later replies, or the start of one
    reply += chunk.mid(from, upTo - from);
    return true;
}
