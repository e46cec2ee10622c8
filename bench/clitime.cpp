// vertal-bench-cli: what vertal-cli costs a script, run as the script runs it (a child
// process), against the simulator as a child process.
//
// find at 4800 (address 0, so board map, address and version: three exchanges): the wall
// time of the whole program, beside the time of a program that only starts and leaves
// (vertal-cli --version) and the sum of the round trips of the same three requests made
// by the reference client on the same line. What is left is the program's own work.
//
// scan of 32 addresses with --tries 1 on a line with three units: the wall time beside
// its budget, one attempt (21 polls of 15 ms) for every address that does not answer.
//
//   vertal-bench-cli [--runs N]   (medians of N runs, default 10)

#include "benchreport.h"
#include "clirun.h"
#include "commandset.h"
#include "exchangeresult.h"
#include "exchangetiming.h"
#include "frametrace.h"
#include "percentiles.h"
#include "processclock.h"
#include "rawclient.h"
#include "simchild.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr double attemptBudgetMs = double(exchangeTiming::quietAttempt.count());
constexpr int scanAddresses = 32;
constexpr int unitsOnScanLine = 3;
constexpr int referenceRounds = 200;

double medianOfRuns(int runs, const QStringList &args)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i)
        times.push_back(timeCli(args));
    return summarize(times).median;
}

// Median over many rounds of the sum of the round trips of find's three requests.
double findRoundTripsMs(const QString &path)
{
    return roundTripsMs(path, 4800,
                        {command::readBoards(0), command::readAddress(), command::readVersion(1)},
                        referenceRounds);
}

// From a trace of one find: milliseconds from the connection header to the first frame
// out (`toFirst`) and from there to the last reply in (`onLine`); false if unreadable.
bool traceSpans(const QString &path, double &toFirst, double &onLine)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    auto stampOf = [](const QString &line, int at) {
        return QDateTime::fromString(line.mid(at, 23), traceStampFormat);
    };
    if (lines.size() < 3 || !lines.first().startsWith('#'))
        return false;
    const QDateTime header = stampOf(lines.first(), int(lines.first().size()) - 23);
    const QDateTime first = stampOf(lines[1], 0);
    const QDateTime last = stampOf(lines.last(), 0);
    toFirst = double(header.msecsTo(first));
    onLine = double(first.msecsTo(last));
    return header.isValid() && first.isValid() && last.isValid();
}

bool benchFind(int runs)
{
    SimChild sim;
    QString error;
    if (!sim.start({"--speed", "4800", "--address", "1"}, &error) || !sim.holdLine()) {
        std::fprintf(stderr, "simulator: %s\n", qPrintable(error));
        return false;
    }
    const QString path = sim.devicePath();
    const double find = medianOfRuns(runs, {"find", "--port", path});
    const double startOnly = medianOfRuns(runs, {"--version"});
    const double roundTrips = findRoundTripsMs(path);
    QTemporaryDir dir;
    const QString trace = dir.filePath("find.trace");
    double toFirst = -1;
    double onLine = -1;
    if (timeCli({"find", "--port", path, "--trace", trace}) > 0)
        traceSpans(trace, toFirst, onLine);
    report("cli.runs", runs, "", 0);
    report("cli.find_4800", find, "ms", 2);
    report("cli.start_and_exit", startOnly, "ms", 2);
    report("cli.find_round_trips", roundTrips, "ms", 3);
    report("cli.find_rest", find - startOnly - roundTrips, "ms", 2);
    report("cli.find_trace_to_first_frame", toFirst, "ms", 0);
    report("cli.find_trace_first_to_last_frame", onLine, "ms", 0);
    return find > 0 && startOnly > 0 && roundTrips > 0;
}

bool benchScan()
{
    SimChild sim;
    QString error;
    if (!sim.start({"--speed", "4800", "--address", "1,2,5"}, &error) || !sim.holdLine()) {
        std::fprintf(stderr, "simulator: %s\n", qPrintable(error));
        return false;
    }
    const double scan = timeCli({"scan", "--port", sim.devicePath(), "--speed", "4800",
                                 "--addresses", "1-32", "--tries", "1"});
    const double budget = (scanAddresses - unitsOnScanLine) * attemptBudgetMs;
    report("cli.scan_32", scan, "ms", 1);
    report("cli.scan_32_budget", budget, "ms", 1);
    report("cli.scan_32_over_budget", scan - budget, "ms", 1);
    return scan > 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int runs = 10;
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == QLatin1String("--runs"))
        runs = std::max(1, args[2].toInt());
    const bool found = benchFind(runs);
    const bool scanned = benchScan();
    return found && scanned ? 0 : 1;
}
