#pragma once

#include "monitorconfig.h"

#include <QByteArray>
#include <QString>

namespace monitor {

// A command from the broker for one unit, checked before anything is sent.
struct UnitCommand
{
    enum class Kind
    {
        SwitchRelay, // BASE/LINE/ADDR/relay/N/switch: relay N switched by hand
        SetInput,    // BASE/LINE/ADDR/input/N/set {"relay":R,"time":S,"period":S}
    };
    Kind kind = Kind::SwitchRelay;
    QString topic; // as received, for the response
    QString line;
    int address = 0;
    int position = 0; // relay N or input board N (1..4)
    int relay = 0;    // SetInput: 0 none, or a board position 1..4
    int time = 0;     // seconds, by the window's rules (unit/valuerules.h)
    int period = 0;
};

// The topic filters the monitor subscribes to for commands.
QStringList commandFilters(const BrokerSettings &broker);

// Reads a command message. False with `error` (the words of the response) when the topic is
// not a command's or the payload does not parse or breaks a rule: nothing goes to the unit.
// Whether the unit has the board at that position is the poller's to check (it knows the
// boards).
bool parseUnitCommand(const BrokerSettings &broker, const QString &topic,
                      const QByteArray &payload, UnitCommand &command, QString &error);

// {"topic":..,"ok":true} or {"topic":..,"ok":false,"error":".."}
QByteArray responsePayload(const QString &topic, bool ok, const QString &error = QString());

} // namespace monitor
