#pragma once

#include <QByteArray>

// A request frame as the unit reads it off the line: '$', the payload and its check byte
// as hexadecimal digits (either case), '\r'.
struct RequestFrame
{
    enum Status
    {
        Good,      // well formed, check byte right
        BadCheck,  // well formed, check byte wrong
        Malformed, // missing '$' or '\r', odd number of digits, a non-hex digit, no check byte
    };
    Status status = Malformed;
    QByteArray payload; // without the check byte; empty when Malformed
};

// Parses one complete frame (from '$' to '\r' inclusive). Safe on any thread.
RequestFrame decodeRequestFrame(const QByteArray &frame);
