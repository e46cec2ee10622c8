// vertal-bench-monitor: what `vertal-cli monitor` costs a site, in one run. Eight units on
// two simulated lines (4 + 4, 9600 baud, each simulator a child process of its own), a real
// Mosquitto on 127.0.0.1, the monitor as the service manager runs it (a child process with a
// configuration file), poll_ms 500, values off.
//
// 1. CPU of the monitor (utime + stime from /proc/PID/stat) over the steady window after a
//    30 s warm-up, as % of one core.
// 2. Its resident memory (VmRSS) every 10 s over that window; then the broker killed while
//    one unit's alarm toggles every 2 s (the events wait in the monitor's bounded queue):
//    memory during the outage, and, once the broker is back, the time until a subscriber
//    has every queued event (in order).
// 3. A change typed at the simulator's console to its event message at a subscriber, both
//    on the monotonic clock the subscriber stamps arrivals with.
// 4. The monitor stopped, the same units read by a shell loop as a user would write it
//    (`vertal-cli status --json | mosquitto_pub` every 500 ms for each unit): the CPU of
//    the loop and all its children per update it published, beside the monitor's.
//
//   vertal-bench-monitor [--minutes N] [--away-minutes N] [--latency-changes N]
//                        [--shell-seconds N]

#include "benchreport.h"
#include "mosquittobroker.h"
#include "mqttwatcher.h"
#include "percentiles.h"
#include "simchild.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <mosquitto.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

constexpr int pollMs = 500;
constexpr int lineCount = 2;
constexpr int unitsPerLine = 4;
constexpr int unitCount = lineCount * unitsPerLine;
constexpr int warmUpMs = 30000;
constexpr int rssSampleMs = 10000;
constexpr int toggleMs = 2000;
// A unit's first state: the search at the line's speed and a whole read, well within this.
constexpr int onlineMs = 30000;
// A change reaches the subscriber within a cycle; this only ends a run that went wrong.
constexpr int eventMs = 10000;
// The monitor's reconnect backoff is at most 30 s; then the queue goes out.
constexpr int redeliveryMs = 120000;
constexpr int stopMs = 15000;

// The alarm that toggles while the broker is away, and the one the latency is measured on.
constexpr int outageLine = 0;
constexpr int outageUnit = 2;
constexpr int latencyLine = 1;
constexpr int latencyUnit = 3;

struct Options
{
    int minutes = 10;
    int awayMinutes = 5;
    int latencyChanges = 100;
    int shellSeconds = 60;
};

QString lineName(int line)
{
    return QStringLiteral("line%1").arg(line + 1);
}

QString topicOf(int line, int address, const char *leaf)
{
    return QStringLiteral("vertal/%1/%2/%3").arg(lineName(line)).arg(address).arg(leaf);
}

// The monitor's CPU seconds (user and system, threads that ended included); -1 when gone.
double statCpuSeconds(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = file.readAll();
    // After the command name in parentheses: state is field 3, utime 14, stime 15.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    const double ticks = double(fields[11].toLongLong() + fields[12].toLongLong());
    return ticks / double(::sysconf(_SC_CLK_TCK));
}

// VmRSS of `pid` in MiB; -1 when it cannot be read.
double residentMiB(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : file.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

// Resident memory samples: the first, the last, the most and the least.
struct MemoryTrace
{
    std::vector<double> samples;
    void add(double mib) { samples.push_back(mib); }
    double first() const { return samples.empty() ? -1 : samples.front(); }
    double last() const { return samples.empty() ? -1 : samples.back(); }
    double max() const { return *std::max_element(samples.begin(), samples.end()); }
    double min() const { return *std::min_element(samples.begin(), samples.end()); }
};

// The site: two simulated lines, the broker, the monitor in front of the lines and behind
// it a subscriber to everything under vertal/ (with an account of its own, so the broker
// can let it in before the monitor).
struct Site
{
    SimChild sims[lineCount];
    MosquittoBroker broker;
    QTemporaryDir dir;
    QProcess monitor;

    bool startLines();
    bool startBroker();
    bool writeConfig() const;
    bool startMonitor();
    bool stopMonitor();
    qint64 pid() const { return monitor.processId(); }
    QString monitorLog() const;
};

bool Site::startLines()
{
    for (SimChild &sim : sims) {
        QString error;
        if (!sim.start({"--address", "1,2,3,4", "--speed", "9600", "--boards", "0x29"}, &error) ||
            !sim.holdLine()) {
            std::fprintf(stderr, "simulator: %s\n", qPrintable(error));
            return false;
        }
    }
    return sims[outageLine].command(QByteArray("unit ") + QByteArray::number(outageUnit)) &&
           sims[latencyLine].command(QByteArray("unit ") + QByteArray::number(latencyUnit));
}

bool Site::startBroker()
{
    MosquittoBroker::Options options;
    options.users = {{"watcher", "watcher-secret"}};
    if (broker.start(options))
        return true;
    std::fprintf(stderr, "broker: %s\n", qPrintable(broker.errorString()));
    return false;
}

bool Site::writeConfig() const
{
    QJsonArray lines;
    for (int i = 0; i < lineCount; ++i)
        lines << QJsonObject{{"name", lineName(i)},
                             {"port", sims[i].devicePath()},
                             {"speed", 9600},
                             {"units", QJsonArray{1, 2, 3, 4}}};
    const QJsonObject mqtt{
        {"url", broker.url()}, {"client_id", "vertal-bench"}, {"base_topic", "vertal"}};
    const QJsonObject config{{"mqtt", mqtt}, {"poll_ms", pollMs}, {"lines", lines}};
    QFile file(dir.filePath("monitor.json"));
    return file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(config).toJson()) > 0;
}

bool Site::startMonitor()
{
    if (!writeConfig())
        return false;
    // What it says goes to a file: a pipe nobody reads could stall it.
    monitor.setStandardOutputFile(dir.filePath("monitor.log"));
    monitor.setStandardErrorFile(dir.filePath("monitor.log"), QIODevice::Append);
    monitor.start(QStringLiteral(VERTAL_CLI_PATH),
                  {"monitor", "--config", dir.filePath("monitor.json")});
    return monitor.waitForStarted(stopMs);
}

bool Site::stopMonitor()
{
    if (monitor.state() == QProcess::NotRunning)
        return false;
    ::kill(pid_t(monitor.processId()), SIGTERM);
    if (monitor.waitForFinished(stopMs))
        return monitor.exitStatus() == QProcess::NormalExit && monitor.exitCode() == 0;
    monitor.kill();
    monitor.waitForFinished(stopMs);
    return false;
}

QString Site::monitorLog() const
{
    QFile file(dir.filePath("monitor.log"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll().right(4000))
                                          : QString();
}

bool allOnline(MqttWatcher &watcher)
{
    for (int line = 0; line < lineCount; ++line)
        for (int address = 1; address <= unitsPerLine; ++address)
            if (!watcher.waitForPayload(topicOf(line, address, "availability"), "online",
                                        onlineMs) ||
                !watcher.waitFor(
                    [&](const QList<MqttMessage> &) {
                        return !watcher.messagesOn(topicOf(line, address, "state")).isEmpty();
                    },
                    onlineMs))
                return false;
    return true;
}

// 1 and 2: CPU and memory over the steady window (nothing changes on the units).
struct SteadyFigures
{
    double cpuSeconds = 0;
    double wallSeconds = 0;
    int published = 0;
};

SteadyFigures measureSteady(Site &site, MqttWatcher &watcher, int minutes)
{
    QTest::qWait(warmUpMs);
    watcher.clear();
    MemoryTrace memory;
    QElapsedTimer wall;
    const double cpuBefore = statCpuSeconds(site.pid());
    wall.start();
    memory.add(residentMiB(site.pid()));
    for (int n = 1; n <= minutes * 60000 / rssSampleMs; ++n) {
        QTest::qWait(int(std::max<qint64>(0, qint64(n) * rssSampleMs - wall.elapsed())));
        memory.add(residentMiB(site.pid()));
    }
    SteadyFigures f;
    f.cpuSeconds = statCpuSeconds(site.pid()) - cpuBefore;
    f.wallSeconds = double(wall.nsecsElapsed()) * 1e-9;
    f.published = int(watcher.messages().size());
    report("monitor.steady_seconds", f.wallSeconds, "s", 1);
    report("monitor.cpu_percent", 100.0 * f.cpuSeconds / f.wallSeconds, "%", 3);
    report("monitor.steady_published", f.published, "", 0);
    report("monitor.rss_samples", double(memory.samples.size()), "", 0);
    report("monitor.rss_first", memory.first(), "MiB", 2);
    report("monitor.rss_last", memory.last(), "MiB", 2);
    report("monitor.rss_max", memory.max(), "MiB", 2);
    report("monitor.rss_spread", memory.max() - memory.min(), "MiB", 2);
    return f;
}

// The events of one unit that arrived, as "from>to".
QStringList eventSteps(const MqttWatcher &watcher, const QString &topic)
{
    QStringList steps;
    for (const MqttMessage &m : watcher.messagesOn(topic)) {
        const QJsonObject e = QJsonDocument::fromJson(m.payload).object();
        steps << e.value("from").toString() + '>' + e.value("to").toString();
    }
    return steps;
}

// The broker away while an alarm toggles every 2 s; `toggles` is how many were made.
void holdOutage(Site &site, int awayMinutes, int &toggles)
{
    MemoryTrace memory;
    memory.add(residentMiB(site.pid()));
    site.broker.kill();
    QElapsedTimer away;
    away.start();
    toggles = 0;
    while (away.elapsed() < qint64(awayMinutes) * 60000) {
        const bool alarm = toggles % 2 == 0;
        site.sims[outageLine].command(alarm ? "status 1 alarm" : "status 1 normal");
        ++toggles;
        QTest::qWait(int(std::max<qint64>(0, qint64(toggles) * toggleMs - away.elapsed())));
        memory.add(residentMiB(site.pid()));
    }
    report("monitor.outage.seconds", double(away.elapsed()) / 1000.0, "s", 1);
    report("monitor.outage.toggles", toggles, "", 0);
    report("monitor.outage.rss_start", memory.first(), "MiB", 2);
    report("monitor.outage.rss_end", memory.last(), "MiB", 2);
    report("monitor.outage.rss_max", memory.max(), "MiB", 2);
}

// Arrival (on the subscriber's clock) of the first message on `topic` with `payload`; -1.
double firstArrival(const MqttWatcher &watcher, const QString &topic, const QByteArray &payload)
{
    for (const MqttMessage &m : watcher.messagesOn(topic))
        if (m.payload == payload)
            return double(m.arrivedMs);
    return -1;
}

// The broker back, first for the subscriber only, so that the queued events find it
// listening; then for the monitor. Times from the restart (`origin`: the subscriber's
// clock): to the monitor's "online" for the bridge (its reconnect backoff) and from there to
// the last queued event. False when they do not all come, once and in order.
bool measureRedelivery(Site &site, MqttWatcher &watcher, const QElapsedTimer &origin, int toggles)
{
    const QString topic = topicOf(outageLine, outageUnit, "event");
    watcher.clear();
    const double restartMs = double(origin.elapsed());
    if (!site.broker.setAllowAnonymous(false) || !site.broker.restart() ||
        !watcher.waitSubscribed(onlineMs) || !site.broker.setAllowAnonymous(true))
        return false;
    const bool all = watcher.waitFor(
        [&](const QList<MqttMessage> &) { return watcher.messagesOn(topic).size() >= toggles; },
        redeliveryMs);
    QStringList expected;
    for (int i = 0; i < toggles; ++i)
        expected << (i % 2 == 0 ? "normal>alarm" : "alarm>normal");
    const QStringList seen = eventSteps(watcher, topic);
    const double onlineAt = firstArrival(watcher, "vertal/bridge/state", "online");
    const double lastAt = all ? double(watcher.messagesOn(topic).last().arrivedMs) : -1;
    report("monitor.outage.events_delivered", double(seen.size()), "", 0);
    report("monitor.outage.in_order", seen == expected ? 1 : 0, "", 0);
    report("monitor.outage.redelivery", lastAt - restartMs, "ms", 0);
    report("monitor.outage.reconnect", onlineAt - restartMs, "ms", 0);
    report("monitor.outage.queue_delivery", lastAt - onlineAt, "ms", 0);
    return all && seen == expected && onlineAt >= 0;
}

// 3. Changes typed at the simulator, each at a random phase of the poll cycle, to their
// event at the subscriber. `origin`: the subscriber's clock (started with the first watcher).
bool measureLatency(Site &site, MqttWatcher &watcher, const QElapsedTimer &origin, int changes,
                    double &cpuPerMessageUs)
{
    const QString topic = topicOf(latencyLine, latencyUnit, "event");
    watcher.clear();
    const double cpuBefore = statCpuSeconds(site.pid());
    std::vector<double> latencies;
    for (int i = 0; i < changes; ++i) {
        QTest::qWait(int(QRandomGenerator::global()->bounded(pollMs)));
        const qsizetype before = watcher.messagesOn(topic).size();
        const double typedMs = double(origin.nsecsElapsed()) / 1e6;
        site.sims[latencyLine].command(i % 2 == 0 ? "status 1 alarm" : "status 1 normal");
        if (!watcher.waitFor(
                [&](const QList<MqttMessage> &) {
                    return watcher.messagesOn(topic).size() > before;
                },
                eventMs))
            return false;
        latencies.push_back(double(watcher.messagesOn(topic).at(before).arrivedMs) - typedMs);
    }
    // Let the last change's state message arrive too before counting.
    QTest::qWait(pollMs);
    const double cpu = statCpuSeconds(site.pid()) - cpuBefore;
    const qsizetype published = watcher.messages().size();
    cpuPerMessageUs = published > 0 ? cpu * 1e6 / double(published) : -1;
    const Summary s = summarize(latencies);
    report("monitor.latency.count", s.count, "", 0);
    report("monitor.latency.median", s.median, "ms", 1);
    report("monitor.latency.p99", s.p99, "ms", 1);
    report("monitor.latency.max", s.max, "ms", 1);
    report("monitor.latency.goal", pollMs + 50, "ms", 0);
    report("monitor.latency_phase_published", double(published), "", 0);
    return true;
}

// What a user would write instead: each unit read and published every 500 ms.
QByteArray shellScript(const Site &site, int seconds)
{
    QByteArray script = "end=$((SECONDS + " + QByteArray::number(seconds) +
                        "))\n"
                        "while [ \"$SECONDS\" -lt \"$end\" ]; do\n";
    for (int line = 0; line < lineCount; ++line)
        script += "  for a in 1 2 3 4; do\n"
                  "    '" VERTAL_CLI_PATH "' status --port '" +
                  site.sims[line].devicePath().toUtf8() +
                  "' --address $a --speed 9600 --json 2>/dev/null |\n"
                  "      mosquitto_pub -h 127.0.0.1 -p " +
                  QByteArray::number(site.broker.port()) + " -t vertal/" + lineName(line).toUtf8() +
                  "/$a/state -l\n"
                  "  done\n";
    script += "  sleep 0.5\ndone\n";
    return script;
}

// Runs bash -c `script` and waits for it (killed after `limitMs`): its CPU with every child
// it waited for, from wait4(); -1 when it failed.
double runShell(const QByteArray &script, int limitMs)
{
    QByteArray program = "/bin/bash";
    QByteArray flag = "-c";
    QByteArray text = script;
    char *argv[] = {program.data(), flag.data(), text.data(), nullptr};
    pid_t child = -1;
    if (::posix_spawn(&child, argv[0], nullptr, nullptr, argv, environ) != 0)
        return -1;
    QElapsedTimer clock;
    clock.start();
    int status = 0;
    rusage usage{};
    while (::wait4(child, &status, WNOHANG, &usage) == 0) {
        if (clock.elapsed() > limitMs) {
            ::kill(child, SIGKILL);
            ::wait4(child, &status, 0, &usage);
            return -1;
        }
        QTest::qWait(100); // the subscriber's messages are taken meanwhile
    }
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + t.tv_usec * 1e-6; };
    return WIFEXITED(status) ? seconds(usage.ru_utime) + seconds(usage.ru_stime) : -1;
}

// 4. The shell loop for `seconds`, and the ratio of its CPU per update to the monitor's.
bool measureShell(Site &site, MqttWatcher &watcher, int seconds, double monitorPerUpdateUs)
{
    watcher.clear();
    const double cpu = runShell(shellScript(site, seconds), seconds * 1000 + 60000);
    // The last publish may still be on its way through the broker.
    QTest::qWait(pollMs);
    static const QRegularExpression stateTopic(QStringLiteral("^vertal/line[12]/[1-4]/state$"));
    int published = 0;
    for (const MqttMessage &m : watcher.messages())
        published += stateTopic.match(m.topic).hasMatch() && !m.retained ? 1 : 0;
    const double perUpdateUs = published > 0 ? cpu * 1e6 / published : -1;
    report("monitor.shell.seconds", seconds, "s", 0);
    report("monitor.shell.cpu", cpu, "s", 3);
    report("monitor.shell.published", published, "", 0);
    report("monitor.shell.updates_per_second", published / double(seconds), "/s", 1);
    report("monitor.shell.cpu_per_update", perUpdateUs, "us", 0);
    report("monitor.shell_ratio", perUpdateUs / monitorPerUpdateUs, "x", 1);
    return cpu > 0 && published > 0;
}

Options readOptions(const QStringList &args)
{
    Options o;
    o.minutes = std::max(1, intOption(args, "--minutes", o.minutes));
    o.awayMinutes = std::max(1, intOption(args, "--away-minutes", o.awayMinutes));
    o.latencyChanges = std::max(1, intOption(args, "--latency-changes", o.latencyChanges));
    o.shellSeconds = std::max(5, intOption(args, "--shell-seconds", o.shellSeconds));
    return o;
}

bool fail(const Site &site, const char *what)
{
    std::fprintf(stderr, "failed: %s\nthe monitor said:\n%s\n", what,
                 qPrintable(site.monitorLog()));
    return false;
}

bool runAll(const Options &o)
{
    Site site;
    if (!site.startLines() || !site.startBroker())
        return false;
    // The subscriber stamps arrivals on a monotonic clock that starts with the first
    // watcher; ours starts right before it, the library already set up, so that the two
    // differ by the few microseconds of the constructor.
    mosquitto_lib_init();
    QElapsedTimer origin;
    origin.start();
    MqttWatcher watcher(site.broker.port(), {"vertal/#"}, "watcher", "watcher-secret");
    report("monitor.clock_offset_bound", double(origin.nsecsElapsed()) / 1e6, "ms", 3);
    if (!watcher.start() || !site.startMonitor())
        return fail(site, "the subscriber or the monitor did not start");
    if (!allOnline(watcher))
        return fail(site, "not every unit online");
    report("monitor.units", unitCount, "", 0);
    report("monitor.poll_ms", pollMs, "ms", 0);
    const SteadyFigures steady = measureSteady(site, watcher, o.minutes);
    const double updates = double(unitCount) * steady.wallSeconds * 1000.0 / pollMs;
    const double perUpdateUs = steady.cpuSeconds * 1e6 / updates;
    report("monitor.cpu_per_update", perUpdateUs, "us", 2);
    if (site.monitor.state() != QProcess::Running)
        return fail(site, "the monitor ended in the steady window");
    int toggles = 0;
    holdOutage(site, o.awayMinutes, toggles);
    if (site.monitor.state() != QProcess::Running)
        return fail(site, "the monitor ended while the broker was away");
    if (!measureRedelivery(site, watcher, origin, toggles))
        return fail(site, "the queued events did not all arrive, once and in order");
    double perMessageUs = -1;
    if (!measureLatency(site, watcher, origin, o.latencyChanges, perMessageUs))
        return fail(site, "a change did not reach the subscriber");
    report("monitor.cpu_per_published_message", perMessageUs, "us", 1);
    if (!site.stopMonitor())
        return fail(site, "the monitor did not stop cleanly on SIGTERM");
    return measureShell(site, watcher, o.shellSeconds, perUpdateUs);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    return runAll(readOptions(app.arguments())) ? 0 : 1;
}
