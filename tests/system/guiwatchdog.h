#pragma once

#include <QObject>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Fails the run when the GUI thread stops answering: a timer on the GUI thread beats every
// 100 ms (it fires in every nested event loop too, so waits that process events count as
// answering); a thread of its own looks at the last beat and, when it is older than the
// limit, calls `onHang` (from the watchdog's thread) and ends the process with exit code 3.
class GuiWatchdog : public QObject
{
    Q_OBJECT
public:
    explicit GuiWatchdog(std::chrono::milliseconds limit);
    ~GuiWatchdog() override;

    void start();
    void stop();
    // Longest silence of the GUI thread seen so far.
    std::chrono::milliseconds longestSilence() const;

    std::function<void(std::chrono::milliseconds silence)> onHang;

private:
    using Clock = std::chrono::steady_clock;
    void watch();
    static qint64 nowMs();

    std::chrono::milliseconds limit;
    QTimer beat;
    std::atomic<qint64> lastBeatMs{0};
    std::atomic<qint64> longestMs{0};
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::thread thread;
};
