#include "unitserver.h"

#include "collision.h"
#include "devicelink.h"
#include "hostilereply.h"
#include "replyframe.h"
#include "requestframe.h"
#include "simunit.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

UnitServer::UnitServer(SimUnit &unit) : units{&unit} {}

void UnitServer::addUnit(SimUnit &another)
{
    units.append(&another);
}

UnitServer::~UnitServer()
{
    stop();
    line.close();
    removeDeviceLink(link);
    if (wakeRead >= 0) {
        ::close(wakeRead);
        ::close(wakeWrite);
    }
}

bool UnitServer::start(const QString &linkPath)
{
    if (thread.joinable())
        return true;
    int fds[2];
    if (wakeRead < 0 && ::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
        wakeRead = fds[0];
        wakeWrite = fds[1];
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        link = linkPath;
        stopping = false;
    }
    if (wakeRead < 0 || !doReplug())
        return false;
    thread = std::thread(&UnitServer::serve, this);
    return true;
}

void UnitServer::stop()
{
    if (!thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake();
    thread.join();
}

QString UnitServer::devicePath() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return device;
}

QString UnitServer::linkPath() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return link;
}

QString UnitServer::errorString() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return error;
}

void UnitServer::injectFault(const Fault &fault)
{
    std::lock_guard<std::mutex> lock(mutex);
    armed = fault;
}

Fault UnitServer::fault() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return armed;
}

void UnitServer::unplug()
{
    runControlFromOutside(Control::Unplug);
}

QString UnitServer::replug()
{
    runControlFromOutside(Control::Replug);
    return devicePath();
}

bool UnitServer::isPlugged() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return !device.isEmpty();
}

QList<ReceivedFrame> UnitServer::receivedFrames() const
{
    // A list of its own, not one sharing storage with ours: the serving thread appends to
    // ours while the caller reads the copy.
    std::lock_guard<std::mutex> lock(mutex);
    QList<ReceivedFrame> copy;
    copy.reserve(frames.size());
    for (const ReceivedFrame &f : frames)
        copy.append(f);
    return copy;
}

void UnitServer::clearReceivedFrames()
{
    std::lock_guard<std::mutex> lock(mutex);
    frames.clear();
}

int UnitServer::interleavedFrames() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return interleaved;
}

int UnitServer::framesWithPayload(const QByteArray &payload) const
{
    std::lock_guard<std::mutex> lock(mutex);
    return int(std::count_if(frames.cbegin(), frames.cend(),
                             [&](const ReceivedFrame &f) { return f.payload == payload; }));
}

bool UnitServer::waitForFrames(int count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&] { return frames.size() >= count; });
}

// Unplug and replug touch the descriptors, so they run on the serving thread (or here
// when it does not run); the caller waits until they are done.
void UnitServer::runControlFromOutside(Control wanted)
{
    if (!thread.joinable()) {
        if (wanted == Control::Unplug)
            doUnplug();
        else
            doReplug();
        return;
    }
    std::unique_lock<std::mutex> lock(mutex);
    control = wanted;
    controlDone = false;
    lock.unlock();
    wake();
    lock.lock();
    changed.wait(lock, [&] { return controlDone || stopping; });
}

// Runs a waiting unplug or replug; false when the server is to stop.
bool UnitServer::runControl()
{
    std::unique_lock<std::mutex> lock(mutex);
    if (stopping)
        return false;
    const Control wanted = control;
    control = Control::None;
    lock.unlock();
    if (wanted == Control::Unplug)
        doUnplug();
    else if (wanted == Control::Replug)
        doReplug();
    if (wanted != Control::None) {
        lock.lock();
        controlDone = true;
        changed.notify_all();
    }
    return true;
}

// The path and the link go first, so that whoever sees the hang-up sees them gone too.
void UnitServer::doUnplug()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        device.clear();
        removeDeviceLink(link);
    }
    output.clear();
    assembler.reset();
    line.close();
}

bool UnitServer::doReplug()
{
    doUnplug();
    QString why;
    const bool opened = line.open(&why);
    std::lock_guard<std::mutex> lock(mutex);
    if (opened && (link.isEmpty() || placeDeviceLink(link, line.slavePath(), &why))) {
        device = line.slavePath();
        lineIdle = false;
        return true;
    }
    line.close();
    error = why;
    return false;
}

void UnitServer::wake()
{
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeWrite, &byte, 1);
}

void UnitServer::drainWake()
{
    char bytes[64];
    while (::read(wakeRead, bytes, sizeof bytes) > 0) {
    }
}

void UnitServer::serve()
{
    using namespace std::chrono;
    while (runControl()) {
        int timeout = output.msUntilDue(Clock::now());
        pollfd fds[2] = {{wakeRead, POLLIN, 0}, {line.masterFd(), POLLIN, 0}};
        nfds_t count = 1;
        if (line.isOpen() && !lineIdle)
            count = 2;
        else if (line.isOpen())
            timeout = timeout < 0 ? int(idleLineNap.count())
                                  : std::min(timeout, int(idleLineNap.count()));
        lineIdle = false;
        if (::poll(fds, count, timeout) < 0 && errno != EINTR)
            break;
        if (fds[0].revents)
            drainWake();
        if (count == 2 && fds[1].revents)
            readLine(fds[1].revents);
        const QByteArray due = output.takeDue(Clock::now());
        if (!due.isEmpty())
            line.write(due);
    }
    // Whoever waits for an unplug or replug must not wait for a thread that has ended.
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
    changed.notify_all();
}

// Reads the wizard's bytes; marks the line idle when no slave is open, so that the next
// round naps instead of polling a master that reports a hang-up at once.
void UnitServer::readLine(short revents)
{
    QByteArray bytes;
    const bool slaveOpen = line.read(bytes);
    if (!slaveOpen || (bytes.isEmpty() && (revents & (POLLHUP | POLLERR))))
        lineIdle = true;
    if (bytes.isEmpty())
        return;
    const auto now = Clock::now();
    const QList<RequestAssembler::Piece> pieces = assembler.feed(bytes);
    if (assembler.sawStart())
        output.stopBabble();
    for (const RequestAssembler::Piece &piece : pieces)
        handleFrame(piece, now);
}

void UnitServer::handleFrame(const RequestAssembler::Piece &piece, Clock::time_point now)
{
    ReceivedFrame entry;
    entry.time = now;
    entry.raw = piece.raw;
    entry.interleaved = piece.interleaved;
    entry.lineSpeed = line.lineSpeed();
    const RequestFrame request = piece.complete ? decodeRequestFrame(piece.raw) : RequestFrame();
    entry.wellFormed = request.status != RequestFrame::Malformed;
    entry.checkOk = request.status == RequestFrame::Good;
    entry.payload = request.payload;
    const QList<QByteArray> answers =
        entry.checkOk ? answersAt(entry.lineSpeed, request.payload) : QList<QByteArray>();
    Fault fault;
    if (!answers.isEmpty()) {
        fault = takeFault(request.payload);
        entry.fault = fault.kind;
        entry.collided = answers.size() > 1;
        entry.answered = fault.kind != FaultKind::NoAnswer && fault.kind != FaultKind::Unplug;
    }
    // Logged before the reply or the hang-up goes out: whoever has seen the line answer
    // finds the request in the log.
    record(entry);
    if (!answers.isEmpty())
        respond(collideFrames(answers), fault, now);
}

// The reply frames of the units that listen at `lineSpeed` and answer `request`.
QList<QByteArray> UnitServer::answersAt(int lineSpeed, const QByteArray &request)
{
    QList<QByteArray> frames;
    for (SimUnit *unit : units) {
        if (unit->lineSpeed() != lineSpeed)
            continue;
        if (const auto reply = unit->handleRequest(request))
            frames.append(encodeReplyFrame(*reply));
    }
    return frames;
}

// Sends `frame` as `fault` shapes it (nothing for NoAnswer, a hang-up for Unplug).
void UnitServer::respond(QByteArray frame, const Fault &fault, Clock::time_point now)
{
    switch (fault.kind) {
    case FaultKind::NoAnswer:
        return;
    case FaultKind::Unplug:
        doUnplug();
        return;
    case FaultKind::Babble:
        output.startBabble(fault.babbleBytes, now);
        return;
    case FaultKind::Delay:
        output.schedule(frame, now + std::chrono::milliseconds(fault.delayMs));
        return;
    case FaultKind::Chunked: {
        const int size = std::max(fault.chunkBytes, 1);
        for (qsizetype at = 0, i = 0; at < frame.size(); at += size, ++i)
            output.schedule(frame.mid(at, size),
                            now + i * std::chrono::milliseconds(fault.pauseMs));
        return;
    }
    case FaultKind::Hostile:
        for (const HostilePiece &piece : hostileReply(frame, fault.seed + quint32(++hostileCount)))
            output.schedule(piece.bytes, now + std::chrono::milliseconds(piece.afterMs));
        return;
    case FaultKind::Garbage:
        frame.prepend(fault.garbage);
        break;
    case FaultKind::OddLength:
        frame.insert(frame.size() - 1, '0');
        break;
    case FaultKind::BadHighDigit:
        frame[1] = 'G';
        break;
    case FaultKind::BadLowDigit:
        frame[2] = 'G';
        break;
    case FaultKind::None:
        break;
    }
    output.schedule(frame, now);
}

Fault UnitServer::takeFault(const QByteArray &request)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (armed.command >= 0 && (request.size() < 2 || quint8(request.at(1)) != armed.command))
        return Fault();
    const Fault fault = armed;
    if (!armed.sticky)
        armed = Fault();
    return fault;
}

void UnitServer::record(const ReceivedFrame &frame)
{
    std::lock_guard<std::mutex> lock(mutex);
    frames.append(frame);
    if (frame.interleaved)
        ++interleaved;
    changed.notify_all();
}
