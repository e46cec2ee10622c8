#include "interrupt.h"

#include "networkline.h"

#include <QEventLoop>
#include <QList>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <utility>

namespace {

QList<std::function<void()>> actions;
// The signal's number, kept by the handler for endBySignal() (0: none came).
std::atomic<int> lastSignal{0};
// Set once the command reads requested() itself.
bool takenOver = false;

// The actions, on the thread of the event loop; each once.
void runActions()
{
    const QList<std::function<void()>> due = std::exchange(actions, {});
    for (const std::function<void()> &action : due)
        action();
}

// In the event loop, after a signal.
void react()
{
    if (!takenOver)
        interrupt::endBySignal();
    runActions();
}

} // namespace

#ifdef Q_OS_WIN
// No pipe to wake the event loop: the waits look at the flag every few milliseconds.
namespace {

std::atomic<bool> raised{false};
constexpr int flagCheckMs = 50;
// What a console program ended by its Ctrl-C returns (STATUS_CONTROL_C_EXIT).
constexpr unsigned controlCExit = 0xC000013A;

void onSignal(int signo)
{
    lastSignal.store(signo);
    NetworkLine::abortAttempts();
    raised.store(true);
}

} // namespace

namespace interrupt {

void install()
{
    static bool installed = false;
    if (std::exchange(installed, true))
        return;
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    auto *check = new QTimer; // lives as long as the program
    QObject::connect(check, &QTimer::timeout, [] {
        if (requested())
            react();
    });
    check->start(flagCheckMs);
}

bool requested()
{
    return raised.load();
}

void endBySignal()
{
    std::_Exit(int(controlCExit));
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
#include <initializer_list>
#include <pthread.h>

namespace {

QSocketNotifier *notifier = nullptr;
// The pipe's own handler, called by ours (set before ours is installed, read only by it).
void (*pipeHandler)(int) = nullptr;

// Only what is safe in a handler: the number kept, every connection attempt ended (both
// atomic stores), then the pipe's handler, which marks the signal and wakes the event loop.
void onSignal(int signo)
{
    lastSignal.store(signo);
    NetworkLine::abortAttempts();
    pipeHandler(signo);
}

// Puts onSignal in front of the handlers the pipe installed.
void chainHandlers(std::initializer_list<int> signos)
{
    for (const int signo : signos) {
        struct sigaction current = {};
        if (::sigaction(signo, nullptr, &current) != 0 || (current.sa_flags & SA_SIGINFO) ||
            current.sa_handler == SIG_DFL || current.sa_handler == SIG_IGN)
            continue;
        pipeHandler = current.sa_handler;
        current.sa_handler = onSignal;
        ::sigaction(signo, &current, nullptr);
    }
}

} // namespace

namespace interrupt {

void install()
{
    if (notifier)
        return;
    const std::initializer_list<int> signos{SIGINT, SIGTERM, SIGHUP};
    // Wakes whatever event loop is waiting; the loops look at requested() themselves.
    notifier = signalPipe::install(signos, signalPipe::SecondSignal::Caught, react);
    if (notifier)
        chainHandlers(signos);
}

bool requested()
{
    return signalPipe::raised();
}

void endBySignal()
{
    const int signo = lastSignal.load() ? lastSignal.load() : SIGINT;
    struct sigaction plain = {};
    plain.sa_handler = SIG_DFL;
    sigemptyset(&plain.sa_mask);
    ::sigaction(signo, &plain, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signo);
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signo);
    std::_Exit(128 + signo); // a signal whose default is not to end the program
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

void interrupt::takeOver()
{
    takenOver = true;
}

void interrupt::whenRequested(const std::function<void()> &action)
{
    actions << action;
    if (requested())
        runActions();
}
