#include "requestassembler.h"

QList<RequestAssembler::Piece> RequestAssembler::feed(const QByteArray &bytes)
{
    QList<Piece> ended;
    started = false;
    for (char c : bytes) {
        if (c == '$') {
            started = true;
            if (inFrame)
                ended.append({current, false, true});
            current = QByteArray(1, c);
            inFrame = true;
        } else if (!inFrame) {
            ++stray;
        } else {
            current.append(c);
            if (c == '\r' || current.size() >= maxFrameBytes) {
                ended.append({current, c == '\r', false});
                current.clear();
                inFrame = false;
            }
        }
    }
    return ended;
}

void RequestAssembler::reset()
{
    current.clear();
    inFrame = false;
    started = false;
}
