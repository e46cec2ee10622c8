#pragma once

#include <QByteArray>
#include <QString>

// Line faults the unit server can play instead of a plain reply.
enum class FaultKind
{
    None,
    NoAnswer,     // the request is handled, the reply never goes out
    Delay,        // the reply goes out after `delayMs`
    Chunked,      // the reply goes out in pieces of `chunkBytes`, `pauseMs` apart
    Garbage,      // `garbage` then the reply, in one write
    OddLength,    // the reply frame with one hex digit too many (odd total length)
    BadHighDigit, // the first digit of the first byte is not hexadecimal
    BadLowDigit,  // the second digit of the first byte is not hexadecimal
    Babble,       // '!' and hex digits without a carriage return, until the next request
                  // arrives or `babbleBytes` bytes have gone out
    Unplug,       // the line is hung up (the pseudo-terminal's master closed)
    Hostile,      // random bytes of random length in random chunks instead of the reply,
                  // drawn from `seed` and the number of the request
};

// One injected fault: played on the next request the unit answers (once) or on every one
// (sticky).
struct Fault
{
    FaultKind kind = FaultKind::None;
    bool sticky = false;
    int delayMs = 500;
    int chunkBytes = 3;
    int pauseMs = 60;
    QByteArray garbage = "~#junk#~";
    int babbleBytes = 4096;
    quint32 seed = 0;

    // Short-hands for the faults the tests and the console set most.
    static Fault of(FaultKind kind, bool sticky = false)
    {
        Fault fault;
        fault.kind = kind;
        fault.sticky = sticky;
        return fault;
    }
    static Fault delay(int ms, bool sticky = false)
    {
        Fault fault = of(FaultKind::Delay, sticky);
        fault.delayMs = ms;
        return fault;
    }
    static Fault chunked(int bytes, int pauseMs)
    {
        Fault fault = of(FaultKind::Chunked);
        fault.chunkBytes = bytes;
        fault.pauseMs = pauseMs;
        return fault;
    }
    static Fault garbageFirst(const QByteArray &bytes)
    {
        Fault fault = of(FaultKind::Garbage);
        fault.garbage = bytes;
        return fault;
    }
    static Fault babble(int bytes)
    {
        Fault fault = of(FaultKind::Babble);
        fault.babbleBytes = bytes;
        return fault;
    }
    static Fault hostile(quint32 seed, bool sticky = false)
    {
        Fault fault = of(FaultKind::Hostile, sticky);
        fault.seed = seed;
        return fault;
    }
};

// Console name of a fault kind ("none", "noanswer", "delay", ...).
QString faultKindName(FaultKind kind);
// Parses a console name; false for an unknown name.
bool parseFaultKind(const QString &name, FaultKind &kind);
