#pragma once

#include "frametrace.h"

#include <QFile>
#include <QString>
#include <QStringList>

// The lines of a frame trace (or any text file), empty ones left out, in `lines`; false
// when the file cannot be read.
inline bool readTraceLines(const QString &path, QStringList &lines)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    return true;
}

// Opens `trace` on `path` and installs it for the link's frames (until it is destroyed);
// false when the file cannot be opened.
inline bool installTrace(FrameTrace &trace, const QString &path)
{
    if (!trace.open(path))
        return false;
    FrameTrace::install(&trace);
    return true;
}
