#include "quitonsignals.h"

#include <QApplication>

#ifdef Q_OS_UNIX

#include "signalpipe.h"

#include <csignal>

namespace {

void endProgram()
{
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
