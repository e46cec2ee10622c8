#pragma once

#include <QtGlobal>
#include <chrono>

// How long the exchange worker listens for the unit, and how much it sends: the one home of
// these figures, from which tests and benchmarks derive their budgets too.
namespace exchangeTiming {

using namespace std::chrono_literals;

constexpr int sends = 9;                   // copies of a request before giving up (default)
constexpr int countedPollsPerAttempt = 21; // quiet polls that end one attempt
constexpr auto pollInterval = 15ms;        // listening without useful bytes that counts as one poll
constexpr auto settleAfterSend = 600ms;    // optional pause before listening
// A real reply frame is at most a few dozen bytes; a "reply" growing past this is a babbling
// line and the attempt ends as if nothing came. Small enough that at 4800 baud (480 bytes/s)
// a babbler costs about half a second per attempt, not seconds.
constexpr qsizetype maxReplySize = 256;

// Bits a byte takes on the line at 8N1: a start bit, 8 data bits, a stop bit.
constexpr int bitsPerByte = 10;
// How long `bytes` bytes take on the line at `baud` (none when the speed is not known).
constexpr std::chrono::microseconds timeOnTheLine(qint64 bytes, int baud)
{
    return std::chrono::microseconds(baud > 0 ? bytes * bitsPerByte * 1'000'000 / baud : 0);
}

// The counted polls that listen about `ms` milliseconds: rounded to whole polls, one at least.
constexpr int pollsFor(int ms)
{
    const int pollMs = int(std::chrono::milliseconds(pollInterval).count());
    return ms + pollMs / 2 < pollMs ? 1 : (ms + pollMs / 2) / pollMs;
}

// One attempt's listening when the line stays quiet (315 ms).
constexpr auto quietAttempt = countedPollsPerAttempt * pollInterval;
// A whole exchange's listening when the line stays quiet throughout (2835 ms).
constexpr auto quietExchange = sends * quietAttempt;

} // namespace exchangeTiming
