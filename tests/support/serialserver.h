#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A real ser2net (the Debian package) in front of a serial device (the simulator's
// pseudo-terminal), on the loopback address with a configuration of its own: a Telnet
// RFC 2217 accepter (rfc2217Url()) and a raw TCP one (tcpUrl()) on free ports, one client
// at a time each. Never the system's configuration.
class SerialServer
{
public:
    struct Options
    {
        int rawSpeed = 9600;   // the line speed the raw accepter sets on the device
        bool charDelay = true; // ser2net's wait for a pause in the device's bytes
        bool kickOldUser = false;
    };

    SerialServer() = default;
    ~SerialServer() { stop(); }
    SerialServer(const SerialServer &) = delete;
    SerialServer &operator=(const SerialServer &) = delete;

    // Starts ser2net for `devicePath` and waits until both ports listen. False with
    // errorString() set when it cannot (ser2net missing, ports not listening).
    bool start(const QString &devicePath, const Options &options);
    bool start(const QString &devicePath) { return start(devicePath, Options{}); }
    // Starts it again with the same device, ports and options (after kill()).
    bool restart();
    // Ends it at once (SIGKILL): its connections end as a server that dies ends them.
    void kill();
    // Ends it politely and waits.
    void stop();
    bool isRunning() const { return process.state() != QProcess::NotRunning; }

    QString rfc2217Url() const;
    QString tcpUrl() const;
    quint16 rfc2217Port() const { return telnetPort; }
    quint16 tcpPort() const { return rawPort; }
    QString errorString() const { return error; }

    // A TCP port on 127.0.0.1 that nothing listens on now.
    static quint16 freePort();
    // True when a socket listens on 127.0.0.1:`port` (read from the system's table, so that
    // the look opens nothing on the server).
    static bool isListening(quint16 port);

private:
    bool launch();

    QTemporaryDir dir;
    QProcess process;
    QString device;
    Options opts;
    quint16 telnetPort = 0;
    quint16 rawPort = 0;
    QString error;
};
