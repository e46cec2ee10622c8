#pragma once

#include <QByteArray>
#include <QString>

// The least a client can do for one exchange with the unit: a blocking write of the request
// frame, poll() until the reply's carriage return is in, decode. No thread, no event loop,
// no retries. The yardstick for the wizard's exchange worker on the same line.
class ReferenceClient
{
public:
    ReferenceClient() = default;
    ReferenceClient(const ReferenceClient &) = delete;
    ReferenceClient &operator=(const ReferenceClient &) = delete;
    ~ReferenceClient() { close(); }

    // Opens `path` raw, 8N1, at `baud`. False on failure.
    bool open(const QString &path, int baud);
    void close();

    // Sends the request payload in `buffer` and waits up to `timeoutMs` for the reply.
    // Returns an ExchangeResult; on Ok `buffer` holds the reply payload.
    int exchange(QByteArray &buffer, int timeoutMs);

private:
    int fd = -1;
};
