#pragma once

#include "simulatedline.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QStringList>

// One finished run of vertal-cli.
struct CliRun
{
    int exitCode = -1;
    bool crashed = false;
    QByteArray out;
    QByteArray err;

    QList<QByteArray> lines() const;
    // Every line of standard output as a JSON object; empty when one is not.
    QList<QJsonObject> json() const;
};

// Runs vertal-cli with `args` and waits for its end (bounded). With `standardOutput`, the
// program's standard output goes to that file (run.out stays empty).
CliRun runCli(const QStringList &args, const QStringList &extraEnvironment = {},
              const QString &standardOutput = {});
// Starts vertal-cli with `args` without waiting.
void startCli(QProcess &process, const QStringList &args);
// Sends `signal` to the running vertal-cli and waits (10 s at most) for its end: the
// milliseconds it took, -1 when it did not end.
qint64 signalAndWait(QProcess &process, int signal);

// A unit at `address`, 4800 baud, input boards at 1 and 3, a relay board at 2 (0x19).
UnitState cliUnit(int address = 1);
