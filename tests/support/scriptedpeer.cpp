#include "scriptedpeer.h"

#include <QMutexLocker>
#include <QThread>
#include <poll.h>
#include <unistd.h>

ScriptedPeer::ScriptedPeer()
{
    QString error;
    if (!pty.open(&error, PtyLineSetup{true, false}))
        qFatal("openpty failed: %s", qPrintable(error));
    path = pty.slavePath();
    master = pty.masterFd();
    worker = std::thread([this] { serve(); });
}

ScriptedPeer::~ScriptedPeer()
{
    stopping = true;
    worker.join();
    hangUpNow();
    pty.close();
}

void ScriptedPeer::setScript(Script newScript)
{
    QMutexLocker guard(&lock);
    script = std::move(newScript);
}

// The accessors hand out deep copies: an implicitly shared copy would let the serving thread
// grow the shared array in place (it sees it unshared once the caller drops its copy) while
// nothing orders that after the caller's reads.
QByteArray ScriptedPeer::line() const
{
    QMutexLocker guard(&lock);
    return QByteArray(seen.constData(), seen.size());
}

QList<QByteArray> ScriptedPeer::requests() const
{
    QMutexLocker guard(&lock);
    QList<QByteArray> result;
    for (const Event &event : log)
        if (event.kind == Event::Request)
            result << QByteArray(event.bytes.constData(), event.bytes.size());
    return result;
}

QList<ScriptedPeer::Event> ScriptedPeer::events() const
{
    QMutexLocker guard(&lock);
    QList<Event> copy;
    copy.reserve(log.size());
    for (const Event &event : log)
        copy << Event{event.kind, QByteArray(event.bytes.constData(), event.bytes.size())};
    return copy;
}

int ScriptedPeer::sentCount() const
{
    QMutexLocker guard(&lock);
    int count = 0;
    for (const Event &event : log)
        count += event.kind == Event::Sent;
    return count;
}

void ScriptedPeer::clear()
{
    QMutexLocker guard(&lock);
    seen.clear();
    requestFrames.reset();
    log.clear();
    requestCount = 0;
}

// The serving thread reads the master side: only it may close it, or the descriptor could
// be closed (and its number reused) under its read. Another thread asks and waits.
void ScriptedPeer::hangUpNow()
{
    if (!worker.joinable() || std::this_thread::get_id() == worker.get_id()) {
        closeMaster();
        return;
    }
    hangUpWanted = true;
    while (hangUpWanted && master.load() >= 0)
        QThread::msleep(1); // until the serving thread has hung up: a millisecond at most
}

// The slave side stays open here: only the master goes, and the wizard's port sees a hang-up.
void ScriptedPeer::closeMaster()
{
    master = -1;
    pty.hangUp();
    hangUpWanted = false;
}

void ScriptedPeer::serve()
{
    while (!stopping) {
        if (hangUpWanted)
            closeMaster();
        const int fd = master.load();
        if (fd < 0) {
            QThread::msleep(5); // a line hung up has nothing to read: nap until stopped
            continue;
        }
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, babbling ? 1 : 5);
        QByteArray bytes;
        pty.read(bytes);
        QList<RequestAssembler::Piece> frames;
        {
            QMutexLocker guard(&lock);
            seen += bytes;
            frames = requestFrames.feed(bytes);
        }
        for (const RequestAssembler::Piece &frame : frames)
            if (frame.complete)
                handleRequest(frame.raw);
        if (babbling)
            babbleOnce();
    }
}

void ScriptedPeer::handleRequest(const QByteArray &request)
{
    Script current;
    int index = 0;
    {
        QMutexLocker guard(&lock);
        log << Event{Event::Request, request};
        index = requestCount++;
        current = script;
    }
    const Answer answer = current ? current(index, request) : silence();
    for (const Step &step : answer.steps) {
        QThread::msleep(step.pauseMs); // the time is the script's: a unit that answers late
        writeAll(step.bytes);
    }
    if (answer.babble)
        babbling = true;
    if (answer.hangUp) {
        QThread::msleep(answer.hangUpPauseMs); // the script's time, as above
        hangUpNow();
    }
}

void ScriptedPeer::writeAll(const QByteArray &bytes)
{
    // Noted before the bytes go: once the wizard has read them, the log holds them too.
    {
        QMutexLocker guard(&lock);
        log << Event{Event::Sent, bytes};
    }
    pty.write(bytes);
}

// One piece of an endless "reply": it begins with '!' and never ends a frame.
void ScriptedPeer::babbleOnce()
{
    static const QByteArray piece = '!' + QByteArray("0123456789ABCDEF").repeated(4);
    const int fd = master.load();
    // A full line (the wizard not reading) only loses babble.
    if (fd >= 0) {
        [[maybe_unused]] const ssize_t n = ::write(fd, piece.constData(), size_t(piece.size()));
    }
}
