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
    // The numbers read that are beyond their field's range (relay 0..4, time 0..300 s, period
    // 0..120 s, address 0..255, a line speed), each said with the range; such a field keeps
    // its default.
    QStringList outOfRange;

    QJsonObject toJson() const;
    // The board map byte the kinds make.
    int boardMap() const;
};

// Reads a document; false with `error` set when it is not one of ours (not JSON, another
// format, a field missing or of the wrong type, a board position beyond 1..4). A number
// beyond its range does not stop the reading: it is noted in `document.outOfRange`.
bool readConfigDocument(const QByteArray &bytes, ConfigDocument &document, QString &error);

// What keeps `document` from being loaded into a unit with `boardMap`: its numbers beyond
// their ranges (the window's limits among them), another board kind at a position, a relay
// number that names no relay board, an on-time not above the period. Empty when it fits.
QStringList configMisfits(const ConfigDocument &document, int boardMap);
