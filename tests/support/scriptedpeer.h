#pragma once

#include "ptyline.h"
#include "requestassembler.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>
#include <atomic>
#include <functional>
#include <thread>

// The far end of a pseudo-terminal pair, played by a thread of the test: it reads the
// request frames the wizard sends ('$' ... carriage return) and answers each one as the
// test's script says. The slave side is what the wizard opens (slavePath()). Built on the
// simulator's own line and request framing; the slave side is held open here too, and the
// line starts with the system's default settings (as a program first finds a port).
class ScriptedPeer
{
public:
    struct Step
    {
        int pauseMs = 0; // before these bytes go out
        QByteArray bytes;
    };
    // What the unit does with one request.
    struct Answer
    {
        QList<Step> steps;     // written in order
        bool babble = false;   // then sends "!0123..." pieces without end
        bool hangUp = false;   // then closes the master side: the line goes away
        int hangUpPauseMs = 0; // before hanging up
    };
    static Answer reply(const QByteArray &bytes, int pauseMs = 0) { return {{{pauseMs, bytes}}}; }
    static Answer silence() { return {}; }

    // Given the request's number (0 = first seen) and the frame, says how to answer.
    using Script = std::function<Answer(int index, const QByteArray &request)>;

    // What happened on the line, in order.
    struct Event
    {
        enum Kind
        {
            Request, // a request frame was read
            Sent     // answer bytes were written
        } kind;
        QByteArray bytes;
    };

    ScriptedPeer();
    ~ScriptedPeer();

    QString slavePath() const { return path; }
    int masterFd() const { return master.load(); }

    void setScript(Script script);
    QByteArray line() const; // every byte the wizard sent
    QList<QByteArray> requests() const;
    QList<Event> events() const;
    int sentCount() const;
    void clear(); // forgets what was seen
    void stopBabbling() { babbling = false; }
    void hangUpNow(); // returns once the line has gone

private:
    void serve();
    void handleRequest(const QByteArray &request);
    void writeAll(const QByteArray &bytes);
    void babbleOnce();
    void closeMaster();

    PtyLine pty; // the serving thread's alone once it runs
    QString path;
    std::atomic<int> master{-1}; // pty's master descriptor, for the test's thread
    std::atomic<bool> stopping{false};
    std::atomic<bool> babbling{false};
    std::atomic<bool> hangUpWanted{false};
    mutable QMutex lock;
    Script script;
    QByteArray seen;
    RequestAssembler requestFrames;
    QList<Event> log;
    int requestCount = 0;
    std::thread worker;
};
