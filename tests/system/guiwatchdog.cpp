#include "guiwatchdog.h"

#include <cstdlib>

namespace {
constexpr std::chrono::milliseconds beatInterval{100};
constexpr std::chrono::milliseconds lookInterval{50};
} // namespace

GuiWatchdog::GuiWatchdog(std::chrono::milliseconds limit) : limit(limit)
{
    beat.setInterval(beatInterval);
    connect(&beat, &QTimer::timeout, this, [this] {
        const qint64 now = nowMs();
        const qint64 silence = now - lastBeatMs.exchange(now);
        if (silence > longestMs.load())
            longestMs = silence;
    });
}

GuiWatchdog::~GuiWatchdog()
{
    stop();
}

void GuiWatchdog::start()
{
    lastBeatMs = nowMs();
    beat.start();
    thread = std::thread([this] { watch(); });
}

void GuiWatchdog::stop()
{
    beat.stop();
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    if (thread.joinable())
        thread.join();
}

std::chrono::milliseconds GuiWatchdog::longestSilence() const
{
    return std::chrono::milliseconds(std::max(longestMs.load(), nowMs() - lastBeatMs.load()));
}

void GuiWatchdog::watch()
{
    std::unique_lock<std::mutex> lock(mutex);
    while (!wake.wait_for(lock, lookInterval, [this] { return stopping; })) {
        const std::chrono::milliseconds silence(nowMs() - lastBeatMs.load());
        if (silence <= limit)
            continue;
        if (onHang)
            onHang(silence);
        std::_Exit(3);
    }
}

qint64 GuiWatchdog::nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
        .count();
}
