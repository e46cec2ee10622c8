#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <sys/types.h>

// The console simulator `vertal-unit-sim` run as a child process, so that its CPU time is
// its own and not the wizard's. Its standard input stays open while it runs: closing it is
// how the simulator is told to leave.
class SimChild
{
public:
    Q_DISABLE_COPY(SimChild)
    SimChild() = default;
    // Stops the simulator if it still runs.
    ~SimChild();

    // Starts the simulator with `args` (its own options, e.g. --speed 4800) and waits up to
    // five seconds for the device path it prints first. False with `error` set otherwise.
    bool start(const QStringList &args, QString *error);
    // Closes its standard input and waits for it to leave (killed after two seconds).
    void stop();

    // Keeps the unit's line open from our side too (never read), as a real line is always
    // there: the simulator then listens at once when the wizard opens it, instead of
    // noticing the open only after the nap it takes while nobody holds the line.
    bool holdLine();

    // Types one line at the simulator's console ("fault noanswer"); its answer is not read.
    bool command(const QByteArray &line);

    QString devicePath() const { return path; }
    pid_t pid() const { return child; }
    // Seconds of CPU (user and system) the simulator has used so far; -1 when not running.
    double cpuSeconds() const;

private:
    pid_t child = -1;
    int toChild = -1;
    int fromChild = -1;
    int heldLine = -1;
    QString path;
};

// Where the build put the simulator.
QString simulatorProgram();
