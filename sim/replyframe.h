#pragma once

#include <QByteArray>

// The unit's reply frame: '!', the reply payload as upper-case hexadecimal, '\r'.
QByteArray encodeReplyFrame(const QByteArray &payload);
