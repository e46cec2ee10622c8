#include "devicelink.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

bool placeDeviceLink(const QString &link, const QString &target, QString *error)
{
    const QFileInfo existing(link);
    if ((existing.exists() || existing.isSymLink()) && !existing.isSymLink()) {
        if (error)
            *error = link + QStringLiteral(": exists and is not a symbolic link");
        return false;
    }
    const QByteArray to = QFile::encodeName(link);
    const QByteArray staging = to + ".new." + QByteArray::number(qint64(::getpid()));
    ::unlink(staging.constData());
    if (::symlink(QFile::encodeName(target).constData(), staging.constData()) != 0 ||
        std::rename(staging.constData(), to.constData()) != 0) {
        if (error)
            *error = link + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        ::unlink(staging.constData());
        return false;
    }
    return true;
}

void removeDeviceLink(const QString &link)
{
    if (!link.isEmpty() && QFileInfo(link).isSymLink())
        QFile::remove(link);
}
