#pragma once

#include <QString>

// Points the symbolic link `link` at `target`, replacing an earlier link in one step.
// Refuses (false, `error` set) when `link` exists and is not a symbolic link.
bool placeDeviceLink(const QString &link, const QString &target, QString *error);

// Removes `link` if it is a symbolic link; leaves anything else alone.
void removeDeviceLink(const QString &link);
