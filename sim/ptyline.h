#pragma once

#include <QByteArray>
#include <QString>

// How a pair is set up. The simulator's: raw, and only the wizard holds the slave side.
struct PtyLineSetup
{
    // Also hold the slave side here, so that the pair lives while the wizard's port is
    // closed (a test's peer that opens and closes the port many times on one line).
    bool keepFarSideOpen = false;
    // Raw mode from the start; false leaves the system's default (cooked) settings, as a
    // program finds a line it has never set.
    bool raw = true;
};

// The unit's end of a pseudo-terminal pair: the master side, kept by the server; the
// slave's path is what the wizard opens as its serial port.
// Raw mode from the start, so that nothing is echoed back before the wizard sets up the
// line. Not thread-safe: one thread uses it.
class PtyLine
{
public:
    PtyLine() = default;
    PtyLine(const PtyLine &) = delete;
    PtyLine &operator=(const PtyLine &) = delete;
    ~PtyLine() { close(); }

    // Opens a new pair and closes our slave descriptor (the wizard opens its own) unless
    // `setup` keeps it. False with `error` set on failure.
    bool open(QString *error, PtyLineSetup setup = PtyLineSetup());
    // Closes the master (and a slave descriptor kept here): the slave side sees a hang-up.
    void close();
    // Closes the master alone; a slave descriptor kept here stays open.
    void hangUp();
    bool isOpen() const { return master >= 0; }
    int masterFd() const { return master; }
    QString slavePath() const { return path; }

    // The line speed the far end set on the slave, in baud; 0 when not one we know.
    int lineSpeed() const;
    // Writes all of `bytes`, waiting a bounded time for room; false if it could not.
    // Bytes for a line whose slave is not open are dropped.
    bool write(const QByteArray &bytes);
    // Reads what is there. Returns false when the slave side is not open (hang-up).
    bool read(QByteArray &into);

private:
    int master = -1;
    int slave = -1; // only when kept open
    QString path;
};
