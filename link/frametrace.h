#pragma once

#include <QByteArray>
#include <QFile>
#include <QMutex>
#include <QString>
#include <atomic>
#include <functional>

// A trace of the bytes on the line, written to a file for the technician or a script:
//
//   # vertal-cli 1.05 port /dev/ttyUSB0 speed 4800 address 1 at 2026-12-07 14:50:01.250
//   2026-12-07 14:50:01.252 out $0105069\r
//   2026-12-07 14:50:01.311 in !012906\r
//
// A header line (beginning with '#') opens each connection: program and version, port,
// line speed and unit address. Then one line per frame sent ("out") or per piece of bytes
// received ("in"), stamped with the date and the time to the millisecond. Bytes are
// written as text: printable ASCII as is, '\r' '\n' '\\' escaped, others as \xHH.
//
// What happened on the line that is no frame is a "note" line, in words, e.g. a flood told
// as a count of bytes:
//
//   2026-12-07 14:50:02.003 note 183040 bytes from the server dropped: more than a reply ...
//
// The stamp's format (QDateTime) also stamps vertal-cli's readings.
inline const QString traceStampFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz");
// The local date and time now, as trace lines and readings are stamped.
QString traceStamp();

// Installed, it sees every frame of every exchange worker of the process (logFrame()).
// Threads: record() may be called from any thread (workers record from their own).
class FrameTrace
{
public:
    FrameTrace() = default;
    ~FrameTrace();
    FrameTrace(const FrameTrace &) = delete;
    FrameTrace &operator=(const FrameTrace &) = delete;

    // Opens `path` for appending; false with errorString() set on failure.
    bool open(const QString &path);
    QString errorString() const { return file.errorString(); }

    // A line that cannot be written (a full disk, /dev/full) ends the trace: nothing after
    // it is written, writeFailed() turns true, and `report` (set before install()) is called
    // once with the system's reason, on the thread that recorded the line (a worker's).
    void onWriteFailure(std::function<void(const QString &reason)> report);
    bool writeFailed() const { return failed.load(); }

    // Writes the header line of a connection.
    void connection(const QString &program, const QString &port, int speed, int address);
    // Writes one line for `bytes` going "out" or coming "in".
    void record(const char *direction, const QByteArray &bytes);
    // Writes a note line.
    void note(const QString &text);

    // Makes `trace` the process's trace (nullptr: none). The caller keeps it alive until
    // it installs nullptr again.
    static void install(FrameTrace *trace);
    static FrameTrace *installed();

    // The bytes as the trace writes them (see above).
    static QString escaped(const QByteArray &bytes);

private:
    void writeLine(const QString &line);

    QMutex lock;
    QFile file;
    std::atomic<bool> failed{false};
    std::function<void(const QString &)> failureReport;
};
