// Windows part of SerialPort: a COM port opened as \\.\COMn through the Win32 API.
//
// Waiting for bytes uses read time-outs on a synchronous handle, not overlapped I/O: the
// worker waits in windows of 15 ms, and one blocking ReadFile of one byte with a total
// time-out ends either at the first byte or at the window's end, inside the driver, with no
// event objects to set up and no pending WaitCommEvent to cancel when the window closes.
// The two workers that share a port run on two threads, one at a time; a pending overlapped
// wait belongs to the thread that issued it, a finished synchronous read belongs to nobody.
// The byte taken by the wait is kept and handed out first by the next readAll().
//
// Sending is bounded the same way. A line without flow control takes its bytes at the line
// speed whatever the far end does, so a write waits at most the time its bytes need (twice
// over, and a margin for the driver), and the drain waits on the driver's output queue with
// the same bound instead of FlushFileBuffers, which Windows lets wait for the device without
// any deadline and Wine answers by discarding the queue. A line that takes fewer bytes in
// that time has no working device behind it (an adapter pulled out, a Bluetooth link out of
// range, a far end that stopped reading): the port counts as gone, at once, instead of each
// of the nine sends of an exchange waiting out a time-out of its own.
#include "linespeeds.h"
#include "networkline.h" // the network line the port may hold, closed with it
#include "serialport.h"

#include <QMutexLocker>
#include <chrono>
#include <windows.h>

namespace {

using Clock = std::chrono::steady_clock;

// What a write or a drain may take beyond the time its bytes need on the line: room for
// the latency of ports that are not a UART (a USB adapter's frames, a Bluetooth link).
constexpr DWORD sendMarginMs = 250;
// Bits on the line per byte at 8N1.
constexpr int bitsPerByte = 10;

// Milliseconds per byte at `baud`, twice over and rounded up: what a send may take per byte.
DWORD sendMsPerByte(int baud)
{
    return DWORD((2 * bitsPerByte * 1000 + baud - 1) / baud);
}

// How long `bytes` bytes may take to leave at `baud`.
std::chrono::milliseconds sendBound(qint64 bytes, int baud)
{
    return std::chrono::milliseconds(sendMarginMs + bytes * sendMsPerByte(baud));
}

HANDLE toHandle(qintptr fd)
{
    return reinterpret_cast<HANDLE>(fd);
}

// The one place where Windows error codes become SerialPort errors. `opening` tells a port
// that cannot be had (access denied: another program holds it) from one that went away
// under us (access denied is also what a removed USB adapter answers).
SerialPort::Error errorFromSystem(DWORD code, bool opening)
{
    switch (code) {
    case ERROR_SUCCESS:
        return SerialPort::NoError;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
        return SerialPort::NotFound;
    case ERROR_ACCESS_DENIED:
        return opening ? SerialPort::Busy : SerialPort::Gone;
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return SerialPort::Busy;
    case ERROR_DEVICE_REMOVED:
    case ERROR_BAD_COMMAND:
    case ERROR_OPERATION_ABORTED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_NOT_READY:
    case ERROR_GEN_FAILURE:
    case ERROR_BROKEN_PIPE:
        return opening ? SerialPort::NotFound : SerialPort::Gone;
    case ERROR_INVALID_FUNCTION:
    case ERROR_INVALID_PARAMETER:
    case ERROR_NOT_SUPPORTED:
        return SerialPort::Unsupported;
    case ERROR_TIMEOUT:
    case ERROR_SEM_TIMEOUT:
    case ERROR_COUNTER_TIMEOUT:
        return SerialPort::Timeout;
    case ERROR_INVALID_HANDLE:
        return SerialPort::NotOpen;
    default:
        return SerialPort::OtherError;
    }
}

// The system's own words for `code`, in the user's language.
QString systemText(DWORD code)
{
    wchar_t *text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    QString result = length ? QString::fromWCharArray(text, int(length)).trimmed()
                            : QStringLiteral("system error %1").arg(code);
    ::LocalFree(text);
    return result;
}

// 8 data bits, no parity, 1 stop bit, binary, no flow control of any kind, DTR and RTS up
// (some adapters and units take their power or their "host present" from them).
void makeRaw(DCB &dcb, DWORD baud)
{
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
}

// A read returns at once when its bytes are there and waits at most `readMs` otherwise; a
// write gives up once its bytes have had twice their time at `baud`, and the margin.
COMMTIMEOUTS waitingTimeouts(DWORD readMs, int baud)
{
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = 0;
    t.ReadTotalTimeoutMultiplier = 0;
    t.ReadTotalTimeoutConstant = readMs;
    t.WriteTotalTimeoutMultiplier = sendMsPerByte(baud);
    t.WriteTotalTimeoutConstant = sendMarginMs;
    return t;
}

// A line that took fewer bytes than it was given in their time: what is still queued for
// it will not leave either. Drops it and returns `code` (the port is then gone).
int lineTakesNothing(HANDLE h, DWORD code)
{
    ::PurgeComm(h, PURGE_TXABORT | PURGE_TXCLEAR);
    return int(code);
}

// The codes with which a driver reports a write that ran out of time.
bool isTimeoutCode(DWORD code)
{
    return code == ERROR_TIMEOUT || code == ERROR_SEM_TIMEOUT || code == ERROR_COUNTER_TIMEOUT;
}

// A named mutex per port, held while the port is open. Windows' own serial drivers refuse a
// second open of a port (share mode 0); Wine does not for the devices it maps, and the
// claim must hold there too. Like the handle, it ends with the program however it ends.
// False when another holder has the port; `claim` is null if no mutex could be made at all
// (the port is then held by its handle alone).
bool claimLine(const QString &path, HANDLE &claim)
{
    QString name = path.toUpper();
    name.remove(QLatin1String("\\\\.\\"));
    name.replace(QLatin1Char('\\'), QLatin1Char('_'));
    const QString mutexName = QStringLiteral("Global\\vertal-line-") + name;
    claim = ::CreateMutexW(nullptr, FALSE, reinterpret_cast<const wchar_t *>(mutexName.utf16()));
    if (claim && ::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(claim);
        claim = nullptr;
        ::SetLastError(ERROR_ACCESS_DENIED); // what Windows answers for a port in use
        return false;
    }
    return true;
}

} // namespace

struct SerialPort::Native
{
    HANDLE claim = nullptr;
    DCB savedState{};
    COMMTIMEOUTS savedTimeouts{};
    DWORD readTimeoutMs = 0; // the read time-out now set on the handle
    // Bytes the wait has already taken off the line, handed out first by readAll().
    mutable QMutex heldLock;
    QByteArray held;

    qsizetype heldSize() const
    {
        QMutexLocker lock(&heldLock);
        return held.size();
    }

    // Saves what the port was set to and sets it raw at 4800 baud with the waiting
    // time-outs. False with the system's error when the handle is not a serial port.
    bool takeOver(HANDLE h)
    {
        DCB state{};
        state.DCBlength = sizeof state;
        savedState.DCBlength = sizeof savedState;
        if (!::GetCommState(h, &savedState) || !::GetCommTimeouts(h, &savedTimeouts) ||
            !::GetCommState(h, &state))
            return false;
        makeRaw(state, CBR_4800);
        return ::SetCommState(h, &state) && setTimeouts(h, 15, CBR_4800);
    }

    // Sets the waiting time-outs; false with the system's error.
    bool setTimeouts(HANDLE h, DWORD readMs, int baud)
    {
        COMMTIMEOUTS timeouts = waitingTimeouts(readMs, baud);
        if (!::SetCommTimeouts(h, &timeouts))
            return false;
        readTimeoutMs = readMs;
        return true;
    }

    void releaseClaim()
    {
        if (claim)
            ::CloseHandle(claim);
        claim = nullptr;
    }
};

SerialPort::SerialPort() : native(std::make_unique<Native>()) {}

SerialPort::~SerialPort()
{
    close();
}

qintptr SerialPort::openLine(const QString &path)
{
    // Share mode 0: nobody else, in this program or another, opens the line while we hold it,
    // and the claim ends with the handle however the program ends.
    const HANDLE h =
        ::CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_READ | GENERIC_WRITE,
                      0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        setSystemError(::GetLastError());
        return -1;
    }
    if (!claimLine(path, native->claim)) {
        const DWORD code = ::GetLastError();
        ::CloseHandle(h);
        setSystemError(code);
        return -1;
    }
    if (!native->takeOver(h)) {
        const DWORD code = ::GetLastError();
        ::CloseHandle(h);
        native->releaseClaim();
        setSystemError(code);
        return -1;
    }
    return reinterpret_cast<qintptr>(h);
}

void SerialPort::closeLine()
{
    if (fd == -1)
        return;
    const HANDLE h = toHandle(fd);
    // A line that has gone refuses these; there is nothing left to restore then.
    ::SetCommState(h, &native->savedState);
    ::SetCommTimeouts(h, &native->savedTimeouts);
    ::CloseHandle(h);
    native->releaseClaim();
    fd = -1;
    speed = 0;
    QMutexLocker lock(&native->heldLock);
    native->held.clear();
}

bool SerialPort::setLineSpeed(int baud)
{
    if (fd == -1 || !isUnitLineSpeed(baud)) {
        setError(fd == -1 ? NotOpen : Unsupported,
                 fd == -1 ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return false;
    }
    DCB state{};
    state.DCBlength = sizeof state;
    if (!::GetCommState(toHandle(fd), &state)) {
        setSystemError(::GetLastError());
        return false;
    }
    state.BaudRate = DWORD(baud);
    if (!::SetCommState(toHandle(fd), &state) ||
        !native->setTimeouts(toHandle(fd), native->readTimeoutMs, baud)) {
        setSystemError(::GetLastError());
        return false;
    }
    speed = baud;
    return true;
}

qint64 SerialPort::writeLine(const QByteArray &data)
{
    if (fd == -1) {
        setError(NotOpen, ERROR_INVALID_HANDLE);
        return 0;
    }
    if (gone || data.isEmpty())
        return 0;
    // One call: the driver takes all of it within the write time-out, or the line is stuck.
    DWORD written = 0;
    const BOOL ok =
        ::WriteFile(toHandle(fd), data.constData(), DWORD(data.size()), &written, nullptr);
    const DWORD code = ok ? ERROR_SUCCESS : ::GetLastError();
    if (!ok && !isTimeoutCode(code))
        setSystemError(code);
    else if (written < DWORD(data.size()))
        setError(Gone, lineTakesNothing(toHandle(fd), ok ? ERROR_WRITE_FAULT : code));
    return written;
}

// The drain: waits until the driver's output queue is empty, at most as long as its bytes
// need (see sendBound); a queue that does not empty in that time makes the port gone.
bool SerialPort::drainLine()
{
    if (fd == -1) {
        setError(NotOpen, ERROR_INVALID_HANDLE);
        return false;
    }
    if (gone)
        return false;
    Clock::time_point deadline{};
    for (bool first = true;; first = false) {
        DWORD errors = 0;
        COMSTAT stat{};
        if (!::ClearCommError(toHandle(fd), &errors, &stat)) {
            setSystemError(::GetLastError());
            return false;
        }
        if (stat.cbOutQue == 0)
            return true;
        if (first)
            deadline = Clock::now() + sendBound(stat.cbOutQue, speed);
        else if (Clock::now() >= deadline) {
            setError(Gone, lineTakesNothing(toHandle(fd), ERROR_WRITE_FAULT));
            return false;
        }
        ::Sleep(1);
    }
}

qint64 SerialPort::lineBytesToWrite() const
{
    DWORD errors = 0;
    COMSTAT stat{};
    if (fd == -1 || !::ClearCommError(toHandle(fd), &errors, &stat))
        return 0;
    return stat.cbOutQue;
}

qint64 SerialPort::lineBytesAvailable() const
{
    DWORD errors = 0;
    COMSTAT stat{};
    if (fd == -1)
        return 0;
    const qint64 queued = ::ClearCommError(toHandle(fd), &errors, &stat) ? stat.cbInQue : 0;
    return native->heldSize() + queued;
}

QByteArray SerialPort::readLine()
{
    QByteArray result;
    if (fd == -1)
        return result;
    {
        QMutexLocker lock(&native->heldLock);
        result.swap(native->held);
    }
    DWORD errors = 0;
    COMSTAT stat{};
    if (!::ClearCommError(toHandle(fd), &errors, &stat)) {
        setSystemError(::GetLastError());
        return result;
    }
    if (stat.cbInQue == 0)
        return result;
    // Exactly what is queued: the read finds its bytes there and returns without waiting.
    const qsizetype before = result.size();
    result.resize(before + qsizetype(stat.cbInQue));
    DWORD got = 0;
    if (!::ReadFile(toHandle(fd), result.data() + before, stat.cbInQue, &got, nullptr))
        setSystemError(::GetLastError());
    result.resize(before + qsizetype(got));
    return result;
}

bool SerialPort::waitForLine(int ms)
{
    if (fd == -1) {
        setError(NotOpen, ERROR_INVALID_HANDLE);
        return false;
    }
    if (gone)
        return false;
    // A line that has gone fails this at once (Wine: "Not ready"), while a read on it would
    // only come back empty at its time-out.
    DWORD errors = 0;
    COMSTAT stat{};
    if (!::ClearCommError(toHandle(fd), &errors, &stat)) {
        setSystemError(::GetLastError());
        return false;
    }
    if (stat.cbInQue > 0 || native->heldSize() > 0)
        return true;
    if (ms <= 0)
        return false;
    if (native->readTimeoutMs != DWORD(ms) &&
        !native->setTimeouts(toHandle(fd), DWORD(ms), speed)) {
        setSystemError(::GetLastError());
        return false;
    }
    // One byte: the read ends at the first byte that arrives, or at the time-out.
    char byte = 0;
    DWORD got = 0;
    if (!::ReadFile(toHandle(fd), &byte, 1, &got, nullptr)) {
        setSystemError(::GetLastError());
        return false;
    }
    if (got == 0)
        return false;
    QMutexLocker lock(&native->heldLock);
    native->held.append(byte);
    return true;
}

void SerialPort::setSystemError(int sysError)
{
    setError(errorFromSystem(DWORD(sysError), fd == -1), sysError);
}

QString SerialPort::systemErrorText(int sysError)
{
    return systemText(DWORD(sysError));
}
