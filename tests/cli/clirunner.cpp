#include "clirunner.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QProcessEnvironment>
#include <csignal>

namespace {
constexpr int runLimitMs = 60000;
}

QList<QByteArray> CliRun::lines() const
{
    QList<QByteArray> result = out.split('\n');
    while (!result.isEmpty() && result.last().isEmpty())
        result.removeLast();
    return result;
}

QList<QJsonObject> CliRun::json() const
{
    QList<QJsonObject> objects;
    for (const QByteArray &line : lines()) {
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !doc.isObject())
            return {};
        objects << doc.object();
    }
    return objects;
}

void startCli(QProcess &process, const QStringList &args)
{
    process.start(QStringLiteral(CLI_PROGRAM), args);
    process.waitForStarted(runLimitMs);
}

CliRun runCli(const QStringList &args, const QStringList &extraEnvironment,
              const QString &standardOutput)
{
    QProcess process;
    if (!standardOutput.isEmpty())
        process.setStandardOutputFile(standardOutput);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &entry : extraEnvironment)
        env.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
    process.setProcessEnvironment(env);
    startCli(process, args);
    CliRun run;
    if (!process.waitForFinished(runLimitMs)) {
        process.kill();
        process.waitForFinished();
    }
    run.crashed = process.exitStatus() != QProcess::NormalExit;
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

UnitState cliUnit(int address)
{
    UnitState s;
    s.address = quint8(address);
    s.lineSpeed = 4800;
    s.boardMap = 0x19;
    s.versionMajor = 2;
    s.versionMinor = 15;
    return s;
}

qint64 signalAndWait(QProcess &process, int signal)
{
    QElapsedTimer stopping;
    stopping.start();
    ::kill(pid_t(process.processId()), signal);
    return process.waitForFinished(10000) ? stopping.elapsed() : -1;
}
