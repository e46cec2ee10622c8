#pragma once

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <atomic>
#include <memory>

// One serial line to the unit, opened raw at 4800 baud, 8 data bits, no parity, 1 stop bit,
// no flow control, and claimed so that no other program interleaves bytes: a second open of
// the same line, by this program or another copy of it and whoever runs it, fails with Busy
// until the port is closed or the program holding it ends (however it ends).
//
// Threads: every operation is a plain system call on one descriptor, so the exchange worker
// may call them from its own thread while the GUI thread owns the object. Two workers may
// share one port; the link lock (linkBusy) keeps them to one exchange at a time. open() and
// close() are the owner's: close only when no worker is using the port. isGone(), error()
// and lastErrorString() may be read from any thread.
//
// A device that goes away (adapter unplugged, far end of a pseudo-terminal closed) puts the
// port in the Gone state: every later wait returns at once, nothing spins on it.
//
// A name "rfc2217://HOST:PORT" or "tcp://HOST:PORT" opens a line behind a serial device
// server instead (NetworkLine): the same calls, the same states; the server closing the
// connection is the line going away.
class NetworkLine;

// The link lock shared by every worker of the window: 0 while the line is free, 1 while a
// worker's run() holds it. Taking it (test for 0 and increment) is one atomic step.
extern std::atomic<int> linkBusy;

class SerialPort
{
public:
    enum Error
    {
        NoError,
        NotOpen,     // the operation needs an open port
        NotFound,    // no such device
        Permission,  // no right to open it
        Busy,        // claimed by another program
        Gone,        // the device went away; only close() helps
        Unsupported, // not a terminal, or a line speed it does not take
        Timeout,     // the line did not take the bytes in time
        OtherError,
        // A line behind a serial server (rfc2217://HOST:PORT, tcp://HOST:PORT):
        HostNotFound,   // the server's name does not resolve
        Refused,        // nothing listens there
        Unreachable,    // no route to the server, or no answer in time
        NotRfc2217,     // the server does not set its line by RFC 2217
        ResolverSilent, // the resolver gave no answer for the server's name in time
        ServerReset,    // the server reset the connection as soon as it was made
        BrokenServer,   // the server breaks the Telnet protocol (an option storm, say)
        Cancelled,      // the operator or a signal ended the connection attempt
        SpeedNotSet,    // the server keeps its line at another speed (baudRate() tells it)
    };

    SerialPort();
    ~SerialPort();
    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;

    // Opens the device `path` read-write, raw, 4800 8N1. Returns false and leaves the port
    // closed on failure (error() tells why). A network line is connected within a few
    // seconds; on the application's thread its events are processed meanwhile (user input
    // aside).
    bool open(const QString &path);
    // Restores the settings found at open() and closes the descriptor. Harmless when closed.
    void close();
    bool isOpen() const { return fd != -1; }
    // The system's handle of the open line (a descriptor, or a Windows HANDLE's value), -1
    // when closed (diagnostics and tests).
    qintptr handle() const { return fd; }

    // Sets the line speed (4800, 9600, 19200, 38400, 57600 or 115200). False if the port is
    // closed or the speed is not one of these. A network line waits (bounded, beside the
    // application's events) for the server's answer: a server that keeps its line at another
    // speed gives false with SpeedNotSet, and baudRate() is then the speed it keeps.
    bool setBaudRate(int baud);
    // The line speed now set; 0 when closed. May be read from any thread.
    int baudRate() const { return speed.load(); }
    // The device the port was last opened on (empty before the first open).
    QString path() const { return devicePath; }

    // Writes all of `data`, waiting (bounded) while the line's queue is full. Returns the
    // number of bytes written, which is less than data.size() on error.
    qint64 write(const QByteArray &data);
    // Waits until every written byte has left (drain). Never discards bytes.
    bool flush();
    // Bytes written but not yet sent; 0 when closed or unknown.
    qint64 bytesToWrite() const;
    // Bytes received and not yet read; 0 when closed or unknown.
    qint64 bytesAvailable() const;
    // Returns the bytes received so far without waiting (empty when none).
    QByteArray readAll();
    // Waits up to `ms` milliseconds for bytes to read. True as soon as there are some; false
    // on time-out, when closed, or when the device has gone (isGone()).
    bool waitForReadyRead(int ms);

    bool isGone() const { return gone.load(); }
    Error error() const;
    // The system's text for the last failure, for diagnostics.
    QString lastErrorString() const;

    // The link lock the workers on this port take: the process-wide linkBusy unless the
    // port has a lock of its own (a monitor polls several lines at once, and one line's
    // exchanges must not wait for another's). Set before any worker uses the port.
    std::atomic<int> &linkLock() { return ownLock ? *ownLock : linkBusy; }
    void keepLockOfItsOwn() { ownLock = std::make_unique<std::atomic<int>>(0); }

private:
    std::unique_ptr<std::atomic<int>> ownLock;
    // The platform's part of open(): opens `path`, claims it and sets it raw at 4800 baud.
    // Returns the handle, or -1 with the error set.
    qintptr openLine(const QString &path);
    // The platform's part of the calls of the same names, on a serial device.
    void closeLine();
    bool setLineSpeed(int baud);
    qint64 writeLine(const QByteArray &data);
    bool drainLine();
    qint64 lineBytesToWrite() const;
    qint64 lineBytesAvailable() const;
    QByteArray readLine();
    bool waitForLine(int ms);
    // open() of a network line.
    qintptr openNetworkLine(const QString &name);
    void setErrorText(Error code, const QString &text);
    // The system's text for one of the platform's error numbers (errno, GetLastError()).
    static QString systemErrorText(int sysError);
    void setError(Error code, int sysError);
    void setSystemError(int sysError);
    bool waitWritable(int ms);

    // What the platform's source keeps of the line besides its handle (the settings found
    // at open, restored at close).
    struct Native;

    qintptr fd = -1;
    std::unique_ptr<Native> native;
    std::unique_ptr<NetworkLine> network; // set while a network line is open
    std::atomic<bool> gone{false};
    std::atomic<int> speed{0};
    QString devicePath; // set by open() before any worker thread uses the port
    mutable QMutex errorLock;
    Error lastError = NoError;
    QString lastErrorText;
};
