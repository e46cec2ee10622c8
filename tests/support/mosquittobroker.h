#pragma once

#include <QList>
#include <QPair>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A real Mosquitto (Debian's /usr/sbin/mosquitto) on 127.0.0.1 with a configuration of its
// own in a temporary folder, never the system's: a plain listener on a free port, and on
// request a TLS listener on another with a CA and a server certificate made by `openssl`
// here (CN 127.0.0.1, SAN 127.0.0.1 and localhost), a password file made by
// `mosquitto_passwd` and an acl_file. It can be killed and started again on the same ports,
// and ends with the object.
class MosquittoBroker
{
public:
    struct Options
    {
        bool tls = false;
        QList<QPair<QString, QString>> users; // user and password; none: no password file
        QString acl;                          // the acl_file's text; empty: none
        bool allowAnonymous = true;
    };

    MosquittoBroker() = default;
    ~MosquittoBroker() { stop(); }
    MosquittoBroker(const MosquittoBroker &) = delete;
    MosquittoBroker &operator=(const MosquittoBroker &) = delete;

    // Makes the files, starts the broker and waits until its ports listen. False with
    // errorString() when it cannot (a tool missing, a listener that does not come up).
    bool start(const Options &options);
    bool start() { return start(Options{}); }
    // Starts it again with the same files and ports (after kill() or stop()).
    bool restart();
    // Ends it at once (SIGKILL): no last words, no saved state, as a broker that dies.
    void kill();
    // Stops it where it is (SIGSTOP): its connections stay open, nothing is read or answered.
    void pause();
    // Ends it politely and waits.
    void stop();
    // Lets clients without a username in or not; a running broker re-reads it (SIGHUP).
    bool setAllowAnonymous(bool allow);
    bool isRunning() const { return process.state() != QProcess::NotRunning; }

    quint16 port() const { return plainPort; }
    quint16 tlsPort() const { return securePort; }
    QString url() const;    // mqtt://127.0.0.1:PORT
    QString tlsUrl() const; // mqtts://localhost:TLSPORT
    QString caPath() const;
    // A CA of its own that signed nothing here: a client trusting it must refuse the broker.
    QString wrongCaPath() const;
    // What the broker wrote so far (bounded).
    QString log();
    QString errorString() const { return error; }

private:
    bool makeCertificates();
    bool makePasswordFile();
    bool writeConfig();
    bool launch();
    bool run(const QString &program, const QStringList &arguments);
    QString path(const char *name) const;

    QTemporaryDir dir;
    QProcess process;
    Options opts;
    quint16 plainPort = 0;
    quint16 securePort = 0;
    QString output;
    QString error;
};
