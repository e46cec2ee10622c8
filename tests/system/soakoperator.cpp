#include "soakoperator.h"

#include "ccomport.h"
#include "linespeeds.h"
#include "soakchecks.h"
#include "soakrig.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QThread>
#include <QTimer>

namespace {

// How deep operator steps may nest inside each other's waits before only steps that
// cannot wait themselves (closing, typing, the unit's side) are taken.
constexpr int maxDepth = 3;
// A connection found this long after the last mangled reply has none of its pieces left
// on the line.
constexpr qint64 faultSettleMs = 3000;

// Units the line may lead to after a replug; the last two have no board to set up.
const quint8 boardMaps[] = {0x19, 0x19, 0x19, 0x29, 0x05, 0x01, 0xAA, 0x66, 0x19, 0x00, 0xFF};

} // namespace

SoakOperator::SoakOperator(SoakRig &rig, SoakChecks &checks, quint32 seed)
    : rig(rig), checks(checks), rng(seed)
{
}

void SoakOperator::start()
{
    clock.start();
    scheduleNext();
}

void SoakOperator::windDown(std::function<void()> done)
{
    windingDown = true;
    whenDone = std::move(done);
}

// One pending step at a time; it is armed before the step runs, so that it fires inside
// the step's own waits when the step starts an operation.
void SoakOperator::scheduleNext()
{
    int delay = 0;
    if (windingDown)
        delay = 50;
    else if (chance(40))
        delay = pick(0, 50);
    else if (chance(67))
        delay = pick(50, 400);
    else
        delay = pick(400, 1500);
    QTimer::singleShot(delay, this, &SoakOperator::step);
}

void SoakOperator::step()
{
    scheduleNext();
    ++depth;
    if (windingDown) {
        clearFault();
        if (unplugged)
            replug();
        if (SoakRig::messageBox())
            closeBox();
        else if (SoakRig::valueDialog())
            closeDialog();
        else if (SoakRig::progressDialog())
            cancelSearch();
    } else {
        ++actionCount;
        changeWeather();
        endStickyFault();
        perform(choose());
    }
    const bool calm = depth == 1 && quiet();
    checks.afterStep(calm);
    --depth;
    if (windingDown && calm && whenDone) {
        auto done = std::move(whenDone);
        whenDone = nullptr;
        done();
    }
}

bool SoakOperator::unitHasBoards() const
{
    return !rig.unitBoards(1).isEmpty() || !rig.unitBoards(2).isEmpty();
}

bool SoakOperator::quiet() const
{
    const bool exchanging =
        (rig.window->primaryWorker() && rig.window->primaryWorker()->isExchanging()) ||
        (rig.window->pollWorker() && rig.window->pollWorker()->isExchanging());
    return QThread::currentThread()->loopLevel() == 1 && !SoakRig::modalOpen() && !exchanging;
}

SoakOperator::Action SoakOperator::choose()
{
    int total = 0;
    int weights[int(Action::Count)];
    for (int a = 0; a < int(Action::Count); ++a) {
        const Action action = Action(a);
        weights[a] = depth > maxDepth && blocks(action) ? 0 : weight(action);
        total += weights[a];
    }
    int roll = pick(0, total - 1);
    for (int a = 0; a < int(Action::Count); ++a) {
        if (roll < weights[a])
            return Action(a);
        roll -= weights[a];
    }
    return Action::Nothing;
}

// Steps that may start an operation that waits (an exchange, a modal window).
bool SoakOperator::blocks(Action action) const
{
    switch (action) {
    case Action::StartStop:
    case Action::PickInput:
    case Action::SetRelay:
    case Action::SwitchRelay:
    case Action::CurrentValue:
        return true;
    default:
        return false;
    }
}

// How likely each step is now. Main window steps need the window free of modal windows;
// closing steps need their window on top.
int SoakOperator::weight(Action action) const
{
    const bool free = !SoakRig::modalOpen();
    const bool connected = rig.startText() == QStringLiteral("Стоп");
    switch (action) {
    case Action::StartStop:
        return free ? (connected ? 1 : (unplugged ? 1 : 8)) : 0;
    case Action::PickInput:
    case Action::PickRelay:
    case Action::TurnSpin:
        return free && connected ? 4 : 0;
    case Action::TypeRelay:
    case Action::SetRelay:
    case Action::SwitchRelay:
    case Action::CurrentValue:
        return free && connected ? 3 : 0;
    case Action::SetAddress:
        return free && !connected ? 1 : 0;
    case Action::CloseBox:
        return SoakRig::messageBox() ? 25 : 0;
    case Action::CancelSearch:
        return SoakRig::progressDialog() ? 1 : 0;
    case Action::CloseDialog:
        return SoakRig::valueDialog() ? 6 : 0;
    case Action::ToggleCase:
        return 2;
    case Action::ChangeStatuses:
    case Action::ChangeValues:
        return 3;
    case Action::InjectFault:
        return stormy ? 4 : 0;
    case Action::Unplug:
        return stormy && !unplugged ? 1 : 0;
    case Action::Replug: // also the technician's answer to a unit without boards
        return (unplugged || !unitHasBoards()) && !connected ? 8 : 0;
    case Action::Nothing:
        return 3;
    case Action::Count:
        break;
    }
    return 0;
}

void SoakOperator::perform(Action action)
{
    switch (action) {
    case Action::StartStop:
        return startStop();
    case Action::PickInput:
        return pickInput();
    case Action::PickRelay:
        return pickRelay();
    case Action::TypeRelay:
        return typeRelay();
    case Action::TurnSpin:
        return turnSpin();
    case Action::SetRelay:
        return clickMain("set_rele");
    case Action::SwitchRelay:
        return clickMain("reset_rele");
    case Action::CurrentValue:
        return clickMain("current_value");
    case Action::SetAddress:
        return setAddress();
    case Action::CloseBox:
        return closeBox();
    case Action::CancelSearch:
        return cancelSearch();
    case Action::CloseDialog:
        return closeDialog();
    case Action::ToggleCase:
        return rig.unit.modify([](UnitState &s) { s.caseOpen = !s.caseOpen; });
    case Action::ChangeStatuses: {
        std::array<quint8, 4> status{};
        for (quint8 &st : status)
            st = quint8(chance(60) ? 0 : pick(1, 3));
        return rig.unit.modify([status](UnitState &s) { s.status = status; });
    }
    case Action::ChangeValues: {
        std::array<quint16, 4> value{};
        for (quint16 &v : value)
            v = quint16(pick(0, 65535));
        return rig.unit.modify([value](UnitState &s) { s.value = value; });
    }
    case Action::InjectFault:
        return injectFault();
    case Action::Unplug:
        return unplug();
    case Action::Replug:
        return replug();
    case Action::Nothing:
    case Action::Count:
        return;
    }
}

void SoakOperator::startStop()
{
    if (rig.startText() != QStringLiteral("Стоп")) {
        // Late replies must never show as the answers to other requests: the contents of
        // every connection are judged, except where the line itself mangled a reply into
        // another well-formed one (the window cannot tell that from the unit's word).
        const bool calmLine = rig.server.fault().kind != FaultKind::Hostile &&
                              clock.elapsed() - lastFaultMs > faultSettleMs;
        checks.setRepliesTrusted(calmLine);
        ++searchCount;
    }
    clickMain("start");
}

// Keyboard steps on the focused combo box, as the operator's arrow keys would do.
void SoakOperator::pickInput()
{
    auto *input = rig.control<QComboBox>("input");
    if (!input->isEnabled() || input->count() < 2)
        return;
    QTest::keyClick(input, chance(50) ? Qt::Key_Down : Qt::Key_Up);
}

void SoakOperator::pickRelay()
{
    auto *output = rig.control<QComboBox>("output");
    if (!output->isEnabled())
        return;
    if (output->isEditable())
        output->setCurrentIndex(pick(0, output->count() - 1));
    else
        QTest::keyClick(output, chance(50) ? Qt::Key_Down : Qt::Key_Up);
}

// Types into the relay box's edit field; now and then confirms with Enter.
void SoakOperator::typeRelay()
{
    auto *output = rig.control<QComboBox>("output");
    if (!output->isEnabled() || !output->isEditable() || !output->lineEdit())
        return;
    static const char *const texts[] = {"1", "2", "3", "4", "0", "9", "x", "12", ""};
    QLineEdit *edit = output->lineEdit();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, QString::fromLatin1(texts[pick(0, 8)]));
    if (chance(15))
        QTest::keyClick(edit, Qt::Key_Return);
}

void SoakOperator::turnSpin()
{
    auto *spin = rig.control<QSpinBox>(chance(50) ? "a_time" : "a_period");
    if (!spin->isEnabled())
        return;
    if (chance(50))
        QTest::keyClick(spin, chance(50) ? Qt::Key_Up : Qt::Key_Down);
    else
        spin->setValue(pick(spin->minimum(), spin->maximum()));
}

void SoakOperator::clickMain(const char *button)
{
    auto *widget = rig.control<QAbstractButton>(button);
    if (widget && widget->isEnabled() && !SoakRig::modalOpen())
        QTest::mouseClick(widget, Qt::LeftButton);
}

// Mostly the unit's own address or 0 (ask the unit); rarely one nobody answers.
void SoakOperator::setAddress()
{
    auto *addr = rig.control<QSpinBox>("addr");
    if (!addr->isEnabled())
        return;
    const int roll = pick(1, 100);
    addr->setValue(roll <= 60 ? int(rig.unit.state().address) : roll <= 95 ? 0 : pick(2, 255));
}

void SoakOperator::closeBox()
{
    QMessageBox *box = SoakRig::messageBox();
    if (!box || box->buttons().isEmpty())
        return;
    checks.boxSeen(box->windowTitle(), box->text());
    QTest::mouseClick(box->buttons().first(), Qt::LeftButton);
}

// Now and then: a search canceled every time would rarely find the unit.
void SoakOperator::cancelSearch()
{
    QProgressDialog *progress = SoakRig::progressDialog();
    if (!progress || (!windingDown && !chance(30)))
        return;
    if (auto *cancel = progress->findChild<QPushButton *>())
        QTest::mouseClick(cancel, Qt::LeftButton);
}

// "Конец", the window's close button, or Escape.
void SoakOperator::closeDialog()
{
    QDialog *dialog = SoakRig::valueDialog();
    if (!dialog)
        return;
    switch (pick(0, 2)) {
    case 0:
        if (auto *done = dialog->findChild<QPushButton *>(QStringLiteral("done")))
            QTest::mouseClick(done, Qt::LeftButton);
        break;
    case 1:
        dialog->close();
        break;
    default:
        QTest::keyClick(dialog, Qt::Key_Escape);
        break;
    }
}

void SoakOperator::injectFault()
{
    // Late replies twice as often as the others.
    static const FaultKind kinds[] = {
        FaultKind::NoAnswer, FaultKind::Delay,     FaultKind::Delay,        FaultKind::Chunked,
        FaultKind::Garbage,  FaultKind::OddLength, FaultKind::BadHighDigit, FaultKind::BadLowDigit,
        FaultKind::Babble,   FaultKind::Unplug,    FaultKind::Hostile,
    };
    Fault fault = Fault::of(kinds[pick(0, int(std::size(kinds)) - 1)]);
    // Half of the delays outlast one attempt (315 ms): the unit then answers every copy,
    // and the late copies arrive while the next requests go out.
    fault.delayMs = chance(50) ? pick(20, 300) : pick(316, 2000);
    fault.chunkBytes = pick(1, 6);
    fault.pauseMs = pick(1, 80);
    fault.garbage = QByteArray(pick(1, 12), char(pick(' ', '~')));
    fault.babbleBytes = pick(50, 4096);
    fault.seed = quint32(rng());
    fault.sticky =
        fault.kind != FaultKind::Unplug && chance(fault.kind == FaultKind::Delay ? 40 : 15);
    stickyLeft = fault.sticky ? pick(1, 6) : 0;
    rig.server.injectFault(fault);
    ++faultKinds[faultKindName(fault.kind)];
    if (fault.kind == FaultKind::Hostile) {
        lastFaultMs = clock.elapsed();
        checks.setRepliesTrusted(false);
    }
    if (fault.kind == FaultKind::Unplug)
        unplugged = true; // played on the next answered request
    ++faultCount;
}

// Storms of 5 to 15 s with faults, calm spells of 15 to 30 s without.
void SoakOperator::changeWeather()
{
    if (clock.elapsed() < weatherChangeMs)
        return;
    stormy = !stormy;
    weatherChangeMs = clock.elapsed() + (stormy ? pick(5000, 15000) : pick(15000, 30000));
    if (!stormy)
        clearFault();
}

// A mangling fault played until now may still have pieces of its last reply on the way.
void SoakOperator::clearFault()
{
    if (rig.server.fault().kind == FaultKind::Hostile)
        lastFaultMs = clock.elapsed();
    rig.server.clearFault();
}

void SoakOperator::endStickyFault()
{
    if (stickyLeft > 0 && --stickyLeft == 0)
        clearFault();
}

void SoakOperator::unplug()
{
    rig.server.unplug();
    ++faultKinds[QStringLiteral("pulled")];
    unplugged = true;
    ++faultCount;
}

// A fresh line under the same name, now and then with another unit behind it: other
// boards or another line speed, found by the next search.
void SoakOperator::replug()
{
    if (!windingDown && (chance(30) || !unitHasBoards())) {
        const quint8 map = boardMaps[pick(0, int(std::size(boardMaps)) - 1)];
        const int speed =
            chance(25) ? unitLineSpeeds[pick(0, int(unitLineSpeeds.size()) - 1)] : 4800;
        rig.unit.modify([map, speed](UnitState &s) {
            s.boardMap = map;
            s.lineSpeed = speed;
        });
    }
    clearFault();
    rig.server.replug();
    unplugged = false;
}

QString SoakOperator::faultsByKind() const
{
    QStringList parts;
    for (auto it = faultKinds.cbegin(); it != faultKinds.cend(); ++it)
        parts << QStringLiteral("%1 %2").arg(it.key()).arg(it.value());
    return parts.join(QStringLiteral(", "));
}
