// vertal-bench-commission: vertal-cli at the speed of the wire, beside its defaults, run as
// a script runs it (a child process) against the simulator (a child process).
//
// scan of addresses 1..247 at 115200 with --tries 1 --listen 30 on a line with one unit:
// the wall time beside 246 silent attempts of 30 ms plus the unit's round trips (its probe
// and its confirmation); the default scan of the same (246 attempts of 315 ms) with --full.
// find --quick --listen 30 of a unit at 115200, beside the default search (with --full).
// config save of a unit with three input boards at 4800: the wall time less a program that
// only starts and leaves, beside the sum of the round trips of its six requests.
//
//   vertal-bench-commission [--full]

#include "benchreport.h"
#include "clirun.h"
#include "commandset.h"
#include "exchangeresult.h"
#include "percentiles.h"
#include "processclock.h"
#include "rawclient.h"
#include "simchild.h"

#include <QCoreApplication>
#include <QList>
#include <QProcess>
#include <cstdio>
#include <vector>

namespace {

constexpr int listenMs = 30;
constexpr int scannedAddresses = 247;

bool startSim(SimChild &sim, const QStringList &args)
{
    QString error;
    if (sim.start(args, &error) && sim.holdLine())
        return true;
    std::fprintf(stderr, "simulator: %s\n", qPrintable(error));
    return false;
}

bool benchScan(bool full)
{
    SimChild sim;
    if (!startSim(sim, {"--speed", "115200", "--address", "1"}))
        return false;
    const QString path = sim.devicePath();
    const QStringList scan{"scan",        "--port", path,      "--speed", "115200",
                           "--addresses", "1-247",  "--tries", "1"};
    const double quick = timeCli(scan + QStringList{"--listen", QString::number(listenMs)});
    const double trips =
        roundTripsMs(path, 115200, {command::readBoards(1), command::readBoards(1)});
    const double budget = (scannedAddresses - 1) * listenMs + trips;
    report("commission.scan_listen", quick, "ms", 1);
    report("commission.scan_listen_budget", budget, "ms", 1);
    report("commission.scan_listen_over_budget_percent", (quick - budget) / budget * 100, "%", 1);
    if (full)
        report("commission.scan_default", timeCli(scan), "ms", 0);
    return quick > 0 && trips > 0;
}

bool benchFind(bool full)
{
    SimChild sim;
    if (!startSim(sim, {"--speed", "115200", "--address", "1"}))
        return false;
    const QStringList find{"find", "--port", sim.devicePath()};
    const double quick =
        timeCli(find + QStringList{"--quick", "--listen", QString::number(listenMs)});
    report("commission.find_quick", quick, "ms", 1);
    if (full)
        report("commission.find_default", timeCli(find), "ms", 0);
    return quick > 0;
}

bool benchSave()
{
    SimChild sim;
    if (!startSim(sim, {"--speed", "4800", "--address", "1", "--boards", "0x95"}))
        return false;
    const QString path = sim.devicePath();
    std::vector<double> saves, starts;
    for (int i = 0; i < 5; ++i) {
        saves.push_back(timeCli({"config", "save", "--port", path, "--speed", "4800"}));
        starts.push_back(timeCli({"--version"}));
    }
    const double save = summarize(saves).median;
    const double start = summarize(starts).median;
    const double trips = roundTripsMs(path, 4800,
                                      {command::readBoards(0), command::readAddress(),
                                       command::readVersion(1), command::readAlarmRele(1, 1),
                                       command::readAlarmRele(1, 2), command::readAlarmRele(1, 3)});
    report("commission.save_4800", save, "ms", 1);
    report("commission.save_start_and_exit", start, "ms", 1);
    report("commission.save_round_trips", trips, "ms", 2);
    report("commission.save_rest", save - start - trips, "ms", 2);
    return save > 0 && trips > 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const bool full = app.arguments().contains(QStringLiteral("--full"));
    const bool scanned = benchScan(full);
    const bool found = benchFind(full);
    const bool saved = benchSave();
    return scanned && found && saved ? 0 : 1;
}
