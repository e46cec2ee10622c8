#pragma once

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>

// "vertal.link": frames on the line, off unless enabled, e.g.
// QT_LOGGING_RULES="vertal.link.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcLink)

// Logs one frame as hex with a time stamp, and hands it to the installed FrameTrace;
// `direction` is "out" or "in".
void logFrame(const char *direction, const QByteArray &bytes);

// Notes what happened on the line that is no frame (a server that floods it, one that stops
// answering), in the installed FrameTrace and the debug log.
void logNote(const QString &text);
