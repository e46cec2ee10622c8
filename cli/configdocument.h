#pragma once

#include "commandset.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

// A unit's settings as one JSON document (config save writes it, config load reads it):
//   {"document": "vertal-config", "format": 1, "address": 1, "speed": 4800,
//    "firmware": "2.15",
//    "boards": [{"position": 1, "kind": "input", "relay": 2, "time": 30, "period": 10},
//               {"position": 2, "kind": "relay"}, ...]}
// Every position 1..4 appears once; only input boards carry an assignment. Address, speed
// and firmware say where the document came from: a load does not set them.
struct ConfigDocument
{
    static constexpr int format = 1;

    int address = 0;
    int speed = 0;
    QString firmware;
    int kinds[5] = {};                // BoardKind by position 1..4; entry 0 unused
    command::AlarmRele assignment[5]; // input boards only

    QJsonObject toJson() const;
    // The board map byte the kinds make.
    int boardMap() const;
};

// Reads a document; false with `error` set when it is not one of ours (not JSON, another
// format, a field missing or of the wrong type).
bool readConfigDocument(const QByteArray &bytes, ConfigDocument &document, QString &error);

// What keeps `document` from being loaded into a unit with `boardMap`: another board kind
// at a position, a relay number that names no relay board, an on-time or period beyond the
// window's limits. Empty when it fits.
QStringList configMisfits(const ConfigDocument &document, int boardMap);
