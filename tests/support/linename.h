#pragma once

#include <QString>
#include <QTemporaryDir>

// A name for a unit's line in a folder of its own. Once a bare pseudo-terminal is unplugged,
// its number goes to the next one any test opens, so a test that opens the line again after
// an unplug (and must fail, or must find the same unit) names the line with this instead.
class LineName
{
public:
    QString path() const { return dir.filePath(QStringLiteral("line")); }

private:
    QTemporaryDir dir;
};
