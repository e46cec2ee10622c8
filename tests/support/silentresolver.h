#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <atomic>
#include <thread>

// A resolver that never answers, for the children of a test: a network and a mount
// namespace of their own (held open by a small process), where /etc/resolv.conf names
// 127.0.0.1 with short time-outs, /etc/hosts knows only localhost and the host database
// is "files dns", and where a UDP socket on 127.0.0.1:53 reads every query and answers
// none. A child started behind wrapper() asks the resolver for unknownName and waits for
// an answer that never comes. Root only (namespaces and bind mounts).
class SilentResolver
{
public:
    // A name that only the resolver could answer.
    static constexpr char unknownName[] = "serial-box.lan";

    SilentResolver() = default;
    ~SilentResolver();
    SilentResolver(const SilentResolver &) = delete;
    SilentResolver &operator=(const SilentResolver &) = delete;

    // Sets up the namespaces and the silent socket. False with errorString() set where
    // that cannot be done (not root, unshare or nsenter missing).
    bool start();
    QString errorString() const { return error; }

    // The command to put in front of a child's program (SelfChild's wrapper, or the start
    // of a QProcess's command line): the program runs in the namespaces as itself (same
    // process, so a signal sent to it reaches the program).
    QStringList wrapper() const;
    // The queries the socket has read so far (each lookup sends several).
    int queriesRead() const { return queries.load(); }

private:
    bool writeFiles();
    bool startHolder();
    bool bindSocket();
    void readQueries(int socket);

    QTemporaryDir dir;
    QProcess holder; // its namespaces are the children's; ends when its input closes
    std::thread reader;
    int stopPipe[2] = {-1, -1};
    std::atomic<int> queries{0};
    QString error;
};
