#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <chrono>

class SerialPort;

// What one exchange did on its line, counted by the worker as it goes: how many copies of
// the request went out and when, how many reply ends (carriage returns) came back and
// when, and whether any bytes were read that the reply did not use.
struct LineTally
{
    using Clock = std::chrono::steady_clock;

    int sends = 0;
    int frameEnds = 0;
    bool unusedBytes = false;
    // Ended by the worker's stop before it had listened its whole time.
    bool cutShort = false;
    Clock::time_point firstSend{};
    Clock::time_point lastSend{};
    Clock::time_point firstEnd{}; // the first reply end heard
    Clock::time_point lastEnd{};
    qsizetype replyBytes = 0; // the frame taken as the reply, '!' to carriage return

    // A copy has gone out onto the line (drained).
    void sent();
    // Bytes read from the line; their reply ends are counted and stamped.
    void heard(const QByteArray &bytes);
    // Some of the bytes read are not part of the reply (noise, or later replies).
    void unused() { unusedBytes = true; }
    // True when the line holds nothing of this exchange any more: one copy sent, one reply
    // frame heard, every byte read used, and the exchange ended Ok.
    bool leftLineClean(bool answered) const;
    // True when replies to its copies may still come after its port is closed: the unit was
    // heard, or the exchange was cut short. A unit that answered nothing in a whole
    // exchange is taken as not answering.
    bool mayBeAnsweredLater(bool answered) const;
    // The longest the unit can have taken to answer: from the first copy to the first reply.
    Clock::duration lateness() const { return firstEnd - firstSend; }
};

// Replies that arrive after their exchange has ended: a unit that answers later than one
// attempt answers every copy of the request, and those copies must not be read as the
// replies of the next exchange. The worker notes after each exchange what its copies may
// still bring, on the line itself (two workers share one port), and clears it before the
// next first send. A line whose last exchange was answered at the first send, cleanly,
// costs one look at the input queue and no wait; bytes found there are discarded. Replies still owed when a port is closed (the
// connection ended while the unit was slow to answer) are owed to the next port opened on
// the same device: the unit answers whoever listens.
//
// How long an owed reply is waited for follows what the line has shown of its unit. A unit
// that has answered promptly for a while and then needs a second copy has most likely lost
// the first one: its owed reply is waited for only as long as its lateness in that exchange
// can explain (a lost frame costs a fraction of a second, not a whole exchange). A unit that
// has lately answered late (a reply well after every copy, replies of earlier copies heard)
// may answer any copy late: its owed replies get a whole exchange's listening time. An
// exchange that heard nothing owes nothing: the unit is silent, not slow.
//
// Threads: every function may be called from any thread; the link lock keeps the
// discarding and the noting of one line to one exchange at a time.
namespace strayReplies {

// `port` has just been opened. It takes over the replies still owed to copies sent by a
// port closed on the same device, and what the line has shown of its unit; otherwise the
// line starts afresh.
void opened(const SerialPort &port);
// Before an exchange's first send. Discards the bytes waiting on `port` (a new port counts
// as unclean: bytes may wait there unseen); when the line's last exchange's copies still
// owe replies and went out at the speed the line has now, also waits for them (discarding)
// until all have come and the line has settled, or until the time the line allows them
// has passed, or until `stop` is set (within 15 ms).
void discardBefore(SerialPort &port, const std::atomic<bool> &stop);
// After an exchange on `port`: what it may have left on the line. `answered`: it ended Ok.
void noteAfter(const SerialPort &port, const LineTally &tally, bool answered);
// The bytes discarded before the sends on `port`'s line since the last call (the latest
// 1 KiB of them): a scan that asks address after address learns from them which unit
// answered late, after its own attempt had ended and before the next one began.
QByteArray takeDiscarded(const SerialPort &port);
// The line speed changed: what waits is discarded before the next send. Replies owed to
// copies sent at another speed are not waited for (they will not arrive as frames).
void speedChanged(const SerialPort &port);

} // namespace strayReplies
