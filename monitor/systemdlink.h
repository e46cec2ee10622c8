#pragma once

#include "unitevents.h"

#include <QString>

// The service manager and the journal (libsystemd). Outside systemd (no NOTIFY_SOCKET, no
// journal) every call does nothing.
namespace monitor::systemd {

// READY=1 with a STATUS= line.
void notifyReady(const QString &status);
// WATCHDOG=1.
void notifyWatchdog();
// STOPPING=1.
void notifyStopping();
// RELOADING=1 (SIGHUP), and READY=1 when done.
void notifyReloading();
// The watchdog period systemd asked for in microseconds, 0 when none (WATCHDOG_USEC for
// this process).
quint64 watchdogPeriodUsec();

// One unit event in the journal, with fields VERTAL_LINE, VERTAL_ADDRESS, VERTAL_POSITION,
// VERTAL_STATUS and a MESSAGE a person reads; priority warning for an alarm or an opened
// case, notice otherwise.
void journalEvent(const QString &line, int address, const UnitEvent &event);
// A line for the journal (and standard error when it is not the journal).
void journalMessage(int priority, const QString &text);

} // namespace monitor::systemd
