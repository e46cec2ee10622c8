#include "scriptedpeer.h"

#include <QMutexLocker>
#include <QThread>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

ScriptedPeer::ScriptedPeer()
{
    int m = -1;
    char name[256] = {};
    if (::openpty(&m, &slave, name, nullptr, nullptr) < 0)
        qFatal("openpty failed: %s", qPrintable(qt_error_string(errno)));
    ::fcntl(m, F_SETFL, ::fcntl(m, F_GETFL) | O_NONBLOCK);
    path = QString::fromLocal8Bit(name);
    master = m;
    worker = std::thread([this] { serve(); });
}

ScriptedPeer::~ScriptedPeer()
{
    stopping = true;
    worker.join();
    hangUpNow();
    ::close(slave);
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
    pending.clear();
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
        QThread::msleep(1);
}

void ScriptedPeer::closeMaster()
{
    const int fd = master.exchange(-1);
    if (fd >= 0)
        ::close(fd);
    hangUpWanted = false;
}

void ScriptedPeer::serve()
{
    char piece[512];
    while (!stopping) {
        if (hangUpWanted)
            closeMaster();
        const int fd = master.load();
        if (fd < 0) {
            QThread::msleep(5);
            continue;
        }
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, babbling ? 1 : 5);
        const ssize_t n = ::read(fd, piece, sizeof piece);
        if (n > 0) {
            QByteArray frame;
            {
                QMutexLocker guard(&lock);
                seen.append(piece, n);
                pending.append(piece, n);
            }
            for (;;) {
                {
                    QMutexLocker guard(&lock);
                    const qsizetype end = pending.indexOf('\r');
                    if (end < 0)
                        break;
                    frame = pending.left(end + 1);
                    pending.remove(0, end + 1);
                }
                handleRequest(frame);
            }
        }
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
        QThread::msleep(step.pauseMs);
        writeAll(step.bytes);
    }
    if (answer.babble)
        babbling = true;
    if (answer.hangUp) {
        QThread::msleep(answer.hangUpPauseMs);
        hangUpNow();
    }
}

void ScriptedPeer::writeAll(const QByteArray &bytes)
{
    const int fd = master.load();
    qsizetype done = 0;
    while (fd >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0)
            done += n;
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            break;
        else
            QThread::msleep(1);
    }
    QMutexLocker guard(&lock);
    log << Event{Event::Sent, bytes};
}

// One piece of an endless "reply": it begins with '!' and never ends a frame.
void ScriptedPeer::babbleOnce()
{
    static const QByteArray piece = '!' + QByteArray("0123456789ABCDEF").repeated(4);
    const int fd = master.load();
    if (fd >= 0)
        (void)::write(fd, piece.constData(), size_t(piece.size()));
}
