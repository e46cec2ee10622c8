// What SerialPort is alike on every platform: its error, read from any thread.
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
