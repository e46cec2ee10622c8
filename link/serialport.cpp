// What SerialPort is alike on every platform: the steps of opening around the platform's
// own, the choice between a serial device and a network line, and the error, read from any
// thread.
#include "serialport.h"

#include "networkline.h"
#include "networkportname.h"
#include "runbeside.h"

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
    const qintptr opened =
        parseNetworkPortName(path).isNetwork() ? openNetworkLine(path) : openLine(path);
    if (opened == -1)
        return false;
    fd = opened;
    // A server may keep its line at a speed of its own from the start.
    speed = network && network->keptSpeed() ? network->keptSpeed() : 4800;
    devicePath = path;
    setError(NoError, 0);
    return true;
}

qintptr SerialPort::openNetworkLine(const QString &name)
{
    const NetworkPortName parsed = parseNetworkPortName(name);
    if (parsed.kind == NetworkPortName::Invalid) {
        setErrorText(NotFound, QStringLiteral("not a HOST:PORT: %1").arg(name));
        return -1;
    }
    auto line = std::make_unique<NetworkLine>(
        [this](Error code, const QString &text) { setErrorText(code, text); });
    qintptr opened = -1;
    runBesideEvents([&] { opened = line->open(parsed); });
    if (opened != -1)
        network = std::move(line);
    return opened;
}

void SerialPort::close()
{
    if (!network) {
        closeLine();
        return;
    }
    network.reset();
    fd = -1;
    speed = 0;
}

bool SerialPort::setBaudRate(int baud)
{
    if (!network)
        return setLineSpeed(baud);
    // The server's answer is waited for beside the window's events.
    bool set = false;
    runBesideEvents([&] { set = network->setBaudRate(baud); });
    if (set)
        speed = baud;
    else if (network->keptSpeed())
        speed = network->keptSpeed();
    return set;
}

qint64 SerialPort::write(const QByteArray &data)
{
    return network ? network->write(data) : writeLine(data);
}

// A network line's bytes are the server's once sent: there is no drain to wait for here.
bool SerialPort::flush()
{
    return network ? !gone.load() : drainLine();
}

qint64 SerialPort::bytesToWrite() const
{
    return network ? 0 : lineBytesToWrite();
}

qint64 SerialPort::bytesAvailable() const
{
    return network ? network->bytesAvailable() : lineBytesAvailable();
}

QByteArray SerialPort::readAll()
{
    return network ? network->readAll() : readLine();
}

bool SerialPort::waitForReadyRead(int ms)
{
    if (!network)
        return waitForLine(ms);
    if (gone)
        return false;
    return network->waitForReadyRead(ms);
}

void SerialPort::setError(Error code, int sysError)
{
    setErrorText(code, sysError ? systemErrorText(sysError) : QString());
}

void SerialPort::setErrorText(Error code, const QString &text)
{
    if (code == Gone && fd != -1)
        gone = true;
    QMutexLocker lock(&errorLock);
    lastError = code;
    lastErrorText = text;
}
