#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class SimUnit;
class UnitServer;

// The simulator's console: runs one command line against the unit and its server and
// returns what to print. Commands are listed in `help()`.
class SimConsole
{
public:
    SimConsole(SimUnit &unit, UnitServer &server) : units{&unit}, server(server) {}

    // One more unit on the line; the board commands act on the one picked with
    // "unit ADDRESS" (the first at the start).
    void addUnit(SimUnit &another) { units.append(&another); }

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
    QString pickUnit(const QStringList &args);
    QString unitList() const; // "units 1 2* 5": the addresses, * the picked one

    QList<SimUnit *> units;
    int picked = 0; // index into units
    UnitServer &server;
};

// Parses a decimal or 0x-prefixed hexadecimal number; false if it is neither.
bool parseConsoleNumber(const QString &text, int &value);
