#pragma once

#include <QByteArray>
#include <QString>

// The wizard's end of the line, written by hand for the tests and the benchmarks: opens the
// slave side of the simulator's pseudo-terminal raw, sets a line speed, writes frames and
// reads what comes back. Uses nothing of the wizard's own link code but the frame codec.
// No thread, no event loop, no retries: exchange() is the yardstick the benchmarks hold the
// wizard's exchange worker against.
class RawClient
{
public:
    Q_DISABLE_COPY(RawClient)
    RawClient() = default;
    ~RawClient() { close(); }

    // Opens `path` raw at `baud`; `exclusive` claims it as the wizard does (an advisory lock
    // taken without waiting: false when another holds it).
    bool open(const QString &path, int baud, bool exclusive = true);
    void close();
    bool setSpeed(int baud);

    // Frames `payload` as the wizard does and writes it.
    void send(const QByteArray &payload);
    void sendRaw(const QByteArray &bytes);

    // Reads until a '\r' arrives or `timeoutMs` passes; everything read.
    QByteArray readFrame(int timeoutMs);
    // Reads whatever arrives during `ms`.
    QByteArray readFor(int ms);
    // Reads until `count` bytes have arrived or `timeoutMs` passes.
    QByteArray readBytes(int count, int timeoutMs);

    // Sends the request payload in `buffer` and waits up to `timeoutMs` between pieces of
    // the reply. Returns an ExchangeResult; on Ok `buffer` holds the reply payload.
    int exchange(QByteArray &buffer, int timeoutMs);

    // How many reads returned bytes since open().
    int readsWithData() const { return reads; }
    // True once the line reported a hang-up.
    bool hungUp() const { return hangUp; }

private:
    // Waits up to `ms` for bytes and appends them; false on time-out or hang-up.
    bool readOnce(QByteArray &into, int ms);

    int fd = -1;
    int reads = 0;
    bool hangUp = false;
};

// The request frame the wizard sends for `payload`.
QByteArray requestFrame(const QByteArray &payload);
