#pragma once

#include <QString>
#include <QtGlobal>
#include <atomic>
#include <thread>

// A network serial server that misbehaves, on a free port of 127.0.0.1, for the tests of a
// line behind a server we do not control. One client at a time, served on a thread of its
// own; it stops by itself at destruction. Plain sockets: nothing of the program's own line
// code is used to play it.
//
// The behaviours that stand in front of a serial device (the simulator's pseudo-terminal)
// open that device for each client, raw at the speed given, as a real server does.
class HostileServer
{
public:
    enum Behaviour
    {
        Flood,                    // writes 'A' without pause while the client is connected
        IacPairFlood,             // IAC 0x01 pairs without end from accept on
        NopFloodAfterNegotiation, // agrees BINARY and COM-PORT-OPTION, answers every SET-*,
                                  // then IAC NOP without end (still answering)
        OptionStorm,              // IAC DO / IAC WILL for option after option, without end
        KeepsOtherSpeed,          // RFC 2217 in front of the device, which it keeps at `speed`:
                                  // every SET-BAUDRATE is answered with that speed
        AnswersFirstSpeedOnly,    // RFC 2217 in front of the device, sets each speed asked,
                                  // but answers only a connection's first SET-BAUDRATE
        ResetAtAccept,            // accepts and resets the connection at once
        CloseMidReply,            // raw TCP in front of the device at `speed`: relays the
                                  // first bytes of the unit's reply, then closes
    };

    // `devicePath` and `speed` are for the behaviours in front of a device.
    explicit HostileServer(Behaviour behaviour, const QString &devicePath = QString(),
                           int speed = 9600);
    ~HostileServer();
    HostileServer(const HostileServer &) = delete;
    HostileServer &operator=(const HostileServer &) = delete;

    // Listens on a free port of 127.0.0.1; false when it cannot.
    bool start();
    // The port as the behaviour speaks: rfc2217:// for those that speak Telnet, tcp:// for
    // the flood of 'A', the reset and the close mid-reply. The other two name the same
    // port in the other scheme (a client that expects what the server does not speak).
    QString url() const;
    QString rfc2217Url() const;
    QString tcpUrl() const;
    quint16 port() const { return listenPort; }

    // What it has seen so far (any thread).
    int connections() const { return accepted; }
    qint64 bytesReceived() const { return received; }
    qint64 bytesSent() const { return sent; }
    int speedRequests() const { return speedsAsked; }   // SET-BAUDRATE commands received
    int speedAnswers() const { return speedsAnswered; } // and answered
    int lastSpeedAsked() const { return lastAsked; }
    // Bytes of the client's data that reached the device, and of the device's sent on.
    qint64 bytesToDevice() const { return toDevice; }
    qint64 bytesFromDevice() const { return fromDevice; }

private:
    class Session;
    friend class Session;

    void serve();
    void serveClient(int client);
    // Writes `pattern` again and again while the client stays; `session`, when given, reads
    // the client's Telnet and queues its answers between two patterns.
    void pour(int client, const QByteArray &pattern, Session *session);
    // Relays between the client and the device; `session`, when given, speaks Telnet.
    void relay(int client, int device, Session *session);
    // Negotiates until the first SET-BAUDRATE is answered; false when the client has gone.
    bool negotiate(int client, Session &session);
    int openDevice() const;
    bool sendAll(int fd, const QByteArray &bytes, bool toClient);

    Behaviour behaviour;
    QString devicePath;
    int speed;
    int listener = -1;
    quint16 listenPort = 0;
    int stopPipe[2] = {-1, -1};
    std::atomic<int> accepted{0};
    std::atomic<qint64> received{0};
    std::atomic<qint64> sent{0};
    std::atomic<int> speedsAsked{0};
    std::atomic<int> speedsAnswered{0};
    std::atomic<int> lastAsked{0};
    std::atomic<qint64> toDevice{0};
    std::atomic<qint64> fromDevice{0};
    std::thread thread;
};
