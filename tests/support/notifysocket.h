#pragma once

#include <QByteArrayList>
#include <QObject>
#include <QString>
#include <QTemporaryDir>

class QSocketNotifier;

// The service manager's end of the readiness protocol for a test: a datagram socket
// (AF_UNIX, SOCK_DGRAM) in a temporary folder. A test hands path() to a child as
// NOTIFY_SOCKET and reads what it says (READY=1, WATCHDOG=1, STATUS=...), one line each.
class NotifySocket : public QObject
{
    Q_OBJECT

public:
    NotifySocket();
    ~NotifySocket() override;

    bool isOpen() const { return descriptor >= 0; }
    QString path() const;
    // Every line received so far, in order.
    QByteArrayList lines() const { return received; }
    // Runs the event loop until a line equal to `line` has arrived, at most `timeoutMs`.
    bool waitFor(const QByteArray &line, int timeoutMs);

signals:
    void arrived();

private:
    void readAll();

    QTemporaryDir dir;
    int descriptor = -1;
    QSocketNotifier *notifier = nullptr;
    QByteArrayList received;
};
