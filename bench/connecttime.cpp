// vertal-bench-connect: time from pressing "Старт" to "Стоп" shown, and to the end of the
// search (version and alarm relay read, poll started), with the unit at a given speed.
// The real MainWindow, offscreen; the simulator runs as a child process.
//
// Beside the wall time it gives what the line itself took (the round trips of the
// answered requests, from the link's frame log), the CPU the process used meanwhile, and
// at the speeds where the search first fails, how long the failed speeds took against the
// protocol's budget (9 attempts x 21 polls x 15 ms each).
//
//   vertal-bench-connect [--runs N] [BAUD...]   (default: 4800 115200; medians of N runs)

#include "benchreport.h"
#include "exchangetiming.h"
#include "linespeeds.h"
#include "linktrace.h"
#include "mainwindow.h"
#include "percentiles.h"
#include "processclock.h"
#include "simchild.h"
#include "wizardsession.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>
#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <numeric>

namespace {

constexpr auto scanOrder = unitLineSpeeds;
constexpr double attemptBudget = exchangeTiming::quietAttempt.count() / 1e3; // seconds
constexpr int attemptsPerExchange = exchangeTiming::sends;
constexpr int paintWaitMs = 2000;

// Notes when the start button is first painted reading "Стоп".
class StopPainted : public QObject
{
public:
    double time = -1;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (time < 0 && event->type() == QEvent::Paint &&
            static_cast<QPushButton *>(watched)->text() == QStringLiteral("Стоп")) {
            // Painted once the paint event has been handled; note it then.
            QTimer::singleShot(0, this, [this] {
                if (time < 0)
                    time = monotonicSeconds();
            });
        }
        return QObject::eventFilter(watched, event);
    }
};

int speedIndex(int baud)
{
    for (std::size_t i = 0; i < scanOrder.size(); ++i) {
        if (scanOrder[i] == baud)
            return int(i);
    }
    return -1;
}

std::string key(int baud, const char *what)
{
    return "connect." + std::to_string(baud) + "." + what;
}

// The figures of several runs, reported as their medians in the order first added.
class FigureSet
{
public:
    void add(const std::string &key, double value, const char *unit, int decimals = 1)
    {
        if (!values.count(key))
            order.push_back({key, unit, decimals});
        values[key].push_back(value);
    }
    void reportMedians() const
    {
        for (const Format &f : order)
            report(f.key.c_str(), summarize(values.at(f.key)).median, f.unit, f.decimals);
    }

private:
    struct Format
    {
        std::string key;
        const char *unit;
        int decimals;
    };
    std::vector<Format> order;
    std::map<std::string, std::vector<double>> values;
};

// One search against a unit at `baud`; false when the unit was not found.
bool measureConnect(int baud, FigureSet &figures)
{
    SimChild sim;
    QString error;
    if (!sim.start({QStringLiteral("--speed"), QString::number(baud)}, &error)) {
        std::fprintf(stderr, "vertal-bench-connect: %s\n", qPrintable(error));
        return false;
    }
    if (!sim.holdLine()) {
        std::fprintf(stderr, "vertal-bench-connect: cannot hold %s\n",
                     qPrintable(sim.devicePath()));
        return false;
    }
    WizardSession session(sim.devicePath());
    if (!session.choosePort()) {
        std::fprintf(stderr, "vertal-bench-connect: the window does not list %s\n",
                     qPrintable(sim.devicePath()));
        return false;
    }
    LinkTrace trace;
    StopPainted stop;
    session.startButton()->installEventFilter(&stop);
    QCoreApplication::processEvents(); // the window is up and painted before the press

    const double cpuStart = selfCpuSeconds();
    const double guiCpuStart = threadCpuSeconds();
    const double guiQueuedStart = threadRunQueueSeconds();
    const double start = monotonicSeconds();
    session.pressStart();
    const double done = monotonicSeconds();
    const double cpu = selfCpuSeconds() - cpuStart;
    const double guiCpu = threadCpuSeconds() - guiCpuStart;
    const double guiQueued = threadRunQueueSeconds() - guiQueuedStart;
    if (stop.time < 0) {
        QEventLoop wait;
        QTimer::singleShot(paintWaitMs, &wait, &QEventLoop::quit);
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, &wait, [&] {
            if (stop.time >= 0)
                wait.quit();
        });
        check.start(1);
        wait.exec();
    }
    if (!session.connected() || !session.window().isPolling()) {
        std::fprintf(stderr, "vertal-bench-connect: no connection at %d baud (%s)\n", baud,
                     qPrintable(session.messages().join(QStringLiteral("; "))));
        return false;
    }

    const std::vector<double> trips = trace.roundTrips(start, done);
    const double linkTime = std::accumulate(trips.begin(), trips.end(), 0.0);
    const int failedSpeeds = speedIndex(baud);
    const int failedFrames = failedSpeeds * attemptsPerExchange;
    figures.add(key(baud, "stop_shown"), (stop.time - start) * 1e3, "ms");
    figures.add(key(baud, "search_done"), (done - start) * 1e3, "ms");
    figures.add(key(baud, "frames_sent"), trace.framesSent(start, done), "", 0);
    figures.add(key(baud, "exchanges_answered"), double(trips.size()), "", 0);
    figures.add(key(baud, "answered_round_trips"), linkTime * 1e3, "ms", 2);
    figures.add(key(baud, "cpu"), cpu * 1e3, "ms");
    figures.add(key(baud, "gui_thread_cpu"), guiCpu * 1e3, "ms");
    // On a shared machine the GUI thread also waits for a CPU that other programs hold.
    figures.add(key(baud, "gui_thread_queued"), guiQueued * 1e3, "ms", 2);
    // Neither on the line nor working on (or queued for) the GUI thread: the worker
    // threads' own time around the line (start, framing, hand-back) and any idle wait.
    figures.add(key(baud, "unaccounted"), (done - start - linkTime - guiCpu - guiQueued) * 1e3,
                "ms", 2);
    QStringList each;
    for (double t : trips)
        each << QString::number(t * 1e3, 'f', 2);
    std::fprintf(stderr, "connect at %d: answered round trips (ms): %s\n", baud,
                 qPrintable(each.join(QLatin1Char(' '))));
    if (failedSpeeds > 0) {
        // The failed speeds end when the first frame at the unit's speed goes out.
        const double firstAnswered = trace.sendTime(failedFrames, start);
        const double budget = failedSpeeds * attemptsPerExchange * attemptBudget;
        figures.add(key(baud, "failed_speeds"), (firstAnswered - start) * 1e3, "ms");
        figures.add(key(baud, "failed_speeds_budget"), budget * 1e3, "ms");
        figures.add(key(baud, "after_failed_speeds"), (done - firstAnswered) * 1e3, "ms");
        // One attempt: send, then 21 counted polls of 15 ms.
        const double firstSent = trace.sendTime(0, start);
        figures.add(key(baud, "attempt_mean"), (firstAnswered - firstSent) / failedFrames * 1e3,
                    "ms", 2);
        figures.add(key(baud, "attempt_budget"), attemptBudget * 1e3, "ms", 2);
        figures.add(key(baud, "before_first_frame"), (firstSent - start) * 1e3, "ms");
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    useOffscreenByDefault();
    QApplication app(argc, argv);
    QList<int> speeds;
    int runs = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else
            speeds << QByteArray(argv[i]).toInt();
    }
    if (speeds.isEmpty())
        speeds = {4800, 115200};
    for (int baud : speeds) {
        FigureSet figures;
        for (int run = 0; run < runs; ++run) {
            if (speedIndex(baud) < 0 || !measureConnect(baud, figures))
                return 1;
        }
        figures.reportMedians();
        if (runs > 1)
            report(key(baud, "runs").c_str(), runs, "", 0);
    }
    return 0;
}
