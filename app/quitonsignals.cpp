#include "quitonsignals.h"

#include <QApplication>

#ifdef Q_OS_UNIX

#include "networkline.h"
#include "signalpipe.h"

#include <csignal>

namespace {

void endProgram()
{
    // A connection being made to a serial server (its name, its answers) ends at once.
    NetworkLine::abortAttempts();
    // Modal boxes and dialogs first, then the main window: its connection ends as when
    // the operator closes it, and the application leaves its event loops.
    QApplication::closeAllWindows();
    QCoreApplication::exit(0);
}

} // namespace

void quitOnSignals()
{
    signalPipe::install({SIGINT, SIGTERM, SIGHUP}, signalPipe::SecondSignal::EndsProgram,
                        endProgram);
}

#else

void quitOnSignals() {}

#endif
