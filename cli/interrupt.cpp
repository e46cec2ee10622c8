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
#include "signalpipe.h"

#include <QSocketNotifier>

namespace {

QSocketNotifier *notifier = nullptr;

} // namespace

namespace interrupt {

void install()
{
    if (notifier)
        return;
    // Wakes whatever event loop is waiting; the loops look at requested() themselves.
    notifier = signalPipe::install({SIGINT, SIGTERM, SIGHUP}, signalPipe::SecondSignal::Caught,
                                   runActions);
}

bool requested()
{
    return signalPipe::raised();
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
