#include "processclock.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <ctime>

namespace {

double clockSeconds(clockid_t clock)
{
    timespec t{};
    ::clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

} // namespace

double selfCpuSeconds()
{
    return clockSeconds(CLOCK_PROCESS_CPUTIME_ID);
}

double threadCpuSeconds()
{
    return clockSeconds(CLOCK_THREAD_CPUTIME_ID);
}

double threadRunQueueSeconds()
{
    QFile stat(QStringLiteral("/proc/thread-self/schedstat"));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    return double(stat.readAll().split(' ').value(1).toLongLong()) * 1e-9;
}

double monotonicSeconds()
{
    return clockSeconds(CLOCK_MONOTONIC);
}

double processCpuSeconds(pid_t pid)
{
    // schedstat's first field is the time a thread has run, in nanoseconds.
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    const QStringList threads = tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (threads.isEmpty())
        return -1.0;
    double seconds = 0;
    for (const QString &thread : threads) {
        QFile stat(tasks.filePath(thread + QStringLiteral("/schedstat")));
        if (stat.open(QIODevice::ReadOnly))
            seconds += double(stat.readAll().split(' ').value(0).toLongLong()) * 1e-9;
    }
    return seconds;
}

long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}
