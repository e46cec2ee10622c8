#pragma once

#include <QByteArray>

// Wire format of the unit's frames.
//
// Request: '$', the payload and an 8-bit wrapping sum of it as upper-case hex, '\r'.
// Reply:   '!', the payload as hex (either case), '\r'. A check byte the unit appends
//          is simply the last payload byte; it is neither verified nor removed.
//
// Both functions work only on the buffer they are given and are safe on any thread.

// Replaces the request payload in `buffer` by its request frame. Cannot fail.
void encodeFrame(QByteArray &buffer);

// Decodes the reply frame in `buffer` and returns an ExchangeResult code.
// Ok: `buffer` holds the reply payload.
// Empty, NoStart, NoEnd, OddLength: `buffer` is left unchanged.
// BadHighDigit, BadLowDigit: `buffer` holds the bytes decoded before the bad pair.
// Only the text before the first NUL byte is judged.
int decodeFrame(QByteArray &buffer);
