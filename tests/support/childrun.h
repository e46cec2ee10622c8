#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// A test program that runs part of itself in a child process (what must end the process, or
// run as another user): the parent starts its own binary with a mode name and arguments;
// `main()` asks `childMode()` first and runs that mode instead of the tests. The child tells
// the parent what it saw as "key=value" lines on its output (`reportToParent`).

// What a child run left behind.
struct ChildRun
{
    bool finished = false; // ended within the timeout
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    int exitCode = -1;
    QStringList keys;   // in the order reported, one per line
    QStringList values; // the value of each line in `keys`
    QString out;        // the child's output and error output as they were, for failure messages
    QString err;

    bool endedWith(int code) const;
    // The last value reported for `key`, or an empty string.
    QString value(const QString &key) const;
    QStringList valuesOf(const QString &key) const;
    bool has(const QString &key) const { return keys.contains(key); }
};

// This test program running as a child, for a test that talks to it while it runs (signals).
class SelfChild
{
public:
    // Starts the child in `mode` with `arguments`. `environment` is the child's; `wrapper`
    // (e.g. runuser -u nobody --) runs in front of the program.
    void start(const QString &mode, const QStringList &arguments,
               QProcessEnvironment environment = QProcessEnvironment::systemEnvironment(),
               const QStringList &wrapper = {});
    // Waits until the child has reported `key` (with `value`, unless that is null), or has
    // ended, or `ms` have passed.
    bool waitFor(const QString &key, const QString &value = {}, int ms = 20000);
    // Waits up to `ms` for the child's end.
    bool finish(int ms);
    void signal(int signo);
    // What the child has reported so far; once finished, its exit too.
    const ChildRun &run();

private:
    bool reported(const QString &key, const QString &value);

    QProcess process;
    ChildRun current;
};

// Runs this test program as a child in `mode` with `arguments` and waits up to `timeoutMs`
// (then kills it); `environment` and `wrapper` as for `SelfChild::start`.
ChildRun runSelfAsChild(const QString &mode, const QStringList &arguments, int timeoutMs,
                        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment(),
                        const QStringList &wrapper = {});

// The mode this process was started in as a child, or an empty string in the parent.
QString childMode();
// The child's arguments (after the program's name), valid once `childMode()` is not empty.
QStringList childArguments(int argc, char **argv);

// One "key=value" line to the parent; newlines and backslashes in `value` are escaped.
void reportToParent(const QString &key, const QString &value);
