#pragma once

#include <QString>

// The group that owns the device at `path`, which a user may join to use it; empty when it
// cannot be told, when it is root's (or on Windows).
QString deviceGroup(const QString &path);

