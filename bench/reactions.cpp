// vertal-bench-reactions: how soon the link and vertal-cli react where a test bounds the
// time it takes: a line that went away, a lost copy, a babbling line, the window's timer
// during the longest exchange, a signal to vertal-cli, a document too large. Each case is
// played as its test plays it, `--runs` times; the median and the longest are printed.
// The tests' bounds stand at three times the longest or more (BENCHMARKS.md, "What the
// tests' time bounds rest on").
//
//   vertal-bench-reactions [--runs N]   (default 5)

#include "benchreport.h"
#include "ccomport.h"
#include "exchangeresult.h"
#include "percentiles.h"
#include "processclock.h"
#include "scriptedpeer.h"
#include "serialport.h"
#include "servedunit.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

const QByteArray versionRequest = QByteArray::fromHex("0126");
const QByteArray promptRequest = QByteArray::fromHex("0120");

double msSince(double startSeconds)
{
    return (monotonicSeconds() - startSeconds) * 1000;
}

// link/tst_serialport, deviceGoneIsReported: two waits for bytes after the far end hung up.
double goneLineReported()
{
    ScriptedPeer peer;
    SerialPort port;
    if (!port.open(peer.slavePath()))
        return -1;
    peer.hangUpNow();
    const double start = monotonicSeconds();
    if (port.waitForReadyRead(3000) || !port.isGone() || port.waitForReadyRead(3000))
        return -1;
    return msSince(start);
}

// link/tst_ccomport, openFailureIsReported: an exchange on a port that did not open.
double exchangeWithoutPort()
{
    cComPort worker(QStringLiteral("/dev/vertal-no-such-port"));
    QByteArray buffer = versionRequest;
    const double start = monotonicSeconds();
    return worker.exchange(buffer, false) == NoReply ? msSince(start) : -1;
}

// link/tst_ccomport, nothingOwedIsNotWaitedFor: the exchange after one whose first copy
// was lost (`sends` 9) or a scan's silent probe (`sends` 1).
double nextAfterLostCopy(int sends)
{
    constexpr int lostRequest = 3;
    ScriptedPeer peer;
    peer.setScript([](int index, const QByteArray &) {
        return index == lostRequest ? ScriptedPeer::silence() : ScriptedPeer::reply("!0B\r");
    });
    cComPort worker(peer.slavePath());
    worker.setSendsPerExchange(sends);
    for (int i = 0; i < lostRequest; ++i) {
        QByteArray prompt = promptRequest;
        if (worker.exchange(prompt, false) != Ok)
            return -1;
    }
    QByteArray missed = versionRequest;
    worker.exchange(missed, false);
    QByteArray next = promptRequest;
    const double start = monotonicSeconds();
    return worker.exchange(next, false) == Ok ? msSince(start) : -1;
}

// link/tst_ccomport, noAnswerSendsNineCopies: the longest gap between two beats of a 10 ms
// timer of the window's thread while an exchange waits out its nine copies.
double timerGapInLongestExchange()
{
    ScriptedPeer peer;
    cComPort worker(peer.slavePath());
    qint64 longestGap = 0;
    QElapsedTimer sinceTick;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout,
                     [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
    QByteArray buffer = versionRequest;
    sinceTick.start();
    timer.start(10);
    const int result = worker.exchange(buffer, false);
    timer.stop();
    return result == NoReply ? double(longestGap) : -1;
}

// link/tst_ccomport, babblerIsCutOff: a line that sends a reply's start without end.
double babblerCutOff()
{
    ScriptedPeer peer;
    peer.setScript([](int index, const QByteArray &) {
        ScriptedPeer::Answer answer;
        answer.babble = index == 0;
        return answer;
    });
    cComPort worker(peer.slavePath());
    QByteArray buffer = versionRequest;
    const double start = monotonicSeconds();
    const int result = worker.exchange(buffer, false);
    const double ms = msSince(start);
    peer.stopBabbling();
    return result != Ok ? ms : -1;
}

// link/tst_ccomport, unplugEndsExchange: the far end hangs up in the middle of its reply
// (`whichMs` 0), and the next exchange on that dead line (1).
double unplugMidReply(int which)
{
    ScriptedPeer peer;
    peer.setScript([](int, const QByteArray &) {
        ScriptedPeer::Answer answer{{{0, "!01"}}};
        answer.hangUp = true;
        answer.hangUpPauseMs = 50;
        return answer;
    });
    cComPort worker(peer.slavePath());
    double ms = -1;
    for (int i = 0; i <= which; ++i) {
        QByteArray buffer = versionRequest;
        const double start = monotonicSeconds();
        if (worker.exchange(buffer, false) != NoReply)
            return -1;
        ms = msSince(start);
    }
    return ms;
}

// link/tst_ccomport, unplugEndsExchange: the simulated unit's line hung up as it reads the
// request.
double simulatedUnplug()
{
    ServedUnit served;
    if (!served.serve())
        return -1;
    served.server->injectFault(Fault::of(FaultKind::Unplug));
    cComPort worker(served.linkPath());
    worker.setBaudRate(ServedUnit::speed);
    QByteArray buffer = ServedUnit::readVersion;
    const double start = monotonicSeconds();
    return worker.exchange(buffer, false) == NoReply ? msSince(start) : -1;
}

// A unit at `address`, 4800 baud, as the console program's tests serve it.
UnitState cliUnit(int address)
{
    UnitState state;
    state.address = quint8(address);
    state.lineSpeed = 4800;
    state.boardMap = 0x19;
    return state;
}

// The well-formed frames the unit has received for `address`.
int framesFor(const UnitServer &server, int address)
{
    int count = 0;
    for (const ReceivedFrame &frame : server.receivedFrames())
        count += frame.wellFormed && quint8(frame.payload.at(0)) == address;
    return count;
}

// Milliseconds from the signal to the end of vertal-cli; -1 when it did not end.
double signalToEnd(QProcess &cli, int signo)
{
    const double start = monotonicSeconds();
    ::kill(pid_t(cli.processId()), signo);
    return cli.waitForFinished(10000) ? msSince(start) : -1;
}

// Polls `done` (the simulator logs from a thread of its own) for up to ten seconds.
bool waitFor(const std::function<bool()> &done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

// cli/tst_cli, interruptEndsTheSearch: Ctrl-C in a search on a line where nobody answers.
double cliSignalInSearch()
{
    ServedUnit served;
    if (!served.serve(cliUnit(1)))
        return -1;
    QProcess cli;
    cli.start(QStringLiteral(VERTAL_CLI_PATH),
              {"find", "--port", served.linkPath(), "--address", "9"});
    if (!waitFor([&] { return !served.server->receivedFrames().isEmpty(); }))
        return -1;
    return signalToEnd(cli, SIGINT);
}

// cli/tst_cli, scanStopsOnInterrupt: Ctrl-C in a scan before any unit answered, the probe
// of the next address on the line.
double cliScanInterrupted()
{
    ServedUnit served;
    if (!served.serve(cliUnit(1)))
        return -1;
    QProcess cli;
    cli.start(QStringLiteral(VERTAL_CLI_PATH),
              {"scan", "--port", served.linkPath(), "--addresses", "2-32", "--json", "--speed",
               "4800", "--tries", "1"});
    if (!cli.waitForReadyRead(10000) || !waitFor([&] { return framesFor(*served.server, 3); }))
        return -1;
    return signalToEnd(cli, SIGINT);
}

// cli/tst_cli, configLoadReadsAtMostOneMiB: a document refused for its size, read from
// `file` (a device without end, or a file a byte beyond 1 MiB when empty).
double cliOversizeDocument(QString file)
{
    QTemporaryDir dir;
    if (file.isEmpty()) {
        file = dir.filePath(QStringLiteral("unit.json"));
        QFile padded(file);
        if (!padded.open(QIODevice::WriteOnly) ||
            padded.write(QByteArray(1024 * 1024 + 1, ' ')) != 1024 * 1024 + 1)
            return -1;
    }
    QProcess cli;
    const double start = monotonicSeconds();
    cli.start(QStringLiteral(VERTAL_CLI_PATH),
              {"config", "load", file, "--port", dir.filePath(QStringLiteral("no-line")), "--speed",
               "4800", "--address", "1"});
    if (!cli.waitForFinished(60000) || cli.exitCode() != 2)
        return -1;
    return msSince(start);
}

struct Case
{
    const char *key;
    std::function<double()> run;
};

// Runs `c` `runs` times and prints its median and longest; false when a run failed.
bool measure(const Case &c, int runs)
{
    std::vector<double> samples;
    for (int i = 0; i < runs; ++i) {
        const double ms = c.run();
        if (ms < 0) {
            std::fprintf(stderr, "%s: run %d failed\n", c.key, i + 1);
            return false;
        }
        samples.push_back(ms);
    }
    const QByteArray key(c.key);
    report((key + ".median").constData(), summarize(samples).median, "ms", 1);
    report((key + ".max").constData(), *std::max_element(samples.begin(), samples.end()), "ms", 1);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = std::max(1, intOption(app.arguments(), QStringLiteral("--runs"), 5));
    const std::vector<Case> cases = {
        {"react.gone_line_two_waits", goneLineReported},
        {"react.exchange_without_port", exchangeWithoutPort},
        {"react.next_after_lost_copy", [] { return nextAfterLostCopy(9); }},
        {"react.next_after_silent_probe", [] { return nextAfterLostCopy(1); }},
        {"react.timer_gap_nine_copies", timerGapInLongestExchange},
        {"react.babbler_cut_off", babblerCutOff},
        {"react.hang_up_mid_reply", [] { return unplugMidReply(0); }},
        {"react.dead_line_exchange", [] { return unplugMidReply(1); }},
        {"react.simulated_unplug", simulatedUnplug},
        {"react.cli_signal_in_search", cliSignalInSearch},
        {"react.cli_scan_interrupted", cliScanInterrupted},
        {"react.cli_document_from_dev_zero", [] { return cliOversizeDocument("/dev/zero"); }},
        {"react.cli_document_beyond_1mib", [] { return cliOversizeDocument(QString()); }},
    };
    report("react.runs", runs, "", 0);
    bool ok = true;
    for (const Case &c : cases)
        ok = measure(c, runs) && ok;
    return ok ? 0 : 1;
}
