#include "clioptions.h"

#include "commandcodes.h"
#include "linespeeds.h"
#include "networkportname.h"
#include "unitaddress.h"
#include "valuerules.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <algorithm>

namespace {

// Longer than anyone waits for a reply: a typing error, not a choice.
constexpr int maxListenMs = 10000;

const char description[] =
    "Talks to a ВЕРТАЛ-КП unit on a serial line, for scripts, commissioning and monitoring.\n"
    "\n"
    "Commands:\n"
    "  ports                                  the serial ports and what the system knows\n"
    "  find --port P [--address A] [--quick] [--listen MS]\n"
    "                                         find the unit (six line speeds, once over\n"
    "                                         tcp://; address 0 asks the unit): speed,\n"
    "                                         address, version, boards\n"
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
    "  config save --port P [--file F]        the unit's address, speed, firmware, boards\n"
    "                                         and every input board's alarm relay as one\n"
    "                                         JSON document (standard output without\n"
    "                                         --file)\n"
    "  config load F --port P [--dry-run]     checks document F against the unit, tells\n"
    "                                         board by board what changes, writes only\n"
    "                                         the boards that differ and reads them back\n"
    "  monitor --config F                     watches the units of every line in F and\n"
    "                                         publishes them to an MQTT broker until\n"
    "                                         SIGTERM or Ctrl-C; SIGHUP reads F again\n"
    "                                         (Linux)\n"
    "\n"
    "Every command but ports and scan first finds the unit as find does; --speed keeps\n"
    "the search to that speed (over tcp:// without it, the search asks once, at the\n"
    "line speed the server sets); --listen MS sets the listening time of one attempt\n"
    "(rounded to 15 ms polls; default 315 ms, the window's), --quick sends one copy\n"
    "at each speed first and searches as the window does only when nothing answered.\n"
    "A unit heard within a shorter listening time than the window's is confirmed\n"
    "with the window's timing before it is reported. Results go to standard output\n"
    "(one JSON object per line with --json), errors to standard error.\n"
    "\n"
    "Exit codes:\n"
    "  0  done (a --watch stream or a scan ended by Ctrl-C, SIGTERM or SIGHUP\n"
    "     included; elsewhere, while connecting to a server too, the signal ends\n"
    "     the program at once: a shell sees 128 + its number, 130 for Ctrl-C)\n"
    "  2  usage error (or a configuration file that cannot be read, is larger than\n"
    "     1 MiB, or is none)\n"
    "  3  the port cannot be opened (held by another program), or the server's\n"
    "     connection cannot be made (its reason and what to check are said)\n"
    "  4  no unit answered, or only garbled replies came (several units answering\n"
    "     one address at once, or noise on the line)\n"
    "  5  an exchange failed midway, after the unit had answered, or the port\n"
    "     went away (a server's: the server ended the connection)\n"
    "  6  the unit did not store what was written (read back), the values are out\n"
    "     of range, or a configuration document does not fit the unit\n"
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
        {"port",
         "Serial port: a listed name (ttyUSB0), a device path, or a serial server's "
         "rfc2217://HOST:PORT (the line set by RFC 2217) or tcp://HOST:PORT (the server's "
         "speed: give --speed); PORT 1..65535, an IPv6 address in brackets "
         "(rfc2217://[::1]:2000).",
         "P"},
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
        {"file", "config save: write the document to FILE.", "FILE"},
        {"config", "monitor: the monitor's configuration (JSON).", "FILE"},
        {"dry-run", "config load: check and tell what would change; write nothing."},
        {"listen", "Listening time of one attempt, rounded to 15 ms polls (default 315).", "MS"},
        {"quick", "Search with one copy at each speed first (find)."},
    });
}

// The options each command cannot do without.
QString missingOption(const CliOptions &o)
{
    if (o.command == QLatin1String("monitor"))
        return o.file.isEmpty() ? QStringLiteral("monitor needs --config") : QString();
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
    static const QStringList commands{"ports", "find", "info",   "status", "value",
                                      "relay", "scan", "config", "monitor"};
    static const QStringList actions{"get", "set", "switch"};
    o.command = words.value(0);
    o.action = words.value(1);
    const bool config = o.command == QLatin1String("config");
    const bool load = config && o.action == QLatin1String("load");
    const int expected = load ? 3 : o.command == QLatin1String("relay") || config ? 2 : 1;
    if (load)
        o.file = words.value(2);
    if (config && !load && o.action != QLatin1String("save"))
        error = QStringLiteral("config needs save or load");
    else if (load && words.size() < 3)
        error = QStringLiteral("config load needs the document's file");
    else if (words.isEmpty())
        error = QStringLiteral("a command is needed");
    else if (!commands.contains(o.command))
        error = QStringLiteral("unknown command '%1'").arg(o.command);
    else if (!config && expected == 2 && !actions.contains(o.action))
        error = QStringLiteral("relay needs get, set or switch");
    else if (words.size() != expected)
        error = QStringLiteral("unexpected argument '%1'").arg(words.value(expected));
    return error.isEmpty();
}

bool checkRanges(const CliOptions &o, QString &error)
{
    if (parseNetworkPortName(o.port).kind == NetworkPortName::Invalid)
        error = QStringLiteral("--port %1: a serial server is named rfc2217://HOST:PORT or "
                               "tcp://HOST:PORT, PORT 1..65535, an IPv6 address in brackets "
                               "(rfc2217://[::1]:2000)")
                    .arg(o.port);
    else if (o.speed != 0 && !isUnitLineSpeed(o.speed))
        error = QStringLiteral("--speed: 4800, 9600, 19200, 38400, 57600 or 115200");
    else if (o.tries > 100)
        error = QStringLiteral("--tries %1: 1..100").arg(o.tries);
    else if (o.listenMs > maxListenMs)
        error = QStringLiteral("--listen %1: 1..%2 ms").arg(o.listenMs).arg(maxListenMs);
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
    parser.addPositionalArgument("command",
                                 "ports, find, info, status, value, relay, scan, config, monitor");
    parser.addPositionalArgument("action", "relay: get, set or switch; config: save or load F",
                                 "[action]");
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
    o.dryRun = parser.isSet(QStringLiteral("dry-run"));
    o.quick = parser.isSet(QStringLiteral("quick"));
    if (o.command == QLatin1String("config") && o.action == QLatin1String("save"))
        o.file = parser.value(QStringLiteral("file"));
    if (o.command == QLatin1String("monitor"))
        o.file = parser.value(QStringLiteral("config"));
    const Number numbers[] = {{"speed", &o.speed, 1},         {"tries", &o.tries, 1},
                              {"board", &o.board, 1},         {"relay", &o.relay, 0},
                              {"time", &o.onTime, 0},         {"period", &o.period, 0},
                              {"interval", &o.intervalMs, 1}, {"listen", &o.listenMs, 1}};
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
