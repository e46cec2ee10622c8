#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <chrono>

class SerialPort;

// What one exchange did on its line, counted by the worker as it goes: how many copies of
// the request went out, how many reply ends (carriage returns) came back, and whether any
// bytes were read that the reply did not use.
struct LineTally
{
    int sends = 0;
    int frameEnds = 0;
    bool unusedBytes = false;
    // Ended by the worker's stop before it had listened its whole time.
    bool cutShort = false;
    std::chrono::steady_clock::time_point lastSend{};

    void sent();
    // `used`: the bytes became part of the reply buffer.
    void heard(const QByteArray &bytes, bool used);
    // True when the line holds nothing of this exchange any more: one copy sent, one reply
    // frame heard, every byte read used, and the exchange ended Ok.
    bool leftLineClean(bool answered) const;
    // True when replies to its copies may still come after its port is closed: the unit was
    // heard, or the exchange was cut short. A unit that answered nothing in a whole
    // exchange is taken as not answering.
    bool mayBeAnsweredLater(bool answered) const;
};

// Replies that arrive after their exchange has ended: a unit that answers later than one
// attempt answers every copy of the request, and those copies must not be read as the
// replies of the next exchange. The worker notes after each exchange what its copies may
// still bring, on the line itself (two workers share one port), and clears it before the
// next first send. A line whose last exchange was answered at the first send, cleanly,
// costs nothing: no wait and no system call. Replies still owed when a port is closed (the
// connection ended while the unit was slow to answer) are owed to the next port opened on
// the same device: the unit answers whoever listens.
//
// Threads: every function may be called from any thread; the link lock keeps the
// discarding and the noting of one line to one exchange at a time.
namespace strayReplies {

// `port` has just been opened. It takes over the replies still owed to copies sent by a
// port closed on the same device.
void opened(const SerialPort &port);
// Before an exchange's first send. Discards the bytes waiting on `port` when the line's
// last exchange left it unclean (a new port counts as unclean); when that exchange's
// copies still owe replies and went out at the speed the line has now, also waits for
// them (discarding) until all have come and the line has settled, or until none has come
// for a whole exchange's listening time, or until `stop` is set (within 15 ms).
void discardBefore(SerialPort &port, const std::atomic<bool> &stop);
// After an exchange on `port`: what it may have left on the line. `answered`: it ended Ok.
void noteAfter(const SerialPort &port, const LineTally &tally, bool answered);
// The line speed changed: what waits is discarded before the next send. Replies owed to
// copies sent at another speed are not waited for (they will not arrive as frames).
void speedChanged(const SerialPort &port);

} // namespace strayReplies
