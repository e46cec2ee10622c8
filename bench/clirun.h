#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// vertal-cli run as a script runs it, for the benchmarks that time it.

// Wall milliseconds of one run of vertal-cli with `args` (at most `limitMs`); -1 when it
// fails (said on standard error).
double timeCli(const QStringList &args, int limitMs = 120000);

// Median over `rounds` rounds of the sum of the round trips of `requests` made by the
// reference client on the line `path` at `baud`; -1 when one fails.
double roundTripsMs(const QString &path, int baud, const QList<QByteArray> &requests,
                    int rounds = 200);
