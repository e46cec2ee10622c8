// What SerialPort is alike on every platform: the steps of opening around the platform's
// own, and the error, read from any thread.
#include "serialport.h"

#include <QMutexLocker>

SerialPort::Error SerialPort::error() const
{
    QMutexLocker lock(&errorLock);
    return lastError;
}

QString SerialPort::lastErrorString() const
{
    QMutexLocker lock(&errorLock);
    return lastErrorText;
}

bool SerialPort::open(const QString &path)
{
    close();
    gone = false;
    const qintptr opened = openLine(path);
    if (opened == -1)
        return false;
    fd = opened;
    speed = 4800;
    devicePath = path;
    setError(NoError, 0);
    return true;
}

void SerialPort::setError(Error code, int sysError)
{
    if (code == Gone && fd != -1)
        gone = true;
    QMutexLocker lock(&errorLock);
    lastError = code;
    lastErrorText = sysError ? systemErrorText(sysError) : QString();
}
