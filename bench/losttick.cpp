// vertal-bench-losttick: what one lost frame costs the status poll. Connected and polling,
// the simulator is told to leave one request unanswered (`fault noanswer`); the tick that
// meets it is answered at its second copy. Measured from that tick's first copy to the
// first copy of the next tick: the poll's 500 ms and the one attempt the lost copy was
// listened for are the protocol's own; a wait for a reply the unit will never send shows
// on top. Several rounds; the longest is the figure.
//
//   vertal-bench-losttick [--rounds N]

#include "benchreport.h"
#include "exchangetiming.h"
#include "linktrace.h"
#include "mainwindow.h"
#include "processclock.h"
#include "simchild.h"
#include "wizardsession.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

using namespace std::chrono_literals;
constexpr auto settleTime = 2s;
constexpr auto roundTime = 2500ms; // the lost tick, its second copy, the next ticks
// The poll's interval and one attempt's listening, in seconds.
constexpr double budget = 0.5 + std::chrono::duration<double>(exchangeTiming::quietAttempt).count();

// In the entries from `from` on: the first request sent twice in a row (its first copy
// unanswered) and the next request after the reply that ended it. False if not seen.
bool tickAfterLostFrame(const std::vector<LinkTrace::Entry> &entries, double from, double &interval)
{
    int outsInARow = 0;
    double lostTick = -1;
    bool answered = false;
    for (const LinkTrace::Entry &e : entries) {
        if (e.time < from)
            continue;
        if (answered) {
            if (e.out) {
                interval = e.time - lostTick;
                return true;
            }
            continue;
        }
        if (e.out && outsInARow++ == 0)
            lostTick = e.time;
        else if (e.endsFrame && outsInARow >= 2)
            answered = true;
        else if (e.endsFrame)
            outsInARow = 0;
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    useOffscreenByDefault();
    QApplication app(argc, argv);
    int rounds = 5;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));

    SimChild sim;
    QString error;
    if (!sim.start({}, &error) || !sim.holdLine()) {
        std::fprintf(stderr, "vertal-bench-losttick: %s\n", qPrintable(error));
        return 1;
    }
    WizardSession session(sim.devicePath());
    LinkTrace trace;
    if (!session.choosePort() || (session.pressStart(), !session.connected())) {
        std::fprintf(stderr, "vertal-bench-losttick: not connected (%s)\n",
                     qPrintable(session.messages().join(QStringLiteral("; "))));
        return 1;
    }

    double longest = 0;
    int measured = 0;
    QEventLoop wait;
    QTimer::singleShot(settleTime, &wait, &QEventLoop::quit);
    wait.exec();
    for (int round = 0; round < rounds && session.connected(); ++round) {
        const double from = monotonicSeconds();
        sim.command("fault noanswer");
        QTimer::singleShot(roundTime, &wait, &QEventLoop::quit);
        wait.exec();
        double interval = 0;
        if (tickAfterLostFrame(trace.entries(), from, interval)) {
            longest = std::max(longest, interval);
            ++measured;
        }
    }
    const bool stillConnected = session.connected() && session.messages().isEmpty();
    report("losttick.rounds", measured, "", 0);
    report("losttick.next_tick", longest * 1e3, "ms", 1);
    report("losttick.budget", budget * 1e3, "ms", 1);
    report("losttick.still_connected", stillConnected ? 1 : 0, "", 0);
    return stillConnected && measured == rounds ? 0 : 2;
}
