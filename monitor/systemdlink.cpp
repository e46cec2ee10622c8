#include "systemdlink.h"

#include <QByteArray>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <syslog.h>
#include <systemd/sd-daemon.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

namespace monitor::systemd {

namespace {

// systemd tells a service whose standard error is the journal by JOURNAL_STREAM
// ("DEVICE:INODE" of that stream); anywhere else a person reads standard error.
bool standardErrorIsJournal()
{
    const QByteArray stream = qgetenv("JOURNAL_STREAM");
    const qsizetype colon = stream.indexOf(':');
    if (colon <= 0)
        return false;
    struct stat status = {};
    if (::fstat(STDERR_FILENO, &status) != 0)
        return false;
    bool deviceOk = false;
    bool inodeOk = false;
    const qulonglong device = stream.left(colon).toULongLong(&deviceOk);
    const qulonglong inode = stream.mid(colon + 1).toULongLong(&inodeOk);
    return deviceOk && inodeOk && device == qulonglong(status.st_dev) &&
           inode == qulonglong(status.st_ino);
}

void toStandardError(const QByteArray &line)
{
    if (standardErrorIsJournal())
        return;
    std::fprintf(stderr, "%s\n", line.constData());
    std::fflush(stderr);
}

void notify(const QByteArray &state)
{
    sd_notify(0, state.constData());
}

} // namespace

void notifyReady(const QString &status)
{
    notify("READY=1\nSTATUS=" + status.toUtf8());
}

void notifyWatchdog()
{
    notify("WATCHDOG=1");
}

void notifyStopping()
{
    notify("STOPPING=1");
}

void notifyReloading()
{
    notify("RELOADING=1");
}

quint64 watchdogPeriodUsec()
{
    uint64_t usec = 0;
    return sd_watchdog_enabled(0, &usec) > 0 ? quint64(usec) : 0;
}

void journalEvent(const QString &line, int address, const UnitEvent &event)
{
    const bool urgent =
        event.to == QLatin1String("alarm") || event.to == QLatin1String("case_open");
    const QString where =
        event.position == 0 ? QStringLiteral("the case")
                            : QStringLiteral("the input board at position %1").arg(event.position);
    const QByteArray message = QStringLiteral("line %1, unit %2: %3 went from %4 to %5")
                                   .arg(line)
                                   .arg(address)
                                   .arg(where, event.from, event.to)
                                   .toUtf8();
    sd_journal_send("MESSAGE=%s", message.constData(), "PRIORITY=%i",
                    urgent ? LOG_WARNING : LOG_NOTICE, "VERTAL_LINE=%s", line.toUtf8().constData(),
                    "VERTAL_ADDRESS=%i", address, "VERTAL_POSITION=%i", event.position,
                    "VERTAL_STATUS=%s", event.to.toUtf8().constData(), nullptr);
}

void journalMessage(int priority, const QString &text)
{
    const QByteArray message = text.toUtf8();
    sd_journal_send("MESSAGE=%s", message.constData(), "PRIORITY=%i", priority, nullptr);
    toStandardError(message);
}

} // namespace monitor::systemd
