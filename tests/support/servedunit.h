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
    explicit ServedUnit(const UnitState &state) : unit(state) {}

    // Sets the unit to `state` and serves it on a fresh line at linkPath(); false on failure
    // (see errorString()).
    bool serve(const UnitState &state)
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
