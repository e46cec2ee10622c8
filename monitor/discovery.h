#pragma once

#include "monitorconfig.h"
#include "unitsnapshot.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace monitor {

// One retained discovery message.
struct DiscoveryMessage
{
    QString topic;      // DISCOVERY/<component>/<node id>/<object id>/config
    QByteArray payload; // JSON
};

// Home Assistant's discovery for one unit: one device per unit (identifiers, firmware as
// sw_version, via_device the monitor `bridgeId`); per input board a binary_sensor for alarm
// (device class safety) and one for fault (problem), the case as a binary_sensor (tamper),
// the value as a sensor when the line reads values. Availability from both the bridge and
// the unit (availability_mode all). Unique ids are made of the bridge, line, address and
// board, so two units never share one.
QList<DiscoveryMessage> discoveryMessages(const BrokerSettings &broker, const QString &bridgeId,
                                          const UnitSnapshot &unit);

// The topics of one unit under the base topic: BASE/LINE/ADDR/<leaf>.
QString unitTopic(const BrokerSettings &broker, const QString &line, int address,
                  const QString &leaf);
// BASE/bridge/state
QString bridgeStateTopic(const BrokerSettings &broker);

} // namespace monitor
