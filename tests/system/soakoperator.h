#pragma once

#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <functional>
#include <random>

class SoakChecks;
class SoakRig;

// The operator who never rests, seeded: at random moments (often inside the waits of the
// window's own operations) it presses Start/Stop, picks input boards and relays, types
// into the relay box, turns the spin boxes, presses "Установить", "Переключить" and
// "Текущее значение", closes the value dialog in its three ways, cancels the search and
// closes message boxes; and, as the unit's other side, opens and closes the case, changes
// statuses and values, injects every kind of line fault, pulls the line out and puts a
// fresh one in for the next search. After every step it runs the checks.
class SoakOperator : public QObject
{
    Q_OBJECT
public:
    SoakOperator(SoakRig &rig, SoakChecks &checks, quint32 seed);

    void start();
    // From now on only closes what is open and clears faults; calls `done` once nothing
    // is going on any more.
    void windDown(std::function<void()> done);

    int actions() const { return actionCount; }
    int faultsInjected() const { return faultCount; }
    int searches() const { return searchCount; }
    // "noanswer 5, delay 7, ..., pulled 3": the faults injected, by kind.
    QString faultsByKind() const;

private:
    enum class Action
    {
        StartStop,
        PickInput,
        PickRelay,
        TypeRelay,
        TurnSpin,
        SetRelay,
        SwitchRelay,
        CurrentValue,
        SetAddress,
        CloseBox,
        CancelSearch,
        CloseDialog,
        ToggleCase,
        ChangeStatuses,
        ChangeValues,
        InjectFault,
        Unplug,
        Replug,
        Nothing,
        Count
    };

    void scheduleNext();
    void step();
    Action choose();
    bool blocks(Action action) const;
    int weight(Action action) const;
    void perform(Action action);
    bool quiet() const;
    bool unitHasBoards() const;

    void startStop();
    void pickInput();
    void pickRelay();
    void typeRelay();
    void turnSpin();
    void clickMain(const char *button);
    void setAddress();
    void closeBox();
    void cancelSearch();
    void closeDialog();
    void injectFault();
    void unplug();
    void replug();
    void endStickyFault();
    void changeWeather();
    void clearFault();

    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); }
    bool chance(int percent) { return pick(1, 100) <= percent; }

    SoakRig &rig;
    SoakChecks &checks;
    std::mt19937 rng;
    QElapsedTimer clock;
    int depth = 0;
    int actionCount = 0;
    int faultCount = 0;
    int searchCount = 0;
    QMap<QString, int> faultKinds;
    int stickyLeft = 0;           // actions until a sticky fault is cleared
    qint64 lastFaultMs = -100000; // when the last mangling (hostile) fault was armed
    bool unplugged = false;
    bool stormy = false;        // faults come only in storms; calm spells let contents be judged
    qint64 weatherChangeMs = 0; // when the weather turns next
    bool windingDown = false;
    std::function<void()> whenDone;
};
