#include "simconsole.h"

#include "commandcodes.h"
#include "simunit.h"
#include "unitserver.h"

#include <QTextStream>

namespace {

const char *const kindNames[] = {"none", "input", "relay", "unused"};

QString usage(const char *text)
{
    return QStringLiteral("usage: %1\n").arg(QLatin1String(text));
}

QString hex2(int byte)
{
    return QStringLiteral("0x%1").arg(byte, 2, 16, QLatin1Char('0'));
}

// Board position 1..4 from an argument, or 0.
int position(const QString &text)
{
    int n = 0;
    return parseConsoleNumber(text, n) && n >= 1 && n <= boardPositions ? n : 0;
}

bool parseStatus(const QString &text, int &status)
{
    const QStringList names = {"normal", "alarm", "fault", "both"};
    const int named = names.indexOf(text);
    if (named >= 0) {
        status = named;
        return true;
    }
    return parseConsoleNumber(text, status) && status >= 0 && status <= 0xFF;
}

// Fills the fault's parameter for kinds that take one.
bool parseFaultParameter(Fault &fault, const QString &text)
{
    if (fault.kind == FaultKind::Garbage) {
        fault.garbage = text.toLatin1();
        return !fault.garbage.isEmpty();
    }
    int n = 0;
    if (!parseConsoleNumber(text, n) || n < 1)
        return false;
    if (fault.kind == FaultKind::Delay)
        fault.delayMs = n;
    else if (fault.kind == FaultKind::Chunked)
        fault.chunkBytes = n;
    else if (fault.kind == FaultKind::Babble)
        fault.babbleBytes = n;
    else
        return false;
    return true;
}

QString describeFault(const Fault &f)
{
    QString text = faultKindName(f.kind);
    if (f.kind != FaultKind::None)
        text += f.sticky ? QStringLiteral(" (sticky)") : QStringLiteral(" (once)");
    return text;
}

QString describeFrame(const ReceivedFrame &f, std::chrono::steady_clock::time_point origin)
{
    using namespace std::chrono;
    const double at = duration<double>(f.time - origin).count();
    QString raw = QString::fromLatin1(f.raw);
    raw.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    QString text = QStringLiteral("%1s %2").arg(at, 0, 'f', 3).arg(raw);
    if (!f.wellFormed)
        text += f.interleaved ? QStringLiteral(" interleaved") : QStringLiteral(" malformed");
    else
        text += QStringLiteral(" payload %1 check %2")
                    .arg(QString::fromLatin1(f.payload.toHex(' ').toUpper()),
                         f.checkOk ? QStringLiteral("ok") : QStringLiteral("bad"));
    text +=
        QStringLiteral(" at %1 baud, %2").arg(f.lineSpeed).arg(f.answered ? "answered" : "silent");
    if (f.collided)
        text += QStringLiteral(" by several units (collided)");
    if (f.fault != FaultKind::None)
        text += QStringLiteral(" [%1]").arg(faultKindName(f.fault));
    return text + QLatin1Char('\n');
}

} // namespace

bool parseConsoleNumber(const QString &text, int &value)
{
    bool ok = false;
    const bool isHex = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
    value = isHex ? text.mid(2).toInt(&ok, 16) : text.toInt(&ok, 10);
    return ok;
}

QString SimConsole::help()
{
    return QStringLiteral(
        "Commands (board positions 1..4, numbers decimal or 0x-hex):\n"
        "  status N normal|alarm|fault|both|BYTE  set the status of board N\n"
        "  case open|close                        open or close the unit's case (tamper)\n"
        "  value N V                              set the current value of board N (0..65535)\n"
        "  kind N none|input|relay|unused         set the kind of the board at position N\n"
        "  show                                   print the unit's state\n"
        "  unit [ADDRESS]                         list the units on the line, or pick the\n"
        "                                         one the board commands act on\n"
        "  fault KIND [sticky] [PARAM]            play KIND on the next answered request,\n"
        "                                         or on every one with 'sticky':\n"
        "      noanswer        handle the request, send nothing\n"
        "      delay [MS]      answer after MS milliseconds (500); the replies\n"
        "                      asked for meanwhile wait and follow at once (a stall)\n"
        "      chunked [BYTES] answer in pieces of BYTES (3), 60 ms apart\n"
        "      garbage [TEXT]  send TEXT right before the reply (~#junk#~)\n"
        "      oddlength       a reply frame of odd length\n"
        "      badhigh         a bad first hex digit in the reply\n"
        "      badlow          a bad second hex digit in the reply\n"
        "      babble [BYTES]  '!' and hex digits without an end, until the next\n"
        "                      request or BYTES bytes (4096)\n"
        "      unplug          hang up the line instead of answering\n"
        "  fault clear                            no fault\n"
        "  unplug                                 hang up the line now\n"
        "  replug                                 a fresh line (the link follows it)\n"
        "  log [N]                                the last N received frames (all)\n"
        "  log clear                              forget the received frames\n"
        "  help                                   this text\n"
        "  quit                                   leave (so do end of input, Ctrl-C)\n");
}

QString SimConsole::execute(const QString &line, bool &quit)
{
    QStringList args = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (args.isEmpty())
        return QString();
    const QString command = args.takeFirst().toLower();
    if (command == QLatin1String("quit") || command == QLatin1String("exit")) {
        quit = true;
        return QString();
    }
    if (command == QLatin1String("help"))
        return help();
    if (command == QLatin1String("status"))
        return setStatus(args);
    if (command == QLatin1String("case"))
        return setCase(args);
    if (command == QLatin1String("value"))
        return setValue(args);
    if (command == QLatin1String("kind"))
        return setKind(args);
    if (command == QLatin1String("show"))
        return showState();
    if (command == QLatin1String("unit"))
        return pickUnit(args);
    if (command == QLatin1String("fault"))
        return setFault(args);
    if (command == QLatin1String("log"))
        return showLog(args);
    if (command == QLatin1String("unplug")) {
        server.unplug();
        return QStringLiteral("line hung up\n");
    }
    if (command == QLatin1String("replug")) {
        const QString path = server.replug();
        return path.isEmpty() ? QStringLiteral("no line: %1\n").arg(server.errorString())
                              : QStringLiteral("line %1\n").arg(path);
    }
    return QStringLiteral("unknown command '%1' (try help)\n").arg(command);
}

QString SimConsole::setStatus(const QStringList &args)
{
    int status = 0;
    const int n = args.size() == 2 ? position(args[0]) : 0;
    if (n == 0 || !parseStatus(args[1].toLower(), status))
        return usage("status N normal|alarm|fault|both|BYTE");
    units[picked]->modify([&](UnitState &s) { s.status[n - 1] = quint8(status); });
    return QStringLiteral("board %1 status %2\n").arg(n).arg(hex2(status));
}

QString SimConsole::setCase(const QStringList &args)
{
    const QString what = args.value(0).toLower();
    if (args.size() != 1 || (what != QLatin1String("open") && what != QLatin1String("close")))
        return usage("case open|close");
    const bool open = what == QLatin1String("open");
    units[picked]->modify([&](UnitState &s) { s.caseOpen = open; });
    return open ? QStringLiteral("case open\n") : QStringLiteral("case closed\n");
}

QString SimConsole::setValue(const QStringList &args)
{
    int value = -1;
    const int n = args.size() == 2 ? position(args[0]) : 0;
    if (n == 0 || !parseConsoleNumber(args[1], value) || value < 0 || value > 0xFFFF)
        return usage("value N 0..65535");
    units[picked]->modify([&](UnitState &s) { s.value[n - 1] = quint16(value); });
    return QStringLiteral("board %1 value %2\n").arg(n).arg(value);
}

// Board kind from its name or code 0..3, or -1.
static int parseKind(const QString &text)
{
    for (int k = 0; k < 4; ++k)
        if (text.toLower() == QLatin1String(kindNames[k]))
            return k;
    int code = -1;
    return parseConsoleNumber(text, code) && code >= 0 && code <= 3 ? code : -1;
}

QString SimConsole::setKind(const QStringList &args)
{
    const int n = args.size() == 2 ? position(args[0]) : 0;
    const int kind = n != 0 ? parseKind(args[1]) : -1;
    if (kind < 0)
        return usage("kind N none|input|relay|unused");
    units[picked]->modify([&](UnitState &s) { s.setBoardKind(n, kind); });
    return QStringLiteral("board %1 %2\n").arg(n).arg(QLatin1String(kindNames[kind]));
}

QString SimConsole::setFault(const QStringList &args)
{
    Fault fault;
    if (args.value(0).toLower() == QLatin1String("clear")) {
        server.clearFault();
        return QStringLiteral("fault none\n");
    }
    QStringList rest = args;
    if (rest.isEmpty() || !parseFaultKind(rest.takeFirst().toLower(), fault.kind))
        return usage("fault KIND [sticky] [PARAM] | fault clear (see help)");
    if (!rest.isEmpty() && rest.first().toLower() == QLatin1String("sticky")) {
        fault.sticky = true;
        rest.removeFirst();
    }
    if (rest.size() > 1 || (rest.size() == 1 && !parseFaultParameter(fault, rest.first())))
        return usage("fault KIND [sticky] [PARAM] | fault clear (see help)");
    server.injectFault(fault);
    return QStringLiteral("fault %1\n").arg(describeFault(fault));
}

QString SimConsole::showState() const
{
    const UnitState s = units[picked]->state();
    QString text;
    if (units.size() > 1)
        text = unitList(); // which of the units on the line this is
    QTextStream out(&text);
    out << "address " << s.address << ", speed " << s.lineSpeed << ", version " << s.versionMajor
        << '.' << s.versionMinor << ", boards " << hex2(s.boardMap) << ", case "
        << (s.caseOpen ? "open" : "closed") << '\n';
    for (int p = 1; p <= boardPositions; ++p) {
        const int kind = s.boardKind(p);
        out << "board " << p << ' ' << kindNames[kind];
        if (kind == InputBoard) {
            const UnitState::AlarmRelay &a = s.alarmRelay[p - 1];
            out << ", status " << hex2(s.reportedStatus(p)) << ", value " << s.value[p - 1]
                << ", alarm relay " << a.relay << " for " << a.onTime << " s every " << a.period
                << " s";
        } else if (kind == RelayBoard) {
            out << ", relay " << (s.relayOn[p - 1] ? "on" : "off");
        }
        out << '\n';
    }
    const QString path = server.devicePath();
    out << "line " << (path.isEmpty() ? QStringLiteral("unplugged") : path) << ", fault "
        << describeFault(server.fault()) << '\n';
    out.flush();
    return text;
}

QString SimConsole::showLog(const QStringList &args)
{
    if (args.value(0).toLower() == QLatin1String("clear")) {
        server.clearReceivedFrames();
        return QStringLiteral("log cleared\n");
    }
    const QList<ReceivedFrame> frames = server.receivedFrames();
    int last = int(frames.size());
    if (!args.isEmpty() && (!parseConsoleNumber(args[0], last) || last < 0))
        return usage("log [N] | log clear");
    if (frames.isEmpty())
        return QStringLiteral("no frames received\n");
    QString text;
    const qsizetype from = std::max<qsizetype>(0, frames.size() - last);
    for (qsizetype i = from; i < frames.size(); ++i)
        text += describeFrame(frames[i], frames.first().time);
    text += QStringLiteral("%1 frames, %2 interleaved\n")
                .arg(frames.size())
                .arg(server.interleavedFrames());
    return text;
}

QString SimConsole::pickUnit(const QStringList &args)
{
    int address = -1;
    if (args.size() > 1 || (args.size() == 1 && !parseConsoleNumber(args[0], address)))
        return usage("unit [ADDRESS]");
    for (int i = 0; i < units.size() && address >= 0; ++i)
        if (units[i]->state().address == address)
            picked = i;
    if (address >= 0 && units[picked]->state().address != address)
        return QStringLiteral("no unit at address %1\n").arg(address);
    return unitList();
}

QString SimConsole::unitList() const
{
    QStringList list;
    for (int i = 0; i < units.size(); ++i)
        list << QStringLiteral("%1%2").arg(units[i]->state().address).arg(i == picked ? "*" : "");
    return QStringLiteral("units %1\n").arg(list.join(QLatin1Char(' ')));
}
