// vertal-bench-idle: what the wizard costs while it is connected and polls the unit:
// CPU time per wall time of the whole process (percent of one core), of its GUI thread
// alone, and resident memory (VmRSS) at the start, the end and the most seen, over a
// window of N seconds. With --dialog the current value dialog is opened first (through
// its button) and stays open for the window. The simulator runs as a child process; its
// CPU is reported on its own.
//
//   vertal-bench-idle [--seconds N] [--dialog]

#include "benchreport.h"
#include "linktrace.h"
#include "mainwindow.h"
#include "processclock.h"
#include "simchild.h"
#include "wizardsession.h"

#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

using namespace std::chrono_literals;
// After connecting (or opening the dialog) the first ticks allocate what they keep.
constexpr auto settleTime = 3s;
constexpr auto memorySampleInterval = 5s;
constexpr auto dialogWait = 2s;

struct Figures
{
    double wall = 0;
    double cpu = 0;
    double guiCpu = 0;
    double simCpu = 0;
    long rss = 0;
};

Figures sample(const SimChild &sim)
{
    return {monotonicSeconds(), selfCpuSeconds(), threadCpuSeconds(), sim.cpuSeconds(),
            residentKiB()};
}

// The dialog the value button opened: the active modal widget that is not a message box.
QDialog *openDialog()
{
    auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
    return dialog && !qobject_cast<QMessageBox *>(dialog) ? dialog : nullptr;
}

} // namespace

int main(int argc, char *argv[])
{
    useOffscreenByDefault();
    QApplication app(argc, argv);
    int seconds = 60;
    bool withDialog = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--dialog") == 0)
            withDialog = true;
        else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            seconds = std::max(1, std::atoi(argv[++i]));
    }
    const char *prefix = withDialog ? "idle.dialog." : "idle.main.";
    auto key = [prefix](const char *what) { return std::string(prefix) + what; };

    SimChild sim;
    QString error;
    if (!sim.start({}, &error) || !sim.holdLine()) {
        std::fprintf(stderr, "vertal-bench-idle: %s\n", qPrintable(error));
        return 1;
    }
    WizardSession session(sim.devicePath());
    LinkTrace trace;
    if (!session.choosePort() || (session.pressStart(), !session.connected()) ||
        !session.window().isPolling()) {
        std::fprintf(stderr, "vertal-bench-idle: not connected (%s)\n",
                     qPrintable(session.messages().join(QStringLiteral("; "))));
        return 1;
    }

    QEventLoop run;
    bool dialogShown = false;
    Figures start;
    Figures end;
    long rssMax = 0;
    int framesSent = 0;
    QTimer memory;
    QObject::connect(&memory, &QTimer::timeout, [&] { rssMax = std::max(rssMax, residentKiB()); });

    // The whole run is driven from timers, because the dialog (when asked for) runs its own
    // modal loop inside this one.
    QTimer::singleShot(0, [&] {
        if (withDialog && session.valueButton()->isEnabled())
            session.valueButton()->click(); // returns when the dialog closes
    });
    const auto measureFrom = (withDialog ? dialogWait : 0s) + settleTime;
    QTimer::singleShot(measureFrom, Qt::PreciseTimer, &run, [&] {
        dialogShown = openDialog() != nullptr;
        start = sample(sim);
        rssMax = start.rss;
        trace.clear();
        memory.start(memorySampleInterval);
    });
    QTimer::singleShot(measureFrom + std::chrono::seconds(seconds), Qt::PreciseTimer, &run, [&] {
        end = sample(sim);
        framesSent = trace.framesSent(start.wall, end.wall);
        memory.stop();
        rssMax = std::max(rssMax, end.rss);
        if (QDialog *dialog = openDialog())
            dialog->reject();
        run.quit();
    });
    run.exec();

    const bool stillConnected = session.connected() && session.messages().isEmpty();
    const double wall = end.wall - start.wall;
    if (withDialog)
        report(key("dialog_open").c_str(), dialogShown ? 1 : 0, "", 0);
    report(key("seconds").c_str(), wall, "s");
    report(key("cpu_percent").c_str(), (end.cpu - start.cpu) / wall * 100, "%", 3);
    report(key("gui_thread_cpu_percent").c_str(), (end.guiCpu - start.guiCpu) / wall * 100, "%", 3);
    report(key("simulator_cpu_percent").c_str(), (end.simCpu - start.simCpu) / wall * 100, "%", 3);
    report(key("rss_start").c_str(), double(start.rss) / 1024, "MiB", 2);
    report(key("rss_end").c_str(), double(end.rss) / 1024, "MiB", 2);
    report(key("rss_max").c_str(), double(rssMax) / 1024, "MiB", 2);
    report(key("frames_per_second").c_str(), framesSent / wall, "/s", 2);
    report(key("still_connected").c_str(), stillConnected ? 1 : 0, "", 0);
    return stillConnected ? 0 : 2;
}
