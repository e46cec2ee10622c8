#include "clioptions.h"

#include "commandcodes.h"
#include "linespeeds.h"
#include "unitaddress.h"
#include "valuerules.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <algorithm>

namespace {

const char description[] =
    "Talks to a ВЕРТАЛ-КП unit on a serial line, for scripts, commissioning and monitoring.\n"
    "\n"
    "Commands:\n"
    "  ports                                  the serial ports and what the system knows\n"
    "  find --port P [--address A]            find the unit (six line speeds; address 0\n"
    "                                         asks the unit): speed, address, version, boards\n"
    "  info --port P                          version, boards, each input board's status\n"
    "                                         and alarm relay\n"
    "  status --port P [--board N] [--watch [--interval MS]]\n"
    "                                         input board status, once or until Ctrl-C\n"
    "  value --port P --board N [--watch [--interval MS]]\n"
    "                                         current value of an input board\n"
    "  relay get --port P --board N           the relay an input board switches on alarm\n"
    "  relay set --port P --board N --relay R --time S --period S\n"
    "                                         sets it (relay 0..%1, 0 none; time 0..%2 s,\n"
    "                                         period 0..%3 s; a time above 0 must be\n"
    "                                         greater than the period), then reads it\n"
    "                                         back\n"
    "  relay switch --port P --relay R        switches relay 1..%1 by hand (sent and\n"
    "                                         answered: the unit cannot tell its state)\n"
    "  scan --port P --speed B --addresses 1-32\n"
    "                                         which addresses answer on a multi-drop line\n"
    "\n"
    "Every command but ports and scan first finds the unit as find does; --speed keeps\n"
    "the search to that speed. Results go to standard output (one JSON object per line\n"
    "with --json), errors to standard error.\n"
    "\n"
    "Exit codes:\n"
    "  0  done (a --watch stream or a scan ended by Ctrl-C, SIGTERM or SIGHUP\n"
    "     included; elsewhere Ctrl-C ends the program at once)\n"
    "  2  usage error\n"
    "  3  the port cannot be opened (held by another program, or the system's reason)\n"
    "  4  no unit answered, or only garbled replies came (every one garbled: several\n"
    "     units answered at once and their replies collided)\n"
    "  5  an exchange failed midway, after the unit had answered, or the port went away\n"
    "  6  the unit did not store what was written (read back), or the values are out\n"
    "     of range\n"
    "  7  the results or the trace could not be written (standard output closed, a\n"
    "     full disk)";

// A numeric option: where it goes, and the least value it takes. Smaller ones (negative
// numbers, and 0 where it means nothing) are usage errors, not "not given".
struct Number
{
    const char *name;
    int *target;
    int least;
};

bool readNumber(const QCommandLineParser &parser, const Number &option, QString &error)
{
    if (!parser.isSet(QLatin1String(option.name)))
        return true;
    const QString text = parser.value(QLatin1String(option.name));
    bool ok = false;
    const int value = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)
                          ? text.mid(2).toInt(&ok, 16)
                          : text.toInt(&ok, 10);
    if (!ok)
        error = QStringLiteral("--%1: not a number: '%2'").arg(QLatin1String(option.name), text);
    else if (value < option.least)
        error = QStringLiteral("--%1 %2: must be %3 or more")
                    .arg(QLatin1String(option.name), text)
                    .arg(option.least);
    else
        *option.target = value;
    return error.isEmpty();
}

bool readAddress(const QCommandLineParser &parser, CliOptions &o, QString &error)
{
    if (!parser.isSet(QStringLiteral("address")))
        return true;
    const QString text = parser.value(QStringLiteral("address"));
    o.address = parseUnitAddress(text);
    if (o.address < 0)
        error = QStringLiteral("--address %1: 0..255 or 0x00..0xFF").arg(text);
    return error.isEmpty();
}

void addOptions(QCommandLineParser &parser)
{
    parser.addOptions({
        {"port", "Serial port: a listed name (ttyUSB0) or a device path.", "P"},
        {"speed", "Line speed: 4800 ... 115200; skips the search.", "B"},
        {"address", "Unit address 0..255 or 0x00..0xFF; 0 asks the unit (default 0).", "A"},
        {"tries", "Sends per exchange (default 9).", "N"},
        {"json", "One JSON object per result, one per line."},
        {"trace", "Append a trace of the frames on the line to FILE.", "FILE"},
        {"board", QStringLiteral("Input board position 1..%1.").arg(boardPositions), "N"},
        {"relay",
         QStringLiteral("Relay board position, 0 none (relay set) or 1..%1.").arg(boardPositions),
         "R"},
        {"time", QStringLiteral("Relay on-time in seconds, 0..%1.").arg(unit::maxOnTime), "S"},
        {"period", QStringLiteral("Relay period in seconds, 0..%1.").arg(unit::maxPeriod), "S"},
        {"watch", "Read again and again until interrupted (Ctrl-C)."},
        {"interval", "Milliseconds between readings with --watch (default 500).", "MS"},
        {"addresses", "Addresses to scan: 1-32, 1,3,5-7.", "LIST"},
    });
}

// The options each command cannot do without.
QString missingOption(const CliOptions &o)
{
    const bool needsPort = o.command != QLatin1String("ports");
    if (needsPort && o.port.isEmpty())
        return QStringLiteral("--port is needed");
    const bool value = o.command == QLatin1String("value");
    const bool relayGetSet = o.command == QLatin1String("relay") &&
                             (o.action == QLatin1String("get") || o.action == QLatin1String("set"));
    if ((value || relayGetSet) && o.board < 0)
        return QStringLiteral("--board is needed");
    if (o.command == QLatin1String("relay") && o.action != QLatin1String("get") && o.relay < 0)
        return QStringLiteral("--relay is needed");
    if (o.command == QLatin1String("relay") && o.action == QLatin1String("set") &&
        (o.onTime < 0 || o.period < 0))
        return QStringLiteral("--time and --period are needed");
    if (o.command == QLatin1String("scan") && (o.speed == 0 || o.addresses.isEmpty()))
        return QStringLiteral("scan needs --speed and --addresses");
    return QString();
}

bool checkCommand(const QStringList &words, CliOptions &o, QString &error)
{
    static const QStringList commands{"ports", "find", "info", "status", "value", "relay", "scan"};
    static const QStringList actions{"get", "set", "switch"};
    o.command = words.value(0);
    o.action = words.value(1);
    const int expected = o.command == QLatin1String("relay") ? 2 : 1;
    if (words.isEmpty())
        error = QStringLiteral("a command is needed");
    else if (!commands.contains(o.command))
        error = QStringLiteral("unknown command '%1'").arg(o.command);
    else if (expected == 2 && !actions.contains(o.action))
        error = QStringLiteral("relay needs get, set or switch");
    else if (words.size() != expected)
        error = QStringLiteral("unexpected argument '%1'").arg(words.value(expected));
    return error.isEmpty();
}

bool checkRanges(const CliOptions &o, QString &error)
{
    if (o.speed != 0 && !isUnitLineSpeed(o.speed))
        error = QStringLiteral("--speed: 4800, 9600, 19200, 38400, 57600 or 115200");
    else if (o.tries > 100)
        error = QStringLiteral("--tries %1: 1..100").arg(o.tries);
    return error.isEmpty();
}

} // namespace

QList<int> parseAddressList(const QString &text)
{
    QList<int> addresses;
    for (const QString &part : text.split(QLatin1Char(','))) {
        const QStringList ends = part.split(QLatin1Char('-'));
        const int first = parseUnitAddress(ends.value(0).trimmed());
        const int last = ends.size() == 2 ? parseUnitAddress(ends[1].trimmed()) : first;
        if (ends.size() > 2 || first < 0 || last < 0 || first > last)
            return {};
        for (int a = first; a <= last; ++a)
            addresses << a;
    }
    std::sort(addresses.begin(), addresses.end());
    addresses.erase(std::unique(addresses.begin(), addresses.end()), addresses.end());
    return addresses;
}

bool parseCommandLine(const QStringList &arguments, CliOptions &o, QString &error)
{
    QCommandLineParser parser;
    // The ranges from the unit's own rules, so that the help says what is checked.
    parser.setApplicationDescription(QString::fromUtf8(description)
                                         .arg(boardPositions)
                                         .arg(unit::maxOnTime)
                                         .arg(unit::maxPeriod));
    parser.addHelpOption();
    parser.addVersionOption();
    addOptions(parser);
    parser.addPositionalArgument("command", "ports, find, info, status, value, relay, scan");
    parser.addPositionalArgument("action", "relay only: get, set or switch", "[action]");
    if (!parser.parse(arguments)) {
        error = parser.errorText();
        return false;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (!checkCommand(parser.positionalArguments(), o, error))
        return false;
    o.port = parser.value(QStringLiteral("port"));
    o.json = parser.isSet(QStringLiteral("json"));
    o.trace = parser.value(QStringLiteral("trace"));
    o.watch = parser.isSet(QStringLiteral("watch"));
    const Number numbers[] = {{"speed", &o.speed, 1},        {"tries", &o.tries, 1},
                              {"board", &o.board, 1},        {"relay", &o.relay, 0},
                              {"time", &o.onTime, 0},        {"period", &o.period, 0},
                              {"interval", &o.intervalMs, 1}};
    for (const Number &n : numbers)
        if (!readNumber(parser, n, error))
            return false;
    if (!readAddress(parser, o, error))
        return false;
    if (parser.isSet(QStringLiteral("addresses"))) {
        o.addresses = parseAddressList(parser.value(QStringLiteral("addresses")));
        if (o.addresses.isEmpty()) {
            error = QStringLiteral("--addresses: a list such as 1-32 or 1,3,5-7 (0..255)");
            return false;
        }
    }
    if (!checkRanges(o, error))
        return false;
    error = missingOption(o);
    return error.isEmpty();
}
