#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <functional>

// The Telnet options of one connection to a serial server, agreed by RFC 1143's Q method:
// each side of each option is No, Yes, WantNo or WantYes, and a command that changes
// nothing is never answered, so that two programs cannot answer each other without end.
// One rule more keeps a server that repeats a request the program refuses from being
// answered each time: a refusal is said once per option and side.
class TelnetOptions
{
public:
    // Ours: what the program does (the server's DO and DONT); his: what the server does
    // (its WILL and WONT).
    enum class Side
    {
        Ours,
        His,
    };

    // `wanted` tells the options the program takes part in (either side).
    explicit TelnetOptions(std::function<bool(quint8 option)> wanted);

    // Asks for `option` on `side` to be enabled: the request is appended to `out` (nothing
    // when it is enabled or asked already).
    void ask(Side side, quint8 option, QByteArray &out);
    // The server's WILL, WONT, DO or DONT: the state moves, and the answer owed, if any, is
    // appended to `out`.
    void received(quint8 verb, quint8 option, QByteArray &out);

    bool enabled(Side side, quint8 option) const { return state(side, option) == Yes; }
    // Asked for by the program and refused by the server.
    bool refused(Side side, quint8 option) const { return refusals[index(side, option)]; }
    // Option commands received so far (WILL, WONT, DO, DONT).
    int commandsReceived() const { return commands; }

private:
    enum State : quint8
    {
        No,
        Yes,
        WantNo,
        WantYes,
    };

    static int index(Side side, quint8 option) { return (side == Side::His ? 256 : 0) + option; }
    State state(Side side, quint8 option) const { return states[index(side, option)]; }
    void enableAsked(Side side, quint8 option, QByteArray &out);
    void disableAsked(Side side, quint8 option, QByteArray &out);

    std::function<bool(quint8)> wanted;
    State states[512] = {};
    bool refusals[512] = {};
    bool refusalSaid[512] = {};
    int commands = 0;
};
