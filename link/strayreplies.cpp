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

// What a line's last exchange left behind. `clean`: nothing. Otherwise bytes may wait, and
// `owed` replies to earlier copies may still come until `lateUntil`.
struct Leftovers
{
    bool clean = false;
    int owed = 0;
    Clock::time_point lateUntil{};
};

std::mutex lock;
QHash<const SerialPort *, Leftovers> lines;

// A line never seen before is unclean: bytes may wait on a port just opened.
Leftovers leftoversOf(const SerialPort &port)
{
    std::lock_guard<std::mutex> hold(lock);
    return lines.value(&port, Leftovers{});
}

// Reads and drops bytes until `owed` reply ends have come and the line has been quiet for
// the settle time, or until `lateUntil`. A unit that works through its requests one after
// the other sends the late copies one delay apart, not one attempt apart: each reply that
// comes gives the next one the full time again.
void waitOutOwed(SerialPort &port, int owed, Clock::time_point lateUntil)
{
    for (auto now = Clock::now(); now < lateUntil; now = Clock::now()) {
        const auto until = owed > 0 ? lateUntil : std::min(lateUntil, now + settleTime);
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now);
        if (!port.waitForReadyRead(int(std::max<qint64>(left.count(), 1))))
            return; // quiet long enough, owed replies given up, or the port is gone
        const QByteArray bytes = port.readAll();
        if (bytes.isEmpty())
            return;
        logFrame("late", bytes);
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

namespace strayReplies {

void discardBefore(SerialPort &port)
{
    const Leftovers left = leftoversOf(port);
    if (left.clean || !port.isOpen() || port.isGone())
        return;
    if (left.owed > 0 && Clock::now() < left.lateUntil)
        waitOutOwed(port, left.owed, left.lateUntil);
    const QByteArray waiting = port.readAll();
    if (!waiting.isEmpty())
        logFrame("late", waiting);
}

void noteAfter(const SerialPort &port, const LineTally &tally, bool answered)
{
    Leftovers left;
    left.clean = tally.leftLineClean(answered);
    left.owed = std::max(0, tally.sends - tally.frameEnds);
    left.lateUntil = tally.lastSend + lateReplyLimit;
    std::lock_guard<std::mutex> hold(lock);
    lines.insert(&port, left);
}

void forgetOwed(const SerialPort &port)
{
    std::lock_guard<std::mutex> hold(lock);
    auto it = lines.find(&port);
    if (it == lines.end())
        return;
    it->owed = 0;
    it->clean = false;
}

void forget(const SerialPort &port)
{
    std::lock_guard<std::mutex> hold(lock);
    lines.remove(&port);
}

} // namespace strayReplies
