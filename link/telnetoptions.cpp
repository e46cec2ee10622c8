#include "telnetoptions.h"

#include "telnetcodec.h"

namespace {

// The verb that says yes or no for `side`: WILL/WONT for what the program does, DO/DONT for
// what the server does.
quint8 verbFor(TelnetOptions::Side side, bool yes)
{
    if (side == TelnetOptions::Side::Ours)
        return yes ? telnet::will : telnet::wont;
    return yes ? telnet::doOption : telnet::dont;
}

} // namespace

TelnetOptions::TelnetOptions(std::function<bool(quint8)> wantedOptions)
    : wanted(std::move(wantedOptions))
{
}

void TelnetOptions::ask(Side side, quint8 option, QByteArray &out)
{
    State &s = states[index(side, option)];
    if (s != No)
        return;
    s = WantYes;
    out += telnet::negotiation(verbFor(side, true), option);
}

void TelnetOptions::received(quint8 verb, quint8 option, QByteArray &out)
{
    ++commands;
    const Side side = verb == telnet::will || verb == telnet::wont ? Side::His : Side::Ours;
    if (verb == telnet::will || verb == telnet::doOption)
        enableAsked(side, option, out);
    else
        disableAsked(side, option, out);
}

// The server would enable `option` on `side` (WILL, or DO).
void TelnetOptions::enableAsked(Side side, quint8 option, QByteArray &out)
{
    const int i = index(side, option);
    switch (states[i]) {
    case No:
        if (wanted(option)) {
            states[i] = Yes;
            out += telnet::negotiation(verbFor(side, true), option);
        } else if (!refusalSaid[i]) {
            refusalSaid[i] = true;
            out += telnet::negotiation(verbFor(side, false), option);
        }
        break;
    case WantYes:
        states[i] = Yes; // the answer to our request
        break;
    case WantNo:
        states[i] = No; // a server that answers a refusal with yes: take it as no
        break;
    case Yes:
        break;
    }
}

// The server would disable `option` on `side` (WONT, or DONT).
void TelnetOptions::disableAsked(Side side, quint8 option, QByteArray &out)
{
    const int i = index(side, option);
    switch (states[i]) {
    case Yes:
        states[i] = No;
        out += telnet::negotiation(verbFor(side, false), option);
        break;
    case WantYes:
        states[i] = No;
        refusals[i] = true;
        break;
    case WantNo:
        states[i] = No;
        break;
    case No:
        break;
    }
}
