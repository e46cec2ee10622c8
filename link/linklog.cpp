#include "linklog.h"

#include "frametrace.h"

#include <QTime>

Q_LOGGING_CATEGORY(lcLink, "vertal.link", QtWarningMsg)

void logFrame(const char *direction, const QByteArray &bytes)
{
    if (FrameTrace *trace = FrameTrace::installed())
        trace->record(direction, bytes);
    qCDebug(lcLink).noquote() << QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"))
                              << direction << bytes.toHex(' ');
}

void logNote(const QString &text)
{
    if (FrameTrace *trace = FrameTrace::installed())
        trace->note(text);
    qCDebug(lcLink).noquote() << QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"))
                              << "note" << text;
}
