#include "frametrace.h"

#include <QDateTime>
#include <QFileInfo>
#include <atomic>

namespace {

std::atomic<FrameTrace *> current{nullptr};

} // namespace

QString traceStamp()
{
    return QDateTime::currentDateTime().toString(traceStampFormat);
}

FrameTrace::~FrameTrace()
{
    FrameTrace *self = this;
    current.compare_exchange_strong(self, nullptr);
}

// A device or a pipe (/dev/stderr, a FIFO) has no end to append at: it is opened plainly.
bool FrameTrace::open(const QString &path)
{
    file.setFileName(path);
    const QFileInfo info(path);
    const bool appendable = !info.exists() || info.isFile();
    return file.open(QIODevice::WriteOnly | QIODevice::Text |
                     (appendable ? QIODevice::Append : QIODevice::NotOpen));
}

void FrameTrace::onWriteFailure(std::function<void(const QString &)> report)
{
    QMutexLocker guard(&lock);
    failureReport = std::move(report);
}

void FrameTrace::connection(const QString &program, const QString &port, int speed, int address)
{
    writeLine(QStringLiteral("# %1 port %2 speed %3 address %4 at %5")
                  .arg(program, port)
                  .arg(speed)
                  .arg(address)
                  .arg(traceStamp()));
}

void FrameTrace::record(const char *direction, const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    writeLine(
        QStringLiteral("%1 %2 %3").arg(traceStamp(), QLatin1String(direction), escaped(bytes)));
}

void FrameTrace::note(const QString &text)
{
    writeLine(QStringLiteral("%1 note %2").arg(traceStamp(), text));
}

void FrameTrace::install(FrameTrace *trace)
{
    current.store(trace);
}

FrameTrace *FrameTrace::installed()
{
    return current.load();
}

QString FrameTrace::escaped(const QByteArray &bytes)
{
    QString text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r')
            text += QLatin1String("\\r");
        else if (c == '\n')
            text += QLatin1String("\\n");
        else if (c == '\\')
            text += QLatin1String("\\\\");
        else if (byte >= 0x20 && byte < 0x7F)
            text += QLatin1Char(c);
        else
            text += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
    }
    return text;
}

// Each line is flushed at once: a trace must hold everything up to a crash or a Ctrl-C.
// The report runs outside the lock, so that it may write wherever it likes.
void FrameTrace::writeLine(const QString &line)
{
    QMutexLocker guard(&lock);
    if (!file.isOpen() || failed)
        return;
    const QByteArray bytes = line.toUtf8() + '\n';
    if (file.write(bytes) == bytes.size() && file.flush())
        return;
    failed = true;
    const QString reason = file.errorString();
    const std::function<void(const QString &)> report = failureReport;
    guard.unlock();
    if (report)
        report(reason);
}
