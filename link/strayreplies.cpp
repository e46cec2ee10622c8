#include "strayreplies.h"

#include "exchangetiming.h"
#include "frameformat.h"
#include "linklog.h"
#include "serialport.h"

#include <QHash>
#include <algorithm>
#include <mutex>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr char frameEnd = frameByte::end;
// The longest the worker listens for one request: nine attempts of 21 polls of 15 ms. A
// copy's reply is looked for this long after the last copy went out. A unit whose delay
// stays under one attempt never gets a second copy, so a healthy line never waits.
constexpr auto lateReplyLimit = exchangeTiming::quietExchange;
// Once every owed reply has come: the line must stay this quiet before the next send, so
// that the tail of a reply in pieces goes too.
constexpr auto settleTime = 30ms;
// A worker told to stop while it waits for late replies lets go within this long.
constexpr auto stopSlice = exchangeTiming::pollInterval;

// What a line's last exchange left behind. `clean`: nothing. Otherwise bytes may wait, and
// `owed` replies to earlier copies, sent at `owedSpeed`, may still come until `lateUntil`.
// `outlivesPort`: they are still waited for on the next port opened on the device.
struct Leftovers
{
    bool clean = false;
    bool outlivesPort = false;
    int owed = 0;
    int owedSpeed = 0;
    Clock::time_point lateUntil{};

    bool stillOwed(Clock::time_point now) const { return owed > 0 && now < lateUntil; }
};

std::mutex lock;
// By device: the record outlives the port, so that the next port opened on the device
// inherits what its predecessor still owes.
QHash<QString, Leftovers> lines;

// A line never seen before is unclean: bytes may wait on a port just opened.
Leftovers leftoversOf(const SerialPort &port)
{
    std::lock_guard<std::mutex> hold(lock);
    return lines.value(port.path(), Leftovers{});
}

// Reads and drops bytes until `owed` reply ends have come and the line has been quiet for
// the settle time, or until `lateUntil`, or until `stop` is set. A unit that works through
// its requests one after the other sends the late copies one delay apart, not one attempt
// apart: each reply that comes gives the next one the full time again.
void waitOutOwed(SerialPort &port, int owed, Clock::time_point lateUntil,
                 const std::atomic<bool> &stop)
{
    auto quietUntil = Clock::now() + settleTime;
    for (auto now = Clock::now(); now < lateUntil && !stop.load(); now = Clock::now()) {
        if (owed <= 0 && now >= quietUntil)
            return; // every owed reply is in and the line has settled
        // In slices, so that a stopped worker lets go within one of them.
        const auto target = owed > 0 ? lateUntil : std::min(lateUntil, quietUntil);
        const auto until = std::min(target, now + stopSlice);
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now);
        if (!port.waitForReadyRead(int(std::max<qint64>(left.count(), 1)))) {
            if (port.isGone() || !port.isOpen())
                return;
            continue;
        }
        const QByteArray bytes = port.readAll();
        if (bytes.isEmpty())
            return;
        logFrame("late", bytes);
        quietUntil = Clock::now() + settleTime;
        const int ends = int(bytes.count(frameEnd));
        owed -= ends;
        if (ends > 0 && owed > 0)
            lateUntil = std::max(lateUntil, Clock::now() + lateReplyLimit);
    }
}

} // namespace

void LineTally::sent()
{
    ++sends;
    lastSend = Clock::now();
}

void LineTally::heard(const QByteArray &bytes, bool used)
{
    frameEnds += int(bytes.count(frameEnd));
    unusedBytes = unusedBytes || (!used && !bytes.isEmpty());
}

bool LineTally::leftLineClean(bool answered) const
{
    return answered && sends == 1 && frameEnds == 1 && !unusedBytes;
}

bool LineTally::mayBeAnsweredLater(bool answered) const
{
    return answered || frameEnds > 0 || cutShort;
}

namespace strayReplies {

void opened(const SerialPort &port)
{
    std::lock_guard<std::mutex> hold(lock);
    Leftovers &left = lines[port.path()];
    left.clean = false; // bytes may wait on a port just opened
    if (!left.outlivesPort || !left.stillOwed(Clock::now()))
        left.owed = 0;
}

void discardBefore(SerialPort &port, const std::atomic<bool> &stop)
{
    const Leftovers left = leftoversOf(port);
    if (left.clean || !port.isOpen() || port.isGone())
        return;
    if (left.owedSpeed == port.baudRate() && left.stillOwed(Clock::now()))
        waitOutOwed(port, left.owed, left.lateUntil, stop);
    const QByteArray waiting = port.readAll();
    if (!waiting.isEmpty())
        logFrame("late", waiting);
}

void noteAfter(const SerialPort &port, const LineTally &tally, bool answered)
{
    std::lock_guard<std::mutex> hold(lock);
    Leftovers &left = lines[port.path()];
    left.clean = tally.leftLineClean(answered);
    left.outlivesPort = tally.mayBeAnsweredLater(answered);
    left.owed = std::max(0, tally.sends - tally.frameEnds);
    left.owedSpeed = port.baudRate();
    left.lateUntil = tally.lastSend + lateReplyLimit;
}

void speedChanged(const SerialPort &port)
{
    std::lock_guard<std::mutex> hold(lock);
    auto it = lines.find(port.path());
    if (it != lines.end())
        it->clean = false;
}

} // namespace strayReplies
