#pragma once

#include "netsocket.h"
#include "networkportname.h"
#include "serialport.h"
#include "telnetcodec.h"

#include <QByteArray>
#include <QMutex>
#include <atomic>
#include <functional>

// The line to the unit through a serial device server, behind SerialPort: a TCP connection
// to rfc2217://HOST:PORT, where the program sets the server's line (Telnet, COM-PORT-OPTION),
// or to tcp://HOST:PORT, whose line the server has set. Its calls are plain socket calls,
// made from whichever thread uses the port (the worker's, one at a time under the link
// lock); the connection made at open is the one socket, closed at close.
//
// The server closing the connection, or the network going away (keep-alive, unacknowledged
// bytes), is the line going away: Gone, as for an unplugged adapter.
class NetworkLine
{
public:
    using Report = std::function<void(SerialPort::Error, const QString &)>;

    // `report` is told every failure, with the line's error and the words for it.
    explicit NetworkLine(Report report);
    ~NetworkLine();
    NetworkLine(const NetworkLine &) = delete;
    NetworkLine &operator=(const NetworkLine &) = delete;

    // Connects within a few seconds and, for RFC 2217, sets the line to 4800 8N1 without
    // flow control. Blocks the calling thread: SerialPort runs it beside the window's
    // event loop. The socket, or netsocket::none with the failure reported.
    netsocket::Handle open(const NetworkPortName &name);
    void close();

    // RFC 2217: asks the server for `baud`; the next write waits for its answer first.
    // Raw TCP: the server's speed is what it is; nothing is sent.
    bool setBaudRate(int baud);
    qint64 write(const QByteArray &data);
    qint64 bytesAvailable();
    QByteArray readAll();
    bool waitForReadyRead(int ms);

private:
    // Reads what arrives until `deadline` or until the line has bytes for the reader;
    // false when the connection has ended.
    bool pump(netsocket::Clock::time_point deadline);
    bool receiveWaiting();
    void obey(const telnet::Decoder::Command &command);
    void answer(quint8 verb, quint8 option);
    bool sendAll(const QByteArray &bytes);
    bool negotiate(netsocket::Clock::time_point deadline);
    bool waitUntil(const std::function<bool()> &done, netsocket::Clock::time_point deadline);
    void lost(const netsocket::Outcome &outcome);

    Report report;
    netsocket::Handle socket = netsocket::none;
    bool telnetFraming = false;
    std::atomic<bool> ended{false}; // the connection has ended (read from any thread)
    telnet::Decoder decoder;
    QByteArray received; // the line's bytes not yet read
    QMutex lock;         // received, decoder and the option state (calls may come from two threads)
    QMutex sendLock;     // keeps a Telnet answer out of the middle of a frame
    // Telnet option state: what the server does (his) and what we do (ours), and what we
    // asked for and have not been answered.
    bool his[256] = {};
    bool ours[256] = {};
    bool askedHis[256] = {};
    bool askedOurs[256] = {};
    bool comPortRefused = false;
    int speedAsked = 0; // a SET-BAUDRATE not yet answered (0: none)
    int speedAnswered = 0;
};
