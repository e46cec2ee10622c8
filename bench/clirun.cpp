#include "clirun.h"

#include "exchangeresult.h"
#include "percentiles.h"
#include "processclock.h"
#include "rawclient.h"

#include <QProcess>
#include <cstdio>
#include <vector>

double timeCli(const QStringList &args, int limitMs)
{
    QProcess cli;
    const double start = monotonicSeconds();
    cli.start(QStringLiteral(VERTAL_CLI_PATH), args);
    if (!cli.waitForFinished(limitMs) || cli.exitCode() != 0) {
        std::fprintf(stderr, "vertal-cli %s failed: %s\n", qPrintable(args.join(' ')),
                     cli.readAllStandardError().constData());
        return -1;
    }
    return (monotonicSeconds() - start) * 1000;
}

double roundTripsMs(const QString &path, int baud, const QList<QByteArray> &requests, int rounds)
{
    RawClient client;
    if (!client.open(path, baud, false))
        return -1;
    std::vector<double> sums;
    for (int i = 0; i < rounds; ++i) {
        double sum = 0;
        for (QByteArray request : requests) {
            const double start = monotonicSeconds();
            if (client.exchange(request, 1000) != Ok)
                return -1;
            sum += monotonicSeconds() - start;
        }
        sums.push_back(sum * 1000);
    }
    return summarize(sums).median;
}
