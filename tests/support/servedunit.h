#pragma once

#include "simunit.h"
#include "unitserver.h"

#include <QString>
#include <QTemporaryDir>
#include <memory>

// A simulated unit served on a pseudo-terminal under a fixed link path in a folder of its
// own, for tests of the line without a window: serve() from init(), stop() from cleanup().
class ServedUnit
{
public:
    // The line tests' unit: address 7 at `speed` baud, boards 0x29 (an input board at 1,
    // relay boards at 2 and 3), firmware 1.5.
    static constexpr int speed = 19200;
    static UnitState lineTestUnit()
    {
        UnitState state;
        state.address = 7;
        state.lineSpeed = speed;
        state.boardMap = 0x29;
        return state;
    }

    // Requests to that unit: its boards, its firmware version.
    static inline const QByteArray readBoards = QByteArray::fromHex("0705");
    static inline const QByteArray readVersion = QByteArray::fromHex("0726");

    ServedUnit() : unit(lineTestUnit()) {}

    // Sets the unit to `state` and serves it on a fresh line at linkPath(); false on failure
    // (see errorString()).
    bool serve(const UnitState &state = lineTestUnit())
    {
        unit.setState(state);
        server = std::make_unique<UnitServer>(unit);
        return server->start(linkPath());
    }
    void stop() { server.reset(); }
    QString linkPath() const { return dir.filePath(QStringLiteral("unit")); }
    QString errorString() const { return server ? server->errorString() : QString(); }

    SimUnit unit;
    std::unique_ptr<UnitServer> server;

private:
    QTemporaryDir dir;
};
