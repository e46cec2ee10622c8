#pragma once

#include <QByteArray>
#include <chrono>
#include <deque>

// The unit's side of the line: bytes waiting for their moment to go out, and the babble
// stream. Used by one thread.
class LineOutput
{
public:
    using Clock = std::chrono::steady_clock;

    static constexpr int babblePieceBytes = 64;
    static constexpr std::chrono::milliseconds babblePause{10};

    // Queues `bytes` to go out at `due`, and never before the bytes queued earlier: the unit
    // answers its requests in the order they came, so a reply held back holds back the
    // ones behind it, which then go out together (a unit that stalls, then catches up).
    void schedule(const QByteArray &bytes, Clock::time_point due);
    // Starts '!' and hex digits without end, `limit` bytes at most, in pieces.
    void startBabble(int limit, Clock::time_point now);
    void stopBabble() { babbleLeft = 0; }
    void clear();

    // Milliseconds until the next bytes are due (0 when overdue), -1 when nothing waits.
    int msUntilDue(Clock::time_point now) const;
    // Takes every byte due by `now`, in order.
    QByteArray takeDue(Clock::time_point now);

private:
    struct Pending
    {
        Clock::time_point due;
        QByteArray bytes;
    };
    std::deque<Pending> pending;
    int babbleLeft = 0;
    int babbleSent = 0;
    Clock::time_point babbleNext;
};
