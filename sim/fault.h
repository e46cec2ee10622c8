#pragma once

#include <QByteArray>
#include <QString>

// Line faults the unit server can play instead of a plain reply.
enum class FaultKind
{
    None,
    NoAnswer,     // the request is handled, the reply never goes out
    Delay,        // the reply goes out after `delayMs`; the replies behind it wait for it
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
// (sticky); with `command` set, only on requests with that command code (byte 1).
struct Fault
{
    FaultKind kind = FaultKind::None;
    bool sticky = false;
    int command = -1; // any
    int delayMs = 500;
    int chunkBytes = 3;
    int pauseMs = 60;
    QByteArray garbage = "~#junk#~";
    int babbleBytes = 4096;
    quint32 seed = 0;

    // Short-hands for the faults the tests and the console set most.
    static Fault of(FaultKind kind, bool sticky = false) { return Fault{kind, sticky}; }
    static Fault delay(int ms, bool sticky = false)
    {
        return with(FaultKind::Delay, &Fault::delayMs, ms, sticky);
    }
    static Fault chunked(int bytes, int pauseMs)
    {
        Fault fault = with(FaultKind::Chunked, &Fault::chunkBytes, bytes);
        fault.pauseMs = pauseMs;
        return fault;
    }
    static Fault garbageFirst(const QByteArray &bytes)
    {
        return with(FaultKind::Garbage, &Fault::garbage, bytes);
    }
    static Fault babble(int bytes) { return with(FaultKind::Babble, &Fault::babbleBytes, bytes); }
    static Fault hostile(quint32 seed, bool sticky = false)
    {
        return with(FaultKind::Hostile, &Fault::seed, seed, sticky);
    }

private:
    // A fault of `kind` with one field set.
    template <class T>
    static Fault with(FaultKind kind, T Fault::*field, const T &value, bool sticky = false)
    {
        Fault fault = of(kind, sticky);
        fault.*field = value;
        return fault;
    }
};

// Console name of a fault kind ("none", "noanswer", "delay", ...).
QString faultKindName(FaultKind kind);
// Parses a console name; false for an unknown name.
bool parseFaultKind(const QString &name, FaultKind &kind);
