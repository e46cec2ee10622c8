#pragma once

#include <QString>
#include <QStringList>

class SimUnit;
class UnitServer;

// The simulator's console: runs one command line against the unit and its server and
// returns what to print. Commands are listed in `help()`.
class SimConsole
{
public:
    SimConsole(SimUnit &unit, UnitServer &server) : unit(unit), server(server) {}

    // Runs `line`; sets `quit` when the operator asked to leave. The text ends with a
    // line feed unless it is empty.
    QString execute(const QString &line, bool &quit);

    static QString help();

private:
    QString setStatus(const QStringList &args);
    QString setCase(const QStringList &args);
    QString setValue(const QStringList &args);
    QString setKind(const QStringList &args);
    QString setFault(const QStringList &args);
    QString showState() const;
    QString showLog(const QStringList &args);

    SimUnit &unit;
    UnitServer &server;
};

// Parses a decimal or 0x-prefixed hexadecimal number; false if it is neither.
bool parseConsoleNumber(const QString &text, int &value);
