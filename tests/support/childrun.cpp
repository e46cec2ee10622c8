#include "childrun.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <csignal>
#include <cstdio>
#include <sys/types.h>

namespace {

const char modeVariable[] = "VERTAL_TEST_CHILD_MODE";

QString escaped(QString value)
{
    return value.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('\n'), QLatin1String("\\n"));
}

QString unescaped(const QString &value)
{
    QString plain;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == QLatin1Char('\\') && i + 1 < value.size()) {
            ++i;
            plain += value[i] == QLatin1Char('n') ? QLatin1Char('\n') : value[i];
        } else {
            plain += value[i];
        }
    }
    return plain;
}

void readReport(ChildRun &run)
{
    run.keys.clear();
    run.values.clear();
    const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        const qsizetype at = line.indexOf(QLatin1Char('='));
        run.keys << (at < 0 ? line : line.left(at));
        run.values << (at < 0 ? QString() : unescaped(line.mid(at + 1)));
    }
}

} // namespace

bool ChildRun::endedWith(int code) const
{
    return finished && exitStatus == QProcess::NormalExit && exitCode == code;
}

QString ChildRun::value(const QString &key) const
{
    const qsizetype at = keys.lastIndexOf(key);
    return at < 0 ? QString() : values[at];
}

QStringList ChildRun::valuesOf(const QString &key) const
{
    QStringList found;
    for (qsizetype i = 0; i < keys.size(); ++i) {
        if (keys[i] == key)
            found << values[i];
    }
    return found;
}

void SelfChild::start(const QString &mode, const QStringList &arguments,
                      QProcessEnvironment environment, const QStringList &wrapper)
{
    environment.insert(QLatin1String(modeVariable), mode);
    process.setProcessEnvironment(environment);
    const QStringList command = wrapper + QStringList{QCoreApplication::applicationFilePath()};
    process.start(command.first(), command.mid(1) + arguments);
}

bool SelfChild::waitFor(const QString &key, const QString &value, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!reported(key, value)) {
        if (deadline.hasExpired() || process.state() == QProcess::NotRunning)
            return reported(key, value);
        process.waitForReadyRead(50);
    }
    return true;
}

bool SelfChild::finish(int ms)
{
    // Ended already (while waiting for a report) or ends now; one that never started has not.
    current.finished = process.state() == QProcess::NotRunning
                           ? process.error() != QProcess::FailedToStart
                           : process.waitForFinished(ms);
    return current.finished;
}

void SelfChild::signal(int signo)
{
    ::kill(pid_t(process.processId()), signo);
}

const ChildRun &SelfChild::run()
{
    current.out += QString::fromUtf8(process.readAllStandardOutput());
    current.err += QString::fromUtf8(process.readAllStandardError());
    readReport(current);
    if (current.finished) {
        current.exitStatus = process.exitStatus();
        current.exitCode = process.exitCode();
    }
    return current;
}

bool SelfChild::reported(const QString &key, const QString &value)
{
    const ChildRun &now = run();
    return value.isNull() ? now.has(key) : now.valuesOf(key).contains(value);
}

ChildRun runSelfAsChild(const QString &mode, const QStringList &arguments, int timeoutMs,
                        QProcessEnvironment environment, const QStringList &wrapper)
{
    SelfChild child;
    child.start(mode, arguments, environment, wrapper);
    if (!child.finish(timeoutMs)) {
        child.signal(SIGKILL);
        child.finish(5000);
        ChildRun run = child.run();
        run.finished = false;
        return run;
    }
    return child.run();
}

QString childMode()
{
    return qEnvironmentVariable(modeVariable);
}

QStringList childArguments(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

void reportToParent(const QString &key, const QString &value)
{
    const QByteArray line = (key + QLatin1Char('=') + escaped(value)).toUtf8();
    std::fputs(line.constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
