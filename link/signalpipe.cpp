#include "signalpipe.h"

#include <QCoreApplication>
#include <QList>
#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Written by the signal handler, read by the event loop.
int pipeEnds[2] = {-1, -1};
std::atomic<bool> signalled{false};
// Set before the handlers, read only by them.
QList<int> caughtSignals;
bool secondEndsProgram = false;

void restoreDefaults()
{
    struct sigaction plain = {};
    plain.sa_handler = SIG_DFL;
    sigemptyset(&plain.sa_mask);
    for (const int signo : caughtSignals)
        ::sigaction(signo, &plain, nullptr);
}

// Only what is safe in a signal handler: an atomic flag and plain system calls.
void onCaughtSignal(int signo)
{
    const int savedErrno = errno;
    signalled.store(true);
    const char byte = char(signo);
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &byte, 1);
    if (secondEndsProgram)
        restoreDefaults();
    errno = savedErrno;
}

void drainPipe()
{
    char bytes[16];
    while (::read(pipeEnds[0], bytes, sizeof bytes) > 0) {
    }
}

} // namespace

QSocketNotifier *signalPipe::install(std::initializer_list<int> signos, SecondSignal second,
                                     const std::function<void()> &onSignal)
{
    if (pipeEnds[0] >= 0 || ::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) < 0)
        return nullptr;
    caughtSignals = QList<int>(signos);
    secondEndsProgram = second == SecondSignal::EndsProgram;
    auto *notifier = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [onSignal] {
        drainPipe();
        onSignal();
    });
    struct sigaction action = {};
    action.sa_handler = onCaughtSignal;
    sigemptyset(&action.sa_mask);
    // The calls a signal interrupts go on; the waits on the line handle EINTR themselves.
    action.sa_flags = SA_RESTART;
    for (const int signo : caughtSignals)
        ::sigaction(signo, &action, nullptr);
    return notifier;
}

bool signalPipe::raised()
{
    return signalled.load();
}
