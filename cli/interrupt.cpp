#include "interrupt.h"

#include <QEventLoop>
#include <QList>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <utility>

namespace {

QList<std::function<void()>> actions;

// The actions, on the thread of the event loop; each once.
void runActions()
{
    const QList<std::function<void()>> due = std::exchange(actions, {});
    for (const std::function<void()> &action : due)
        action();
}

} // namespace

#ifdef Q_OS_WIN
// No pipe to wake the event loop: the waits look at the flag every few milliseconds.
namespace {

std::atomic<bool> raised{false};
constexpr int flagCheckMs = 50;

void onSignal(int)
{
    raised.store(true);
}

} // namespace

namespace interrupt {

void install()
{
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    auto *check = new QTimer; // lives as long as the program
    QObject::connect(check, &QTimer::timeout, [] {
        if (requested())
            runActions();
    });
    check->start(flagCheckMs);
}

bool requested()
{
    return raised.load();
}

bool wait(int ms)
{
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&loop] {
        if (requested())
            loop.quit();
    });
    check.start(flagCheckMs);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    if (!requested())
        loop.exec();
    return !requested();
}

} // namespace interrupt

#else
#include <QSocketNotifier>
#include <fcntl.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};
std::atomic<bool> raised{false};
QSocketNotifier *notifier = nullptr;

// Only what is safe in a signal handler: a flag and one byte into the pipe.
void onSignal(int)
{
    raised.store(true);
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &byte, 1);
}

} // namespace

namespace interrupt {

void install()
{
    if (notifier || ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    // Wakes whatever event loop is waiting; the loops look at requested() themselves.
    notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char bytes[16];
        while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
        }
        runActions();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

bool requested()
{
    return raised.load();
}

bool wait(int ms)
{
    if (requested())
        return false;
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    const QMetaObject::Connection stop =
        notifier ? QObject::connect(notifier, &QSocketNotifier::activated, &loop, &QEventLoop::quit)
                 : QMetaObject::Connection();
    loop.exec();
    QObject::disconnect(stop);
    return !requested();
}

} // namespace interrupt
#endif

void interrupt::whenRequested(const std::function<void()> &action)
{
    actions << action;
    if (requested())
        runActions();
}
