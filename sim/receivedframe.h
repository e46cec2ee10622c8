#pragma once

#include "fault.h"

#include <QByteArray>
#include <chrono>

// One frame the unit server read off the line, well formed or not.
struct ReceivedFrame
{
    std::chrono::steady_clock::time_point time; // when its end arrived
    QByteArray raw;                             // from '$' to '\r' (no '\r' when cut short)
    QByteArray payload; // request payload without the check byte; empty when malformed
    bool wellFormed = false;
    bool checkOk = false;
    bool interleaved = false; // cut short by a '$' before its '\r'
    int lineSpeed = 0;        // the speed the far end had set when it arrived
    bool answered = false;    // bytes went out in answer (a reply, maybe mangled by a fault)
    FaultKind fault = FaultKind::None; // the fault played on it
    bool collided = false;             // several units answered at once
};
