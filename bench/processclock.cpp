#include "processclock.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <ctime>
#include <unistd.h>

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

double monotonicSeconds()
{
    return clockSeconds(CLOCK_MONOTONIC);
}

double processCpuSeconds(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1.0;
    const QByteArray text = stat.readAll();
    // The command name (field 2) may hold spaces; the fields after its ')' are plain.
    const qsizetype close = text.lastIndexOf(')');
    if (close < 0)
        return -1.0;
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    // After the name: state is field 3, utime field 14, stime field 15.
    if (fields.size() < 13)
        return -1.0;
    const double ticks = double(fields[11].toLongLong() + fields[12].toLongLong());
    return ticks / double(::sysconf(_SC_CLK_TCK));
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
