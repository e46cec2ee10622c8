// libFuzzer target: the opening of a network line and one exchange on it, against a serial
// server that sends the fuzzer's bytes. The server is the far end of a socket pair, on a
// thread, and sends its bytes in three parts as the line's steps call for them: the first
// at once, the second once the line has asked for its speed, the third once the line has
// sent its request; then it ends the connection. A line that goes quiet waiting for something
// else gets the next part all the same, so that no input waits out the opening's deadline.
// The input: the first byte's low bit chooses raw TCP (1) or RFC 2217 (0) and its other
// bits the first part's length, the second byte the second part's; the rest is the bytes.
// (A raw TCP line takes an end so soon for a server that serves another client: those
// inputs try the opening only.)
// Besides crashes, undefined behaviour and waits (the per-input time limit), it checks that
// a failed opening is reported, that the line never holds more than its bound and that the
// reader never gets more bytes than arrived.
#include "exchangetiming.h"
#include "framecodec.h"
#include "networkline.h"

#include <QByteArray>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The line has read what came and waits for more: so long without a byte from it.
constexpr int quietMs = 3;
// The server's wait for one of the line's steps, and for the line's close at the end.
constexpr auto stepWait = 200ms;
constexpr int closeWaitMs = 2000;
// The worker's reading of a reply: polls of 15 ms, at most so long in all.
constexpr int pollMs = 15;
constexpr auto replyWait = 315ms;
// What the line keeps for its reader at most.
constexpr qsizetype receivedBound = exchangeTiming::maxReplySize * (exchangeTiming::sends + 1);

void check(bool condition)
{
    if (!condition)
        std::abort();
}

QByteArray versionRequest()
{
    QByteArray frame = QByteArray::fromHex("0726");
    encodeFrame(frame);
    return frame;
}

void sendAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::send(fd, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
        if (n <= 0)
            return; // the line has closed its end
        done += n;
    }
}

// Reads what the line sends; false once it has closed its end or after `ms` of silence.
bool hear(int fd, int ms, QByteArray &heard)
{
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0)
        return false;
    char piece[4096];
    const ssize_t n = ::recv(fd, piece, sizeof piece, 0);
    if (n <= 0)
        return false;
    heard.append(piece, n);
    return true;
}

// Listens until the line has sent `step` (or the request, which comes last), has gone quiet
// or has closed its end.
void awaitStep(int fd, const QByteArray &step, QByteArray &heard)
{
    const QByteArray request = versionRequest();
    const auto until = Clock::now() + stepWait;
    while (!heard.contains(step) && !heard.contains(request) && Clock::now() < until &&
           hear(fd, quietMs, heard)) {
    }
}

// The server's side. Its sending half is ended, so that the line sees the end of the
// connection while its answers and request still go somewhere; then the line's close.
void serve(int fd, QByteArray first, QByteArray second, QByteArray third)
{
    QByteArray heard;
    sendAll(fd, first);
    awaitStep(fd, rfc2217::baudRateRequest(4800), heard);
    sendAll(fd, second);
    awaitStep(fd, versionRequest(), heard);
    sendAll(fd, third);
    ::shutdown(fd, SHUT_WR);
    while (hear(fd, closeWaitMs, heard)) {
    }
    ::close(fd);
}

// The server's thread, made once and given the inputs' connections one at a time (a thread
// made per input leaves the sanitizers' memory growing run after run).
class ServerThread
{
public:
    ServerThread() : thread([this] { run(); }) { thread.detach(); }

    // Runs `serving` on the thread.
    void start(std::function<void()> serving)
    {
        std::lock_guard<std::mutex> hold(lock);
        job = std::move(serving);
        changed.notify_all();
    }
    // Waits until it has returned.
    void finish()
    {
        std::unique_lock<std::mutex> hold(lock);
        changed.wait(hold, [this] { return !job; });
    }

private:
    void run()
    {
        std::unique_lock<std::mutex> hold(lock);
        for (;;) {
            changed.wait(hold, [this] { return bool(job); });
            const std::function<void()> serving = job;
            hold.unlock();
            serving();
            hold.lock();
            job = nullptr;
            changed.notify_all();
        }
    }

    std::mutex lock;
    std::condition_variable changed;
    std::function<void()> job;
    std::thread thread;
};

// One request written and its reply read as the worker does, until the connection's end;
// what the reader got.
QByteArray exchange(NetworkLine &line)
{
    QByteArray reply;
    line.write(versionRequest());
    const auto until = Clock::now() + replyWait;
    while (Clock::now() < until && line.waitForReadyRead(pollMs)) {
        const QByteArray piece = line.readAll();
        check(piece.size() <= receivedBound);
        reply += piece;
    }
    return reply + line.readAll();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const auto kind = (data[0] & 1) != 0 ? NetworkPortName::RawTcp : NetworkPortName::Rfc2217;
    const QByteArray wire(reinterpret_cast<const char *>(data) + 2, qsizetype(size - 2));
    const qsizetype firstCut = (data[0] >> 1) % (wire.size() + 1);
    const qsizetype secondCut = firstCut + data[1] % (wire.size() - firstCut + 1);

    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return 0;
    ::fcntl(ends[0], F_SETFL, ::fcntl(ends[0], F_GETFL) | O_NONBLOCK);
    static ServerThread *const server = new ServerThread; // lives as long as the process
    server->start([fd = ends[1], first = wire.left(firstCut),
                   second = wire.mid(firstCut, secondCut - firstCut),
                   third = wire.mid(secondCut)] { serve(fd, first, second, third); });
    {
        int reports = 0;
        NetworkLine line([&reports](SerialPort::Error, const QString &) { ++reports; });
        if (line.openOn(ends[0], kind, QStringLiteral("fuzz")) == netsocket::none) {
            check(reports > 0);
        } else {
            QByteArray reply = exchange(line);
            check(reply.size() <= wire.size());
            decodeFrame(reply);
        }
        line.close();
    }
    server->finish();
    return 0;
}
