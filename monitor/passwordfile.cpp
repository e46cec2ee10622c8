#include "passwordfile.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace monitor {

namespace {

constexpr qint64 maxPasswordFileBytes = 4 * 1024;

// Why the file `info` describes may not hold the broker's password; empty when it may.
QString refusal(const QString &path, const struct stat &info)
{
    if (!S_ISREG(info.st_mode))
        return QStringLiteral("%1 is not a regular file").arg(path);
    const int mode = int(info.st_mode & 07777);
    if (mode & 077)
        return QStringLiteral("%1 may be read by others (mode %2): chmod 600 it")
            .arg(path)
            .arg(mode, 4, 8, QLatin1Char('0'));
    if (info.st_size == 0)
        return QStringLiteral("%1 is empty").arg(path);
    if (info.st_size > maxPasswordFileBytes)
        return QStringLiteral("%1 is larger than 4 KiB: not a password file").arg(path);
    return QString();
}

// The first line, without its line end ("\n" or "\r\n").
QString firstLine(const QByteArray &data)
{
    QByteArray line = data.left(data.indexOf('\n') < 0 ? data.size() : data.indexOf('\n'));
    if (line.endsWith('\r'))
        line.chop(1);
    return QString::fromUtf8(line);
}

QString systemError(const QString &path)
{
    return QStringLiteral("%1 cannot be read (%2)")
        .arg(path, QString::fromLocal8Bit(strerror(errno)));
}

} // namespace

bool readPasswordFile(const QString &path, QString &password, QString &error)
{
    // Without waiting: a FIFO put in its place must not hang the start.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = systemError(path);
        return false;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0) {
        error = systemError(path);
        ::close(fd);
        return false;
    }
    error = refusal(path, info);
    if (!error.isEmpty()) {
        ::close(fd);
        return false;
    }
    QFile file;
    file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    const QByteArray data = file.read(maxPasswordFileBytes + 1);
    if (file.error() != QFileDevice::NoError || data.size() > maxPasswordFileBytes) {
        error = data.size() > maxPasswordFileBytes
                    ? QStringLiteral("%1 is larger than 4 KiB: not a password file").arg(path)
                    : QStringLiteral("%1 cannot be read (%2)").arg(path, file.errorString());
        return false;
    }
    password = firstLine(data);
    if (password.isEmpty()) {
        error = QStringLiteral("%1 holds no password on its first line").arg(path);
        return false;
    }
    return true;
}

} // namespace monitor
