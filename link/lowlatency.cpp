#include "lowlatency.h"

#ifdef __linux__
#include <QFileInfo>
#include <QString>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

// True when the character device behind `fd` hangs on the USB-serial bus (ttyUSB*): its
// class entry's device lives there. A pseudo-terminal has no device, a UART another bus.
bool isUsbSerial(int fd)
{
    struct stat st
    {
    };
    if (::fstat(fd, &st) < 0 || !S_ISCHR(st.st_mode))
        return false;
    const QString subsystem = QStringLiteral("/sys/dev/char/%1:%2/device/subsystem")
                                  .arg(major(st.st_rdev))
                                  .arg(minor(st.st_rdev));
    return QFileInfo(QFileInfo(subsystem).symLinkTarget()).fileName() ==
           QLatin1String("usb-serial");
}

bool setLowLatencyFlag(int fd, bool on)
{
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) < 0)
        return false;
    info.flags = on ? info.flags | ASYNC_LOW_LATENCY : info.flags & ~ASYNC_LOW_LATENCY;
    return ::ioctl(fd, TIOCSSERIAL, &info) == 0;
}

} // namespace

LowLatency requestLowLatency(int fd)
{
    LowLatency state;
    serial_struct info{};
    if (!isUsbSerial(fd) || ::ioctl(fd, TIOCGSERIAL, &info) < 0 || (info.flags & ASYNC_LOW_LATENCY))
        return state;
    state.requested = setLowLatencyFlag(fd, true);
    return state;
}

void restoreLatency(int fd, LowLatency &state)
{
    if (state.requested)
        setLowLatencyFlag(fd, false);
    state.requested = false;
}

#else // no such request elsewhere

LowLatency requestLowLatency(int)
{
    return {};
}

void restoreLatency(int, LowLatency &state)
{
    state.requested = false;
}

#endif
