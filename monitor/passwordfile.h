#pragma once

#include <QString>

namespace monitor {

// The broker password from `path`: its first line, without the line end. Refused (false,
// `error` says why) when the file cannot be read, is empty, is larger than 4 KiB, or may
// be read by its group or by others (chmod 600 is the fix, named in the reason).
bool readPasswordFile(const QString &path, QString &password, QString &error);

} // namespace monitor
