#include "lineoutput.h"

#include <algorithm>

void LineOutput::schedule(const QByteArray &bytes, Clock::time_point due)
{
    if (!pending.empty())
        due = std::max(due, pending.back().due);
    pending.push_back({due, bytes});
}

void LineOutput::startBabble(int limit, Clock::time_point now)
{
    babbleLeft = std::max(limit, 1);
    babbleSent = 0;
    babbleNext = now;
}

void LineOutput::clear()
{
    pending.clear();
    babbleLeft = 0;
}

int LineOutput::msUntilDue(Clock::time_point now) const
{
    Clock::time_point next = Clock::time_point::max();
    if (!pending.empty())
        next = pending.front().due;
    if (babbleLeft > 0)
        next = std::min(next, babbleNext);
    if (next == Clock::time_point::max())
        return -1;
    if (next <= now)
        return 0;
    using namespace std::chrono;
    return int(ceil<milliseconds>(next - now).count());
}

QByteArray LineOutput::takeDue(Clock::time_point now)
{
    QByteArray out;
    while (!pending.empty() && pending.front().due <= now) {
        out += pending.front().bytes;
        pending.pop_front();
    }
    if (babbleLeft > 0 && babbleNext <= now) {
        static const char digits[] = "0123456789ABCDEF";
        const int n = std::min(babbleLeft, babblePieceBytes);
        for (int i = 0; i < n; ++i, ++babbleSent)
            out.append(babbleSent == 0 ? '!' : digits[babbleSent % 16]);
        babbleLeft -= n;
        babbleNext = now + babblePause;
    }
    return out;
}
