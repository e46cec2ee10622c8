#include "strayreplies.h"

#include "exchangetiming.h"
#include "frameformat.h"
#include "linklog.h"
#include "serialport.h"

#include <QHash>
#include <algorithm>
#include <mutex>
#include <utility>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr char frameEnd = frameByte::end;
// The longest the worker listens for one request: nine attempts of 21 polls of 15 ms. The
// replies owed by a unit that may answer any copy late are looked for this long.
constexpr auto wholeExchange = exchangeTiming::quietExchange;
// Added to the lateness a unit has shown: the scheduling and the line's own jitter.
constexpr auto lateMargin = 100ms;
// A reply that ends within this long after a copy went out (plus the reply's own time on
// the line) answers that copy: the copies before it were lost, not answered late.
constexpr auto promptReply = 60ms;
// How many exchanges in a row a unit must answer without a sign of lateness, and how long
// since the last such sign, before a second copy is taken as a lost first one.
constexpr int promptRunNeeded = 3;
constexpr auto lateMemory = 30s;
// Once every owed reply has come: the line must stay this quiet before the next send, so
// that the tail of a reply in pieces goes too.
constexpr auto settleTime = 30ms;
// A worker told to stop while it waits for late replies lets go within this long.
constexpr auto stopSlice = exchangeTiming::pollInterval;

// What a line's last exchange left behind, and what the line has shown of its unit.
// `clean`: nothing left. Otherwise bytes may wait, and `owed` replies to earlier copies,
// sent at `owedSpeed`, may still come until `lateUntil`; each one that comes gives the next
// `replyWindow` again. `outlivesPort`: they are still waited for on the next port opened on
// the device.
struct Leftovers
{
    bool clean = false;
    bool outlivesPort = false;
    int owed = 0;
    int owedSpeed = 0;
    Clock::time_point lateUntil{};
    Clock::duration replyWindow{};
    int promptRun = 0; // exchanges answered in a row without a sign of lateness
    QByteArray discarded; // the latest bytes dropped before a send, at most discardedKept
    Clock::time_point lateSignAt = Clock::time_point::min();

    bool stillOwed(Clock::time_point now) const { return owed > 0 && now < lateUntil; }
    void sawLateness(Clock::time_point now)
    {
        promptRun = 0;
        lateSignAt = now;
    }
    // The unit has lately shown no lateness: a copy it needed was a lost one.
    bool trustedPrompt(Clock::time_point now) const
    {
        return promptRun >= promptRunNeeded && now >= lateSignAt + lateMemory;
    }
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

void noteLateReplies(const SerialPort &port)
{
    std::lock_guard<std::mutex> hold(lock);
    lines[port.path()].sawLateness(Clock::now());
}

// Bytes dropped before a send, kept (the latest of them) for takeDiscarded().
constexpr int discardedKept = 1024;
void keepDiscarded(const SerialPort &port, const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    std::lock_guard<std::mutex> hold(lock);
    QByteArray &kept = lines[port.path()].discarded;
    kept += bytes;
    if (kept.size() > discardedKept)
        kept.remove(0, kept.size() - discardedKept);
}

// Signs in an answered exchange that its unit answers late: it needed more than one copy
// and its reply came well after the last, or replies of earlier copies came with it.
bool answeredLate(const LineTally &tally, int baud)
{
    const bool afterLastCopy = tally.firstEnd - tally.lastSend >
                               promptReply + exchangeTiming::timeOnTheLine(tally.replyBytes, baud);
    return (tally.sends > 1 && afterLastCopy) || tally.frameEnds > 1;
}

// Reads and drops bytes until `owed` reply ends have come and the line has been quiet for
// the settle time, or until `lateUntil`, or until `stop` is set. A unit that works through
// its requests one after the other sends the late copies one delay apart: each reply that
// comes gives the next one `window` again. Returns the reply ends heard.
int waitOutOwed(SerialPort &port, int owed, Clock::time_point lateUntil, Clock::duration window,
                const std::atomic<bool> &stop)
{
    int heard = 0;
    auto quietUntil = Clock::now() + settleTime;
    for (auto now = Clock::now(); now < lateUntil && !stop.load(); now = Clock::now()) {
        if (owed <= 0 && now >= quietUntil)
            break; // every owed reply is in and the line has settled
        // In slices, so that a stopped worker lets go within one of them.
        const auto target = owed > 0 ? lateUntil : std::min(lateUntil, quietUntil);
        const auto until = std::min(target, now + stopSlice);
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now);
        if (!port.waitForReadyRead(int(std::max<qint64>(left.count(), 1)))) {
            if (port.isGone() || !port.isOpen())
                break;
            continue;
        }
        const QByteArray bytes = port.readAll();
        if (bytes.isEmpty())
            break;
        logFrame("late", bytes);
        keepDiscarded(port, bytes);
        quietUntil = Clock::now() + settleTime;
        const int ends = int(bytes.count(frameEnd));
        heard += ends;
        owed -= ends;
        if (ends > 0 && owed > 0)
            lateUntil = std::max(lateUntil, Clock::now() + window);
    }
    return heard;
}

// What an exchange that heard its unit leaves owed, and for how long.
void noteAnswered(Leftovers &left, const LineTally &tally, int baud)
{
    const auto now = Clock::now();
    if (answeredLate(tally, baud))
        left.sawLateness(now);
    else
        ++left.promptRun;
    left.owed = std::max(0, tally.sends - tally.frameEnds);
    left.replyWindow = left.trustedPrompt(now) ? tally.lateness() + lateMargin : wholeExchange;
    left.lateUntil = std::max(tally.lastEnd, tally.lastSend) + left.replyWindow;
}

} // namespace

void LineTally::sent()
{
    lastSend = Clock::now();
    if (sends++ == 0)
        firstSend = lastSend;
}

void LineTally::heard(const QByteArray &bytes)
{
    const int ends = int(bytes.count(frameEnd));
    if (ends == 0)
        return;
    lastEnd = Clock::now();
    if (frameEnds == 0)
        firstEnd = lastEnd;
    frameEnds += ends;
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
    // A new connection learns its unit afresh, unless replies to the last one's copies are
    // still on their way: then that unit is still the one answering.
    if (!left.outlivesPort || !left.stillOwed(Clock::now()))
        left = Leftovers{};
    left.clean = false; // bytes may wait on a port just opened
}

void discardBefore(SerialPort &port, const std::atomic<bool> &stop)
{
    const Leftovers left = leftoversOf(port);
    if (!port.isOpen() || port.isGone())
        return;
    // A clean line can still have been given a reply since (a unit that answered a request
    // twice, a late reply no record foresaw): taken as the next reply, it would shift every
    // answer after it by one request. One look at the input queue tells.
    if (left.clean && port.bytesAvailable() == 0)
        return;
    int lateEnds = 0;
    if (left.owedSpeed == port.baudRate() && left.stillOwed(Clock::now()))
        lateEnds = waitOutOwed(port, left.owed, left.lateUntil, left.replyWindow, stop);
    const QByteArray waiting = port.readAll();
    if (!waiting.isEmpty())
        logFrame("late", waiting);
    keepDiscarded(port, waiting);
    if (lateEnds + waiting.count(frameEnd) > 0)
        noteLateReplies(port);
}

void noteAfter(const SerialPort &port, const LineTally &tally, bool answered)
{
    std::lock_guard<std::mutex> hold(lock);
    Leftovers &left = lines[port.path()];
    left.clean = tally.leftLineClean(answered);
    left.outlivesPort = tally.mayBeAnsweredLater(answered);
    left.owedSpeed = port.baudRate();
    if (tally.frameEnds > 0) {
        noteAnswered(left, tally, left.owedSpeed);
    } else if (tally.cutShort) {
        // Stopped before the unit was heard: how late it is, nobody knows yet.
        left.owed = tally.sends;
        left.replyWindow = wholeExchange;
        left.lateUntil = tally.lastSend + wholeExchange;
    } else {
        left.owed = 0; // silent, not slow
    }
}

QByteArray takeDiscarded(const SerialPort &port)
{
    std::lock_guard<std::mutex> hold(lock);
    const auto it = lines.find(port.path());
    return it == lines.end() ? QByteArray() : std::exchange(it->discarded, QByteArray());
}

void speedChanged(const SerialPort &port)
{
    std::lock_guard<std::mutex> hold(lock);
    auto it = lines.find(port.path());
    if (it != lines.end())
        it->clean = false;
}

} // namespace strayReplies
