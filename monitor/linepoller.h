#pragma once

#include "monitorconfig.h"
#include "monitorsink.h"
#include "unitcommand.h"

#include <QString>
#include <atomic>
#include <memory>

namespace monitor {

// Polls the units of one line on a thread of its own, through the link's exchange worker
// (its port keeps a link lock of its own, so one line never waits for another).
//
// - Start: opens the port; finds each unit at the known speed first (the line's `speed`, or
//   the one last found), reads it whole (boards, firmware, each input board's alarm relay)
//   and reports it online; a range of addresses is scanned, and scanned again every few
//   minutes for units that came later.
// - Every `pollMs`: each online unit's status (and each input board's value when the line
//   reads values); a case opened and closed again reads the unit whole again.
// - A unit that fails one exchange goes offline and is then asked once every 10 s with a
//   single copy of the request, so the others keep their cadence; when it answers it is
//   read whole and goes online.
// - A line that goes away (adapter unplugged, server closed) or does not open: its units
//   go offline, and it is opened again after 1, 2, 4 ... up to 30 s.
// - Commands submitted from any thread run between two polls on this line.
//
// Threads: the constructor, start(), stop() and the destructor are the owner's; submit()
// and lastBeat() any thread's. The sink is called on the poller's thread.
class LinePoller
{
public:
    LinePoller(const LineSettings &line, int pollMs, MonitorSink &sink);
    ~LinePoller(); // stop()s
    LinePoller(const LinePoller &) = delete;
    LinePoller &operator=(const LinePoller &) = delete;

    void start();
    // Ends the thread: an exchange in flight stops within one poll slice, a backoff wait at
    // once; the port is closed (released) before it returns.
    void stop();

    // Queues a command for a unit of this line (its `line` is this line's name).
    void submit(const UnitCommand &command);

    // Steady-clock milliseconds (QDeadlineTimer::current) at which the thread last made
    // progress (a poll, a search step, a backoff slice): a hung poll loop stops beating,
    // and the watchdog is then not kept.
    qint64 lastBeat() const;

    const LineSettings &settings() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace monitor
