#include "linepoller.h"

#include "askagain.h"
#include "boardlist.h"
#include "ccomport.h"
#include "commandcodes.h"
#include "commandset.h"
#include "exchangeresult.h"
#include "exchangetiming.h"
#include "networkportname.h"
#include "serialport.h"
#include "unitsearch.h"
#include "valuerules.h"

#include <QDeadlineTimer>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <iterator>
#include <mutex>
#include <vector>

namespace monitor {

namespace {

using namespace std::chrono_literals;

constexpr auto offlineProbeEvery = 10s; // a unit that stopped answering is asked this often
constexpr auto rangeScanEvery = 5min;   // a range's silent addresses are asked again
constexpr auto beatSlice = 1s;          // a wait beats at least this often
// Reopening a line that went away or did not open: then 30 s on.
constexpr std::chrono::milliseconds reopenDelays[] = {1s, 2s, 4s, 8s, 16s, 30s};
constexpr int rangeProbeSends = 2; // an address of a range that may hold no unit
constexpr int singleCopy = 1;      // an offline unit's probe, a scan's address
constexpr std::size_t maxWaitingCommands = 64;

qint64 nowMs()
{
    return QDeadlineTimer::current().deadline();
}

std::chrono::milliseconds reopenDelay(int failures)
{
    const int last = int(std::size(reopenDelays)) - 1;
    return reopenDelays[std::min(failures, last)];
}

QString failureWords(int result)
{
    return result == NoReply ? QStringLiteral("no reply") : QStringLiteral("garbled reply");
}

// Why a set command may not go to a unit with these boards; empty when it may.
QString setInputFault(int boardMap, const UnitCommand &c)
{
    if (!unit::isInputBoard(boardMap, c.position))
        return QStringLiteral("no input board at position %1").arg(c.position);
    if (c.relay != 0 && !unit::isRelayBoard(boardMap, c.relay))
        return QStringLiteral("no relay board at position %1").arg(c.relay);
    if (!unit::onTimeInRange(c.time) || !unit::periodInRange(c.period) ||
        !unit::onTimeAbovePeriod(c.time, c.period))
        return QStringLiteral("time %1 s and period %2 s break the unit's rules")
            .arg(c.time)
            .arg(c.period);
    return QString();
}

} // namespace

struct LinePoller::Private
{
    struct Unit
    {
        UnitSnapshot snapshot;
        bool listed = false;   // named in a list: reported offline even before it answers
        bool answered = false; // answered since start: from then on reported like a listed one
        bool online = false;
        int reported = -1;    // availability last reported: -1 none, 0 offline, 1 online
        qint64 nextProbe = 0; // steady ms: when an offline unit is asked again

        int address() const { return snapshot.address; }
        bool watched() const { return listed || answered; }
    };

    Private(const LineSettings &settings, int poll, MonitorSink &out);

    // The poller's thread.
    void run();
    bool openPort();
    void closePort();
    bool lineGone() const;
    bool stopRequested() const { return stopFlag.load(); }
    void beatNow() { beat = nowMs(); }
    void message(const QString &text);
    void markTried();
    bool waitUntil(qint64 deadline);
    void serveCommands();

    void searchLine();
    void pollLine();
    void pollOnlineUnits();
    void probeOneOffline();
    void scanOneAddress();

    unit::Heard ask(QByteArray &request);
    unit::SearchHooks searchHooks();
    bool findBoards(UnitSnapshot &s, int sends);
    bool readAssignments(UnitSnapshot &s);
    bool readStatus(UnitSnapshot &s);
    bool readValues(UnitSnapshot &s);
    bool readWhole(Unit &u, int sends);
    bool pollUnit(Unit &u);
    void setOnline(Unit &u);
    void lost(Unit &u);
    void markAllOffline();
    bool anyOnline() const;

    void runCommands();
    void refuseCommands(const QString &error);
    bool takeCommand(UnitCommand &command);
    bool runCommand(const UnitCommand &c, QString &error);
    bool switchRelay(Unit &u, const UnitCommand &c, QString &error);
    bool setInput(Unit &u, const UnitCommand &c, QString &error);
    bool exchanged(Unit &u, int result, const QString &what, QString &error);
    Unit *unitAt(int address);

    // Fixed at construction.
    const LineSettings line;
    const int pollMs;
    MonitorSink &sink;
    const bool bareSocket; // a bare TCP server's line without a speed: its speed is its own

    // The owner's.
    std::unique_ptr<QThread> thread;

    // Shared: under `mutex`.
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    cComPort *worker = nullptr; // the open port's worker, whose exchanges stop() ends
    std::deque<UnitCommand> commands;
    std::atomic<bool> stopFlag{false};
    std::atomic<qint64> beat{0};

    // The poller thread's own.
    std::unique_ptr<cComPort> port;
    std::vector<Unit> units;
    int knownSpeed = 0;    // the speed a unit last answered at (first: the configured one)
    bool speedSet = false; // the port is at the line's speed: one probe per address suffices
    bool tried = false;
    QString lastMessage;
    qint64 nextScan = 0;
    std::deque<std::size_t> scanQueue; // the range's silent addresses still to ask this scan
};

LinePoller::Private::Private(const LineSettings &settings, int poll, MonitorSink &out)
    : line(settings), pollMs(poll), sink(out),
      bareSocket(settings.speed == 0 &&
                 parseNetworkPortName(settings.port).kind == NetworkPortName::RawTcp),
      knownSpeed(settings.speed)
{
    beatNow();
    for (const int address : line.units) {
        Unit u;
        u.snapshot.line = line.name;
        u.snapshot.address = address;
        u.snapshot.values = line.values;
        u.listed = !line.unitRange;
        units.push_back(u);
    }
}

// Open, search, poll until the line goes away or stop(); then open it again after a backoff.
void LinePoller::Private::run()
{
    int failures = 0;
    while (!stopRequested()) {
        if (openPort()) {
            failures = 0;
            searchLine();
            markTried();
            pollLine();
        } else {
            markTried();
        }
        closePort();
        waitUntil(nowMs() + reopenDelay(failures++).count());
    }
    refuseCommands(QStringLiteral("the monitor is stopping"));
}

bool LinePoller::Private::openPort()
{
    auto opened = std::make_unique<cComPort>(line.port);
    if (opened->openFailed()) {
        message(QStringLiteral("cannot open %1: %2").arg(line.port, opened->openError()));
        markAllOffline();
        return false; // the failed worker goes here, on this thread
    }
    // Before any exchange: this line's workers never wait for another line's.
    opened->serialPort()->keepLockOfItsOwn();
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (stopping)
            opened->stopExchanges();
        worker = opened.get();
    }
    port = std::move(opened);
    lastMessage.clear();
    speedSet = bareSocket;
    return true;
}

// Closes (releases) the port on this thread; a line that went away takes its units offline.
void LinePoller::Private::closePort()
{
    if (!port)
        return;
    if (lineGone() && !stopRequested()) {
        message(QStringLiteral("%1 went away: %2; opening it again")
                    .arg(line.port, port->serialPort()->lastErrorString()));
        markAllOffline();
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        worker = nullptr;
    }
    port.reset();
}

bool LinePoller::Private::lineGone() const
{
    return !port || !port->serialPort() || port->serialPort()->isGone();
}

// Once per change of what the line says.
void LinePoller::Private::message(const QString &text)
{
    if (text == lastMessage)
        return;
    lastMessage = text;
    sink.lineMessage(line.name, text);
}

void LinePoller::Private::markTried()
{
    if (tried)
        return;
    tried = true;
    sink.lineTried(line.name);
}

// Waits until `deadline` (steady ms), beating every slice; a command that arrives meanwhile
// is served at once. False when stop() came.
bool LinePoller::Private::waitUntil(qint64 deadline)
{
    for (;;) {
        beatNow();
        const qint64 left = deadline - nowMs();
        if (stopRequested())
            return false;
        if (left <= 0)
            return true;
        const std::chrono::milliseconds slice(
            std::min<qint64>(left, std::chrono::milliseconds(beatSlice).count()));
        bool haveCommands = false;
        {
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait_for(lock, slice, [this] { return stopping || !commands.empty(); });
            haveCommands = !commands.empty();
        }
        if (haveCommands && !stopRequested())
            serveCommands();
    }
}

void LinePoller::Private::serveCommands()
{
    if (lineGone())
        refuseCommands(QStringLiteral("the line %1 is not open").arg(line.port));
    else
        runCommands();
}

// The first round after the port opened: every address, the first answer setting the speed.
void LinePoller::Private::searchLine()
{
    for (Unit &u : units) {
        if (stopRequested() || lineGone())
            return;
        if (!readWhole(u, u.listed ? exchangeTiming::sends : rangeProbeSends))
            lost(u);
    }
    nextScan = nowMs() + std::chrono::milliseconds(rangeScanEvery).count();
    scanQueue.clear();
}

// A cycle every pollMs from its start until the line goes away or stop().
void LinePoller::Private::pollLine()
{
    while (!stopRequested() && !lineGone()) {
        const qint64 start = nowMs();
        runCommands();
        pollOnlineUnits();
        probeOneOffline();
        scanOneAddress();
        if (!waitUntil(start + pollMs))
            return;
    }
}

void LinePoller::Private::pollOnlineUnits()
{
    for (Unit &u : units) {
        if (stopRequested() || lineGone())
            return;
        if (u.online && !pollUnit(u))
            lost(u);
    }
}

// At most one offline unit per cycle, the one longest due, so the others keep their cadence.
void LinePoller::Private::probeOneOffline()
{
    const qint64 now = nowMs();
    Unit *due = nullptr;
    for (Unit &u : units) {
        if (u.watched() && !u.online && u.nextProbe <= now &&
            (!due || u.nextProbe < due->nextProbe))
            due = &u;
    }
    if (!due || stopRequested() || lineGone())
        return;
    if (!readWhole(*due, singleCopy))
        lost(*due);
}

// A range's silent addresses are asked again every few minutes, one per cycle.
void LinePoller::Private::scanOneAddress()
{
    if (!line.unitRange || stopRequested() || lineGone())
        return;
    if (scanQueue.empty()) {
        if (nowMs() < nextScan)
            return;
        nextScan = nowMs() + std::chrono::milliseconds(rangeScanEvery).count();
        for (std::size_t i = 0; i < units.size(); ++i)
            if (!units[i].watched())
                scanQueue.push_back(i);
        if (scanQueue.empty())
            return;
    }
    Unit &u = units[scanQueue.front()];
    scanQueue.pop_front();
    if (!u.watched() && readWhole(u, singleCopy))
        message(QStringLiteral("unit %1 answers on %2").arg(u.address()).arg(line.port));
}

// One request, garbled replies asked again; the thread beats at its end.
unit::Heard LinePoller::Private::ask(QByteArray &request)
{
    const unit::Heard heard = unit::exchangeAskingAgain(*port, request);
    beatNow();
    return heard;
}

unit::SearchHooks LinePoller::Private::searchHooks()
{
    unit::SearchHooks hooks;
    hooks.exchange = [this](QByteArray &payload) { return ask(payload); };
    hooks.beforeTry = [this](int, int, int) {
        beatNow();
        return !stopRequested();
    };
    hooks.ended = [this] { return stopRequested(); };
    hooks.lineGone = [this] { return lineGone(); };
    // The probe's copies were for the board request; a unit that answered it gets the rest.
    hooks.afterStep = [this](unit::FoundUnit &) {
        port->setSendsPerExchange(exchangeTiming::sends);
        return true;
    };
    return hooks;
}

// The board request with `sends` copies (at each speed, the known one first, until the line's
// speed is found), then the firmware version. False when the unit did not answer.
bool LinePoller::Private::findBoards(UnitSnapshot &s, int sends)
{
    unit::SearchPlan plan;
    plan.address = s.address;
    if (!speedSet)
        plan.speeds = unit::searchOrder(knownSpeed);
    port->setSendsPerExchange(sends);
    const unit::FoundUnit found = unit::findUnit(*port, plan, searchHooks());
    port->setSendsPerExchange(exchangeTiming::sends);
    if (found.outcome != unit::SearchOutcome::Found)
        return false;
    if (!plan.speeds.isEmpty()) {
        knownSpeed = found.speed;
        speedSet = true;
    }
    s.speed = bareSocket ? 0 : knownSpeed;
    s.boardMap = found.boardMap;
    s.versionMajor = found.versionMajor;
    s.versionMinor = found.versionMinor;
    for (int p = 1; p <= boardPositions; ++p)
        s.boards[p - 1] = BoardSnapshot{command::boardKind(s.boardMap, p)};
    return true;
}

// Each input board's alarm relay, its on-time and period.
bool LinePoller::Private::readAssignments(UnitSnapshot &s)
{
    for (const int p : unit::boardLists(s.boardMap).input) {
        QByteArray reply = command::readAlarmRele(s.address, p);
        if (ask(reply).result != Ok)
            return false;
        const command::AlarmRele held = command::alarmRele(reply);
        s.boards[p - 1].relay = held.relay;
        s.boards[p - 1].time = held.onTime;
        s.boards[p - 1].period = held.period;
    }
    return true;
}

// One status request covers every input board; then each one's value when the line reads them.
bool LinePoller::Private::readStatus(UnitSnapshot &s)
{
    QByteArray reply = command::readStatus(s.address, unit::firstInputBoard(s.boardMap));
    if (ask(reply).result != Ok)
        return false;
    for (const int p : unit::boardLists(s.boardMap).input)
        s.boards[p - 1].statusByte = command::statusByte(reply, p);
    if (line.values && !readValues(s))
        return false;
    s.readAt = QDateTime::currentDateTimeUtc();
    return true;
}

bool LinePoller::Private::readValues(UnitSnapshot &s)
{
    for (const int p : unit::boardLists(s.boardMap).input) {
        QByteArray reply = command::readValue(s.address, p);
        if (ask(reply).result != Ok)
            return false;
        s.boards[p - 1].value = command::currentValue(reply);
    }
    return true;
}

// Boards, firmware, assignments and a status poll; the unit reported read and online.
bool LinePoller::Private::readWhole(Unit &u, int sends)
{
    UnitSnapshot s = u.snapshot;
    if (!findBoards(s, sends) || !readAssignments(s) || !readStatus(s))
        return false;
    u.snapshot = s;
    u.answered = true;
    sink.unitRead(s);
    setOnline(u);
    return true;
}

// A status poll; a case closed again after it was open reads the unit whole, as the window does.
bool LinePoller::Private::pollUnit(Unit &u)
{
    UnitSnapshot s = u.snapshot;
    if (!readStatus(s))
        return false;
    if (u.snapshot.caseOpen() && !s.caseOpen())
        return readWhole(u, exchangeTiming::sends);
    u.snapshot = s;
    sink.unitRead(s);
    return true;
}

void LinePoller::Private::setOnline(Unit &u)
{
    u.online = true;
    if (u.reported == 1)
        return;
    u.reported = 1;
    sink.unitAvailability(line.name, u.address(), true);
}

// A unit that failed an exchange: offline at once, asked again in a while. While no unit of
// the line answers, its speed is searched again (known speed first) with the next probe.
void LinePoller::Private::lost(Unit &u)
{
    u.online = false;
    u.nextProbe = nowMs() + std::chrono::milliseconds(offlineProbeEvery).count();
    if (!anyOnline())
        speedSet = bareSocket;
    // stop() ends exchanges as failures: the unit did not stop answering.
    if (!u.watched() || u.reported == 0 || stopRequested())
        return;
    u.reported = 0;
    sink.unitAvailability(line.name, u.address(), false);
}

void LinePoller::Private::markAllOffline()
{
    for (Unit &u : units)
        lost(u);
}

bool LinePoller::Private::anyOnline() const
{
    return std::any_of(units.begin(), units.end(), [](const Unit &u) { return u.online; });
}

void LinePoller::Private::runCommands()
{
    UnitCommand c;
    while (!stopRequested() && !lineGone() && takeCommand(c)) {
        QString error;
        const bool ok = runCommand(c, error);
        sink.commandDone(line.name, c.address, c.topic, ok, error);
    }
}

void LinePoller::Private::refuseCommands(const QString &error)
{
    UnitCommand c;
    while (takeCommand(c))
        sink.commandDone(line.name, c.address, c.topic, false, error);
}

bool LinePoller::Private::takeCommand(UnitCommand &command)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (commands.empty())
        return false;
    command = commands.front();
    commands.pop_front();
    return true;
}

bool LinePoller::Private::runCommand(const UnitCommand &c, QString &error)
{
    Unit *u = unitAt(c.address);
    if (!u || !u->online) {
        error = u ? QStringLiteral("unit %1 is offline").arg(c.address)
                  : QStringLiteral("no unit %1 on line %2").arg(c.address).arg(line.name);
        return false;
    }
    return c.kind == UnitCommand::Kind::SwitchRelay ? switchRelay(*u, c, error)
                                                    : setInput(*u, c, error);
}

// The unit has no reading of a relay's state. A garbled answer is not asked again: the unit
// heard the request, and a second one would switch the relay back.
bool LinePoller::Private::switchRelay(Unit &u, const UnitCommand &c, QString &error)
{
    if (!unit::isRelayBoard(u.snapshot.boardMap, c.position)) {
        error = QStringLiteral("no relay board at position %1").arg(c.position);
        return false;
    }
    QByteArray request = command::switchRele(u.address(), c.position);
    const int result = unit::exchangeOnce(*port, request).result;
    beatNow();
    return exchanged(u, result, QStringLiteral("switching relay %1").arg(c.position), error);
}

// Nothing in the reply to a write says whether the unit took it: the assignment is read back,
// and the unit's snapshot carries what it holds.
bool LinePoller::Private::setInput(Unit &u, const UnitCommand &c, QString &error)
{
    error = setInputFault(u.snapshot.boardMap, c);
    if (!error.isEmpty())
        return false;
    QByteArray write = command::setAlarmRele(u.address(), c.position, c.relay, c.time, c.period);
    if (!exchanged(u, ask(write).result, QStringLiteral("setting the alarm relay"), error))
        return false;
    QByteArray reply = command::readAlarmRele(u.address(), c.position);
    if (!exchanged(u, ask(reply).result, QStringLiteral("reading the alarm relay back"), error))
        return false;
    const command::AlarmRele held = command::alarmRele(reply);
    BoardSnapshot &board = u.snapshot.boards[c.position - 1];
    board.relay = held.relay;
    board.time = held.onTime;
    board.period = held.period;
    if (held.relay == c.relay && held.onTime == c.time && held.period == c.period)
        return true;
    error = QStringLiteral("the unit kept relay %1, %2 s, %3 s")
                .arg(held.relay)
                .arg(held.onTime)
                .arg(held.period);
    return false;
}

// A command's exchange: a unit that did not answer it goes offline.
bool LinePoller::Private::exchanged(Unit &u, int result, const QString &what, QString &error)
{
    if (result == Ok)
        return true;
    error = QStringLiteral("%1: %2").arg(what, failureWords(result));
    if (result == NoReply)
        lost(u);
    return false;
}

LinePoller::Private::Unit *LinePoller::Private::unitAt(int address)
{
    for (Unit &u : units)
        if (u.address() == address)
            return &u;
    return nullptr;
}

LinePoller::LinePoller(const LineSettings &line, int pollMs, MonitorSink &sink)
    : d(std::make_unique<Private>(line, pollMs, sink))
{
}

LinePoller::~LinePoller()
{
    stop();
}

void LinePoller::start()
{
    if (d->thread)
        return;
    d->beatNow();
    d->thread.reset(QThread::create([this] {
        d->run();
        // Hands the thread's last writes (the port closed) over through the mutex that
        // stop() takes after wait(): QThread's own wait synchronises on a futex inside Qt,
        // where the thread checkers cannot follow it.
        const std::lock_guard<std::mutex> ended(d->mutex);
    }));
    d->thread->setObjectName(QStringLiteral("line ") + d->line.name);
    d->thread->start();
}

void LinePoller::stop()
{
    if (!d->thread)
        return;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->stopping = true;
        d->stopFlag = true;
        if (d->worker)
            d->worker->stopExchanges();
    }
    d->wake.notify_all();
    d->thread->wait();
    {
        const std::lock_guard<std::mutex> joined(d->mutex);
    }
    d->thread.reset();
}

void LinePoller::submit(const UnitCommand &command)
{
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        if (d->commands.size() < maxWaitingCommands) {
            d->commands.push_back(command);
            d->wake.notify_all();
            return;
        }
    }
    d->sink.commandDone(d->line.name, command.address, command.topic, false,
                        QStringLiteral("too many commands waiting"));
}

qint64 LinePoller::lastBeat() const
{
    return d->beat.load();
}

const LineSettings &LinePoller::settings() const
{
    return d->line;
}

} // namespace monitor
