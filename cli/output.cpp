#include "output.h"

#include "exitcodes.h"

#include <QJsonDocument>
#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

bool standardOutputClosed = false;

} // namespace

void Output::guardStandardOutput()
{
#ifdef Q_OS_UNIX
    if (::fcntl(STDOUT_FILENO, F_GETFD) != -1 || errno != EBADF)
        return;
    standardOutputClosed = true;
    const int null = ::open("/dev/null", O_WRONLY); // the lowest free descriptor: 1
    if (null != -1 && null != STDOUT_FILENO)
        ::close(null);
#endif
}

int Output::result(const QJsonObject &object, const QString &human) const
{
    const QByteArray line =
        (asJson ? QJsonDocument(object).toJson(QJsonDocument::Compact) : human.toUtf8()) + '\n';
    if (standardOutputClosed) {
        error(QStringLiteral("cannot write the results: standard output is closed"));
        return ExitWriteFailed;
    }
    errno = 0;
    const bool written =
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout) == size_t(line.size()) &&
        std::fflush(stdout) == 0;
    if (written)
        return ExitDone;
    const int why = errno;
    std::clearerr(stdout);
    error(QStringLiteral("cannot write the results to standard output: %1")
              .arg(QString::fromLocal8Bit(std::strerror(why))));
    return ExitWriteFailed;
}

void Output::error(const QString &text)
{
    const QByteArray line = "vertal-cli: " + text.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}
