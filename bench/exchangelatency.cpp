// vertal-bench-exchange: round trip of CMD_READ_STATUS through the wizard's exchange worker
// (cComPort, with its thread and the caller's event loop) and through a bare reference
// client, in alternating blocks against the same simulated unit on a pseudo-terminal.
// The simulator runs as a child process (vertal-unit-sim).
//
// A third client, the reference run on a thread started for each exchange, shows what that
// start costs by itself. With --load N, N busy processes share the CPUs meanwhile.
//
//   vertal-bench-exchange [--count N] [--blocks B] [--speed BAUD] [--load N]

#include "benchreport.h"
#include "ccomport.h"
#include "commandcodes.h"
#include "cpuload.h"
#include "exchangeresult.h"
#include "percentiles.h"
#include "processclock.h"
#include "rawclient.h"
#include "simchild.h"

#include <QApplication>
#include <QStringList>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int unitAddress = 1;
constexpr int inputBoard = 1;
constexpr int warmUpExchanges = 5;
constexpr int referenceTimeoutMs = 1000;

struct Side
{
    std::vector<double> roundTripsUs;
    double cpuSeconds = 0;
    int failures = 0;
};

QByteArray statusRequest()
{
    QByteArray request;
    request.append(char(unitAddress)).append(char(CMD_READ_STATUS)).append(char(inputBoard));
    return request;
}

// One reply is right when it decoded and carries its leading byte, the four status bytes
// and the check byte.
bool goodReply(int result, const QByteArray &reply)
{
    return result == Ok && reply.size() == 6;
}

template <typename Exchange> void measure(Side &side, int count, Exchange exchange)
{
    for (int i = 0; i < warmUpExchanges; ++i) {
        QByteArray buffer = statusRequest();
        exchange(buffer);
    }
    const double cpuStart = selfCpuSeconds();
    for (int i = 0; i < count; ++i) {
        QByteArray buffer = statusRequest();
        const double start = monotonicSeconds();
        const int result = exchange(buffer);
        const double end = monotonicSeconds();
        if (!goodReply(result, buffer)) {
            ++side.failures;
            continue;
        }
        side.roundTripsUs.push_back((end - start) * 1e6);
    }
    side.cpuSeconds += selfCpuSeconds() - cpuStart;
}

void runWizard(Side &side, const QString &path, int baud, int count)
{
    cComPort port(path);
    port.setBaudRate(baud);
    measure(side, count, [&](QByteArray &b) { return port.exchange(b, false); });
}

void runReference(Side &side, const QString &path, int baud, int count)
{
    RawClient client;
    if (!client.open(path, baud, false)) {
        side.failures += count;
        return;
    }
    measure(side, count, [&](QByteArray &b) { return client.exchange(b, referenceTimeoutMs); });
}

// The reference client, but every exchange on a thread started for it and joined: what
// starting a thread per exchange costs by itself, without any event loop.
void runThreadedReference(Side &side, const QString &path, int baud, int count)
{
    RawClient client;
    if (!client.open(path, baud, false)) {
        side.failures += count;
        return;
    }
    measure(side, count, [&](QByteArray &b) {
        int result = NoReply;
        std::thread([&] { result = client.exchange(b, referenceTimeoutMs); }).join();
        return result;
    });
}

void reportSide(const std::string &prefix, const char *name, const Side &side)
{
    const Summary s = summarize(side.roundTripsUs);
    auto key = [&](const char *what) { return prefix + '.' + name + '.' + what; };
    report(key("count").c_str(), s.count, "", 0);
    report(key("failures").c_str(), side.failures, "", 0);
    report(key("median").c_str(), s.median, "us");
    report(key("p95").c_str(), s.p95, "us");
    report(key("p99").c_str(), s.p99, "us");
    report(key("max").c_str(), s.max, "us");
    report(key("cpu_per_exchange").c_str(),
           s.count ? side.cpuSeconds / double(s.count + side.failures) * 1e6 : 0, "us");
}

} // namespace

int main(int argc, char *argv[])
{
    // The busy processes are forked before the application starts any thread.
    CpuLoad load;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--load") == 0)
            load.start(std::atoi(argv[i + 1]));
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int loadCount = intOption(args, QStringLiteral("--load"), 0);
    const char *prefix = loadCount > 0 ? "exchange_loaded" : "exchange";
    const int count = intOption(args, QStringLiteral("--count"), 2000);
    const int blocks = qMax(1, intOption(args, QStringLiteral("--blocks"), 10));
    const int baud = intOption(args, QStringLiteral("--speed"), 19200);

    SimChild sim;
    QString error;
    if (!sim.start({QStringLiteral("--speed"), QString::number(baud), QStringLiteral("--address"),
                    QString::number(unitAddress)},
                   &error)) {
        std::fprintf(stderr, "vertal-bench-exchange: %s\n", qPrintable(error));
        return 1;
    }
    // The simulator listens at once only while someone holds its line open.
    sim.holdLine();
    std::fprintf(stderr, "exchange: %d x CMD_READ_STATUS at %d baud on %s, %d blocks\n", count,
                 baud, qPrintable(sim.devicePath()), blocks);

    Side wizard;
    Side reference;
    Side threaded;
    const double simCpuStart = sim.cpuSeconds();
    for (int b = 0; b < blocks; ++b) {
        const int n = count / blocks + (b < count % blocks ? 1 : 0);
        // Alternate who goes first, so that neither side always meets a warmer line.
        if (b % 2 == 0) {
            runWizard(wizard, sim.devicePath(), baud, n);
            runReference(reference, sim.devicePath(), baud, n);
            runThreadedReference(threaded, sim.devicePath(), baud, n);
        } else {
            runThreadedReference(threaded, sim.devicePath(), baud, n);
            runReference(reference, sim.devicePath(), baud, n);
            runWizard(wizard, sim.devicePath(), baud, n);
        }
    }
    const double simCpu = sim.cpuSeconds() - simCpuStart;

    load.stop();
    const std::string p = prefix;
    reportSide(p, "wizard", wizard);
    reportSide(p, "reference", reference);
    reportSide(p, "reference_thread", threaded);
    const double refMedian = summarize(reference.roundTripsUs).median;
    const double wizMedian = summarize(wizard.roundTripsUs).median;
    report((p + ".load_processes").c_str(), loadCount, "", 0);
    report((p + ".median_difference").c_str(), wizMedian - refMedian, "us");
    report((p + ".median_ratio").c_str(), refMedian > 0 ? wizMedian / refMedian : 0, "x", 2);
    report((p + ".simulator_cpu_per_exchange").c_str(),
           simCpu / double(3 * count + 3 * blocks * warmUpExchanges) * 1e6, "us");
    sim.stop();
    return wizard.failures + reference.failures + threaded.failures == 0 ? 0 : 2;
}
