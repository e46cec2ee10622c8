#pragma once

#include <QByteArray>
#include <QList>

// What the line carries when several units send their reply frames at the same moment
// (a request to address 0 on a multi-drop line): a byte that all senders drive alike
// arrives as it was sent; where they differ the receiver sees a framing error, which
// reads as 0xFF. The longest frame's tail arrives as sent. One frame arrives unchanged.
QByteArray collideFrames(const QList<QByteArray> &frames);
