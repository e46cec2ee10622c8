#include "quitonsignals.h"

#include <QApplication>

#ifdef Q_OS_UNIX

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int endingSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Written by the signal handler, read by the event loop: the only things a handler may do
// safely are plain system calls.
int signalPipe[2] = {-1, -1};

void setHandler(void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signo : endingSignals)
        ::sigaction(signo, &action, nullptr);
}

void onEndingSignal(int signo)
{
    const int savedErrno = errno;
    const char byte = char(signo);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    // The next one is not caught: an operator who presses Ctrl-C twice means it.
    struct sigaction plain = {};
    plain.sa_handler = SIG_DFL;
    sigemptyset(&plain.sa_mask);
    for (int s : endingSignals)
        ::sigaction(s, &plain, nullptr);
    errno = savedErrno;
}

void endProgram()
{
    char byte;
    while (::read(signalPipe[0], &byte, 1) > 0) {
    }
    // Modal boxes and dialogs first, then the main window: its connection ends as when
    // the operator closes it, and the application leaves its event loops.
    QApplication::closeAllWindows();
    QCoreApplication::exit(0);
}

} // namespace

void quitOnSignals()
{
    if (signalPipe[0] >= 0 || ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) < 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, endProgram);
    setHandler(onEndingSignal);
}

#else

void quitOnSignals() {}

#endif
