#pragma once

#include <QString>
#include <atomic>
#include <chrono>
#include <thread>

// A device server that sets a new line speed late, played by a relay in front of ser2net on
// the loopback address: each SET-BAUDRATE from the client is held back `delay` while the
// bytes after it go on at once, so that the server's line changes speed, and the server
// answers, only after they have gone through at the old speed. Everything else, both ways,
// passes as it comes. One client at a time, served in a thread of its own.
class LateSpeedRelay
{
public:
    LateSpeedRelay(quint16 serverPort, std::chrono::milliseconds delay);
    ~LateSpeedRelay();
    LateSpeedRelay(const LateSpeedRelay &) = delete;
    LateSpeedRelay &operator=(const LateSpeedRelay &) = delete;

    // Listens on a free port of 127.0.0.1; false when it cannot.
    bool start();
    QString rfc2217Url() const;
    // How many SET-BAUDRATE commands were held back so far.
    int speedsHeldBack() const { return held; }

private:
    void serve();
    void relay(int client, int server);

    quint16 serverPort;
    std::chrono::milliseconds delay;
    int listener = -1;
    quint16 port = 0;
    int stopPipe[2] = {-1, -1};
    std::atomic<int> held{0};
    std::thread thread;
};
