// vertal-unit-sim: a ВЕРТАЛ-КП unit on a pseudo-terminal, driven from the console.
// The first line of standard output is the device path of the unit's line.

#include "linespeeds.h"
#include "simconsole.h"
#include "simunit.h"
#include "unitserver.h"

#include "commandcodes.h"
#include "vertalversion.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <deque>
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

struct Options
{
    UnitState unit;
    QList<int> addresses;
    QList<int> boardMaps;
    QString link;
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

// "1,2,5": numbers 0..255 separated by commas; false when one is not.
bool parseByteList(const QString &text, QList<int> &values)
{
    values.clear();
    for (const QString &part : text.split(QLatin1Char(','))) {
        int n = -1;
        if (!parseConsoleNumber(part.trimmed(), n) || n < 0 || n > 255)
            return false;
        values << n;
    }
    return !values.isEmpty();
}

// The units on the line: one per address, each with its own boards and values.
QList<UnitState> unitsOnLine(const Options &o)
{
    QList<UnitState> units;
    const QList<int> addresses = o.addresses.isEmpty() ? QList<int>{o.unit.address} : o.addresses;
    for (qsizetype i = 0; i < addresses.size(); ++i) {
        UnitState s = o.unit;
        s.address = quint8(addresses[i]);
        if (!o.boardMaps.isEmpty())
            s.boardMap = quint8(o.boardMaps.value(i, o.boardMaps.last()));
        for (int p = 1; addresses.size() > 1 && p <= boardPositions; ++p)
            s.value[p - 1] = quint16(100 * s.address + p);
        units << s;
    }
    return units;
}

void describeOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QStringLiteral("A ВЕРТАЛ-КП unit on a pseudo-terminal. Prints the device path on its "
                       "first line, then reads commands on standard input."));
    parser.addOptions({
        {QStringLiteral("address"),
         QStringLiteral("The unit's address, 0..255 (1); several addresses put several units "
                        "on the line (input board p of the unit at address A then starts "
                        "with the value 100*A+p); \"unit A\" picks one."),
         QStringLiteral("N[,N...]")},
        {QStringLiteral("speed"),
         QStringLiteral("Line speed: 4800, 9600, 19200, 38400, 57600, 115200 (19200)."),
         QStringLiteral("BAUD")},
        {QStringLiteral("boards"),
         QStringLiteral("Board map byte, decimal or 0x-hex (0x29: 1 input, 2-3 relay); one "
                        "per unit, the last one for the units after it."),
         QStringLiteral("MAP[,MAP]")},
        {QStringLiteral("firmware"), QStringLiteral("Firmware version the unit reports (1.5)."),
         QStringLiteral("MAJ.MIN")},
        {QStringLiteral("link"),
         QStringLiteral("Also reach the line through the symbolic link PATH."),
         QStringLiteral("PATH")},
        {{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("This text.")},
        {{QStringLiteral("v"), QStringLiteral("version")},
         QStringLiteral("The simulator's own version.")},
    });
}

// Takes the options' values into `o`; false, naming the option, when one is wrong.
bool readOptions(const QCommandLineParser &parser, Options &o, QString &wrong)
{
    int n = -1;
    const auto bad = [&wrong](const char *name) {
        wrong = QLatin1String(name);
        return false;
    };
    if (parser.isSet("address") && !parseByteList(parser.value("address"), o.addresses))
        return bad("--address");
    if (parser.isSet("boards") && !parseByteList(parser.value("boards"), o.boardMaps))
        return bad("--boards");
    if (parser.isSet("speed")) {
        if (!parseConsoleNumber(parser.value("speed"), n) || !isUnitLineSpeed(n))
            return bad("--speed");
        o.unit.lineSpeed = n;
    }
    if (parser.isSet("firmware") && !parseVersion(parser.value("firmware"), o.unit))
        return bad("--firmware");
    if (parser.isSet("link")) {
        o.link = parser.value("link");
        if (o.link.isEmpty())
            return bad("--link");
    }
    return true;
}

// False when the pipe that wakes the console on a signal cannot be made.
bool catchSignals()
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("vertal-unit-sim: pipe2");
        return false;
    }
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
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
    const QCoreApplication program(argc, argv); // names the program in the help text
    const QStringList args = QCoreApplication::arguments();
    QCommandLineParser parser;
    describeOptions(parser);
    Options options;
    QString wrong;
    if (!parser.parse(args) || !parser.positionalArguments().isEmpty() ||
        !readOptions(parser, options, wrong)) {
        const QString why = wrong.isEmpty() ? parser.errorText() : "bad value for " + wrong;
        std::fprintf(stderr, "vertal-unit-sim: %s\n%s", qPrintable(why),
                     qPrintable(parser.helpText()));
        return 2;
    }
    if (parser.isSet("help")) {
        print(parser.helpText() + QLatin1Char('\n') + SimConsole::help());
        return 0;
    }
    if (parser.isSet("version")) {
        print(QStringLiteral("vertal-unit-sim " VERTAL_VERSION "\n"));
        return 0;
    }
    if (!catchSignals())
        return 1;
    std::deque<SimUnit> units; // SimUnit holds a mutex: it never moves
    for (const UnitState &state : unitsOnLine(options))
        units.emplace_back(state);
    UnitServer server(units.front());
    for (std::size_t i = 1; i < units.size(); ++i)
        server.addUnit(units[i]);
    if (!server.start(options.link)) {
        std::fprintf(stderr, "vertal-unit-sim: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    print(server.devicePath() + QLatin1Char('\n'));
    SimConsole console(units.front(), server);
    for (std::size_t i = 1; i < units.size(); ++i)
        console.addUnit(units[i]);
    runConsole(console);
    server.stop();
    return 0;
}
