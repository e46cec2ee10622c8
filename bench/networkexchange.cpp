// vertal-bench-network: round trip of CMD_READ_STATUS over RFC 2217 through a real ser2net
// on the loopback address, in front of the simulated unit: the wizard's exchange worker
// (cComPort on an rfc2217:// line) against a bare socket client doing the same exchange
// through the same ser2net, in alternating blocks; once with ser2net's character delay
// (its default) and once without it.
//
//   vertal-bench-network [--count N] [--blocks B] [--speed BAUD]

#include "benchreport.h"
#include "ccomport.h"
#include "commandcodes.h"
#include "exchangeresult.h"
#include "framecodec.h"
#include "percentiles.h"
#include "processclock.h"
#include "serialserver.h"
#include "simchild.h"
#include "telnetcodec.h"

#include <QCoreApplication>
#include <QStringList>
#include <QThread>
#include <cstdio>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int unitAddress = 1;
constexpr int warmUpExchanges = 5;
constexpr int replyTimeoutMs = 1000;
constexpr int connectTries = 100; // 20 ms apart: the server frees its line after a client

QByteArray statusRequest()
{
    return QByteArray::fromHex("010401");
}

// The least a client of the server does: BINARY and COM-PORT-OPTION asked for, the speed
// set and answered, then a frame out and bytes in until the reply's carriage return, the
// Telnet commands among them dropped.
class BareClient
{
public:
    ~BareClient()
    {
        if (fd >= 0)
            ::close(fd);
    }
    bool open(quint16 port, int baud)
    {
        for (int i = 0; i < connectTries && !tryOpen(port, baud); ++i)
            QThread::msleep(20);
        return fd >= 0;
    }
    int exchange(QByteArray &payload)
    {
        QByteArray frame = payload;
        encodeFrame(frame);
        if (::send(fd, frame.constData(), size_t(frame.size()), MSG_NOSIGNAL) != frame.size())
            return NoReply;
        QByteArray data;
        while (!data.endsWith('\r')) {
            if (!readSome(data, replyTimeoutMs))
                return NoReply;
        }
        payload = data.mid(data.indexOf('!'));
        return decodeFrame(payload);
    }

private:
    bool tryOpen(quint16 port, int baud)
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const QByteArray hello = telnet::negotiation(telnet::will, telnet::binary) +
                                 telnet::negotiation(telnet::doOption, telnet::binary) +
                                 telnet::negotiation(telnet::will, telnet::comPortOption) +
                                 rfc2217::baudRateRequest(baud);
        QByteArray ignored;
        if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
            ::send(fd, hello.constData(), size_t(hello.size()), MSG_NOSIGNAL) == hello.size()) {
            while (answered != baud && readSome(ignored, replyTimeoutMs)) {
            }
            if (answered == baud)
                return true;
        }
        ::close(fd);
        fd = -1;
        decoder = telnet::Decoder{};
        return false;
    }
    bool readSome(QByteArray &data, int ms)
    {
        pollfd p{fd, POLLIN, 0};
        char piece[512];
        if (::poll(&p, 1, ms) <= 0)
            return false;
        const ssize_t n = ::recv(fd, piece, sizeof piece, 0);
        if (n <= 0)
            return false;
        QList<telnet::Decoder::Command> commands;
        decoder.feed(QByteArray(piece, int(n)), data, commands);
        for (const auto &command : commands)
            if (command.verb == telnet::sb && rfc2217::answeredBaudRate(command.payload))
                answered = rfc2217::answeredBaudRate(command.payload);
        return true;
    }

    int fd = -1;
    int answered = 0;
    telnet::Decoder decoder;
};

struct Side
{
    std::vector<double> roundTripsUs;
    int failures = 0;
};

template <typename Exchange> void measure(Side &side, int count, Exchange exchange)
{
    for (int i = 0; i < warmUpExchanges; ++i) {
        QByteArray buffer = statusRequest();
        exchange(buffer);
    }
    for (int i = 0; i < count; ++i) {
        QByteArray buffer = statusRequest();
        const double start = monotonicSeconds();
        const int result = exchange(buffer);
        const double end = monotonicSeconds();
        if (result != Ok) {
            ++side.failures;
            continue;
        }
        side.roundTripsUs.push_back((end - start) * 1e6);
    }
}

void runWizard(Side &side, const QString &url, int baud, int count)
{
    for (int i = 0; i < connectTries; ++i) {
        cComPort port(url);
        if (port.openFailed()) {
            QThread::msleep(20);
            continue;
        }
        port.setBaudRate(baud);
        measure(side, count, [&](QByteArray &b) { return port.exchange(b, false); });
        return;
    }
    side.failures += count;
}

void runBare(Side &side, quint16 port, int baud, int count)
{
    BareClient client;
    if (!client.open(port, baud)) {
        side.failures += count;
        return;
    }
    measure(side, count, [&](QByteArray &b) { return client.exchange(b); });
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
}

// One run against a ser2net with or without its character delay; false when a side failed.
bool runServer(const std::string &prefix, const QString &device, bool charDelay, int baud,
               int count, int blocks)
{
    SerialServer server;
    SerialServer::Options options;
    options.charDelay = charDelay;
    if (!server.start(device, options)) {
        std::fprintf(stderr, "vertal-bench-network: %s\n", qPrintable(server.errorString()));
        return false;
    }
    Side wizard;
    Side bare;
    for (int b = 0; b < blocks; ++b) {
        const int n = count / blocks + (b < count % blocks ? 1 : 0);
        if (b % 2 == 0) {
            runWizard(wizard, server.rfc2217Url(), baud, n);
            runBare(bare, server.rfc2217Port(), baud, n);
        } else {
            runBare(bare, server.rfc2217Port(), baud, n);
            runWizard(wizard, server.rfc2217Url(), baud, n);
        }
    }
    reportSide(prefix, "wizard", wizard);
    reportSide(prefix, "bare_client", bare);
    report((prefix + ".median_difference").c_str(),
           summarize(wizard.roundTripsUs).median - summarize(bare.roundTripsUs).median, "us");
    return wizard.failures + bare.failures == 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int count = intOption(args, QStringLiteral("--count"), 1000);
    const int blocks = qMax(1, intOption(args, QStringLiteral("--blocks"), 10));
    const int baud = intOption(args, QStringLiteral("--speed"), 19200);

    SimChild sim;
    QString error;
    if (!sim.start({QStringLiteral("--speed"), QString::number(baud), QStringLiteral("--address"),
                    QString::number(unitAddress)},
                   &error)) {
        std::fprintf(stderr, "vertal-bench-network: %s\n", qPrintable(error));
        return 1;
    }
    sim.holdLine();
    std::fprintf(stderr, "network: %d x CMD_READ_STATUS at %d baud over RFC 2217, %d blocks\n",
                 count, baud, blocks);
    const bool plain = runServer("network", sim.devicePath(), false, baud, count, blocks);
    const bool delayed =
        runServer("network_chardelay", sim.devicePath(), true, baud, count, blocks);
    sim.stop();
    return plain && delayed ? 0 : 2;
}
