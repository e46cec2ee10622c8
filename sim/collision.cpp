#include "collision.h"

QByteArray collideFrames(const QList<QByteArray> &frames)
{
    QByteArray line;
    for (const QByteArray &frame : frames) {
        for (qsizetype i = 0; i < frame.size(); ++i) {
            if (i >= line.size())
                line.append(frame[i]);
            else if (line[i] != frame[i])
                line[i] = char(0xFF);
        }
    }
    return line;
}
