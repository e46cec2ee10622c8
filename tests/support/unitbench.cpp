#include "unitbench.h"

#include "ccomport.h"
#include "commandcodes.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

UnitState UnitBench::defaultUnit()
{
    UnitState state;
    state.address = 1;
    state.lineSpeed = 4800;
    state.boardMap = 0x19;
    state.versionMajor = 1;
    state.versionMinor = 5;
    return state;
}

UnitBench::UnitBench(const UnitState &unitState, const QString &linkPath,
                     const QList<UnitState> &neighbourStates)
    : unit(unitState), server(unit)
{
    for (const UnitState &state : neighbourStates)
        server.addUnit(neighbours.emplace_back(state));
    ready = server.start(linkPath);
    const QString path = linkPath.isEmpty() ? server.devicePath() : linkPath;
    window = std::make_unique<MainWindow>(nullptr, [path] { return QStringList{path}; });
    window->show();
    connect(&pendingTimer, &QTimer::timeout, this, &UnitBench::runPending);
    pendingTimer.setInterval(1);
}

UnitBench::~UnitBench()
{
    pendingTimer.stop();
    window.reset();
    server.stop();
}

void UnitBench::click(const char *buttonName)
{
    auto *button = control<QAbstractButton>(buttonName);
    QTest::mouseClick(button, Qt::LeftButton);
}

QString UnitBench::startText() const
{
    return control<QPushButton>("start")->text();
}
QString UnitBench::stateText() const
{
    return control<QLabel>("state")->text();
}

QStringList UnitBench::items(const char *comboName) const
{
    const QComboBox *combo = control<QComboBox>(comboName);
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts << combo->itemText(i);
    return texts;
}

bool UnitBench::connectUnit(int address)
{
    if (!QTest::qVerify(isReady(), "bench.isReady()", "", __FILE__, __LINE__))
        return false;
    control<QSpinBox>("addr")->setValue(address);
    click("start");
    return startText() == QStringLiteral("Стоп") && window->isPolling();
}

bool UnitBench::waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    return QTest::qWaitFor(condition, timeoutMs);
}

void UnitBench::when(std::function<bool()> condition, std::function<void()> action)
{
    pending.append({std::move(condition), std::move(action)});
    pendingTimer.start();
}

void UnitBench::runPending()
{
    for (qsizetype i = 0; i < pending.size(); ++i) {
        if (!pending.at(i).condition())
            continue;
        const Pending due = pending.takeAt(i);
        if (pending.isEmpty())
            pendingTimer.stop();
        due.action(); // may nest event loops; `pending` may change meanwhile
        return;
    }
}

bool UnitBench::portExchanging() const
{
    return window->primaryWorker() && window->primaryWorker()->isExchanging();
}

bool UnitBench::pollExchanging() const
{
    return window->pollWorker() && window->pollWorker()->isExchanging();
}

QList<QByteArray> UnitBench::requests() const
{
    QList<QByteArray> payloads;
    for (const ReceivedFrame &frame : server.receivedFrames()) {
        if (frame.wellFormed)
            payloads << frame.payload;
    }
    return payloads;
}

QList<QByteArray> UnitBench::requestsFor(quint8 command) const
{
    QList<QByteArray> payloads;
    for (const QByteArray &payload : requests()) {
        if (payload.size() > 1 && quint8(payload.at(1)) == command)
            payloads << payload;
    }
    return payloads;
}

bool UnitBench::waitForRequest(quint8 command, int timeoutMs)
{
    return waitUntil([&] { return !requestsFor(command).isEmpty(); }, timeoutMs);
}

void UnitBench::faultOn(quint8 command, FaultKind kind)
{
    Fault fault = Fault::of(kind);
    fault.command = command;
    server.injectFault(fault);
}

bool UnitBench::waitForTicks(int count, int timeoutMs)
{
    const int before = requestsFor(CMD_READ_STATUS).size();
    // The worker's exchange ends on the window's thread, in the tick, right before the tick
    // paints its reply with no event handled in between: once it has ended, the reply is
    // painted. What the painting posted (a screen reader's events) is handled after it.
    const bool sent = waitUntil(
        [&] { return requestsFor(CMD_READ_STATUS).size() >= before + count && !pollExchanging(); },
        timeoutMs);
    QCoreApplication::processEvents();
    return sent;
}
