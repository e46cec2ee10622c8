#include "devicegroup.h"

#ifdef Q_OS_UNIX
#include <grp.h>
#include <sys/stat.h>
#endif

QString deviceGroup(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat info
    {
    };
    if (::stat(path.toLocal8Bit().constData(), &info) != 0)
        return QString();
    // Joining root's group is no advice to give anybody.
    if (info.st_gid == 0)
        return QString();
    if (const group *owner = ::getgrgid(info.st_gid))
        return QString::fromLocal8Bit(owner->gr_name);
#else
    Q_UNUSED(path);
#endif
    return QString();
}

