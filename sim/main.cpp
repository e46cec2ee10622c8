// vertal-unit-sim: a ВЕРТАЛ-КП unit on a pseudo-terminal, driven from the console.
// The first line of standard output is the device path of the unit's line.

#include "simconsole.h"
#include "simunit.h"
#include "unitserver.h"

#include <QStringList>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &byte, 1);
}

void print(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
}

const char usageText[] =
    "Usage: vertal-unit-sim [options]\n"
    "A ВЕРТАЛ-КП unit on a pseudo-terminal. Prints the device path on its first line,\n"
    "then reads commands on standard input.\n"
    "\n"
    "Options:\n"
    "  --address N         the unit's address, 0..255 (1)\n"
    "  --speed BAUD        line speed: 4800, 9600, 19200, 38400, 57600, 115200 (19200)\n"
    "  --boards MAP        board map byte, decimal or 0x-hex (0x29: 1 input, 2-3 relay)\n"
    "  --version MAJ.MIN   firmware version (1.5)\n"
    "  --link PATH         also reach the line through the symbolic link PATH\n"
    "  --help              this text\n"
    "\n";

struct Options
{
    UnitState unit;
    QString link;
    bool help = false;
};

bool parseVersion(const QString &text, UnitState &s)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    int major = -1;
    int minor = -1;
    if (parts.size() != 2 || !parseConsoleNumber(parts[0], major) ||
        !parseConsoleNumber(parts[1], minor) || major < 0 || major > 255 || minor < 0 ||
        minor > 255)
        return false;
    s.versionMajor = quint8(major);
    s.versionMinor = quint8(minor);
    return true;
}

// Applies one option and its value; false when either is wrong.
bool applyOption(Options &o, const QString &name, const QString &value)
{
    int n = -1;
    const bool number = parseConsoleNumber(value, n);
    if (name == QLatin1String("--address") && number && n >= 0 && n <= 255)
        o.unit.address = quint8(n);
    else if (name == QLatin1String("--speed") && number && SimUnit::isLineSpeed(n))
        o.unit.lineSpeed = n;
    else if (name == QLatin1String("--boards") && number && n >= 0 && n <= 255)
        o.unit.boardMap = quint8(n);
    else if (name == QLatin1String("--version"))
        return parseVersion(value, o.unit);
    else if (name == QLatin1String("--link") && !value.isEmpty())
        o.link = value;
    else
        return false;
    return true;
}

bool parseOptions(int argc, char *argv[], Options &o)
{
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            o.help = true;
            continue;
        }
        if (i + 1 >= argc || !applyOption(o, arg, QString::fromLocal8Bit(argv[i + 1]))) {
            std::fprintf(stderr, "vertal-unit-sim: bad option '%s'\n", argv[i]);
            return false;
        }
        ++i;
    }
    return true;
}

void catchSignals()
{
    ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

// Runs console commands until quit, end of input or a signal.
void runConsole(SimConsole &console)
{
    QByteArray pending;
    bool quit = false;
    while (!quit) {
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {signalPipe[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        char chunk[1024];
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            pending.append('\n'); // end of input: run what is left, then leave
        else
            pending.append(chunk, n);
        for (qsizetype end; !quit && (end = pending.indexOf('\n')) >= 0;) {
            print(console.execute(QString::fromLocal8Bit(pending.left(end)), quit));
            pending.remove(0, end + 1);
        }
        if (n <= 0)
            return;
    }
}

} // namespace

int main(int argc, char *argv[])
{
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::fputs(usageText, stderr);
        return 2;
    }
    if (options.help) {
        print(QString::fromUtf8(usageText) + SimConsole::help());
        return 0;
    }
    catchSignals();
    SimUnit unit(options.unit);
    UnitServer server(unit);
    if (!server.start(options.link)) {
        std::fprintf(stderr, "vertal-unit-sim: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    print(server.devicePath() + QLatin1Char('\n'));
    SimConsole console(unit, server);
    runConsole(console);
    server.stop();
    return 0;
}
