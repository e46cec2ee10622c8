#include "commandline.h"

#include "frametrace.h"
#include "linespeeds.h"
#include "unitaddress.h"
#include "windowlanguage.h"

#include <QCommandLineParser>
#include <QStringList>
#include <cstdio>

namespace {
const QString portOption = QStringLiteral("port");
const QString addressOption = QStringLiteral("address");
const QString speedOption = QStringLiteral("speed");
const QString traceOption = QStringLiteral("trace");
const QString languageOption = QStringLiteral("language");

// A whole decimal number in [low, high]; -1 otherwise.
int numberIn(const QString &text, int low, int high)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok && value >= low && value <= high ? value : -1;
}
} // namespace

void describeCommandLine(QCommandLineParser &parser)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral("Finds a ВЕРТАЛ-КП unit on a serial line and configures it.\n"
                       "Without options the window starts with the first port chosen."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {portOption,
         QStringLiteral("Chooses port NAME (ttyUSB0, COM3, a device path such as "
                        "/dev/serial/by-id/..., or a serial server's rfc2217://HOST:PORT or "
                        "tcp://HOST:PORT; a path is added to the list)."),
         QStringLiteral("NAME")},
        {addressOption,
         QStringLiteral("Sets the unit address, 0..255 or 0x00..0xFF (0 asks the unit)."),
         QStringLiteral("N")},
        {speedOption,
         QStringLiteral("Tries line speed BAUD first when searching (4800, 9600, 19200, "
                        "38400, 57600 or 115200), then the others."),
         QStringLiteral("BAUD")},
        {traceOption,
         QStringLiteral("Appends every frame sent and received, with date and time, to "
                        "FILE (for whoever supports the unit)."),
         QStringLiteral("FILE")},
        {languageOption,
         QStringLiteral("Shows the window in language LANG: ru (as without the option) or en."),
         QStringLiteral("LANG")},
    });
}

bool asksForTextOnly(QCommandLineParser &parser, int argc, char *argv[])
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    parser.parse(args);
    return parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("version"));
}

bool readStartOptions(const QCommandLineParser &parser, StartOptions &options, QString &error)
{
    options = StartOptions();
    options.port = parser.value(portOption);
    options.trace = parser.value(traceOption);
    options.language = parser.value(languageOption);
    if (!isWindowLanguage(options.language)) {
        error = QStringLiteral("--language takes ru or en, not \"%1\".").arg(options.language);
        return false;
    }
    if (parser.isSet(addressOption)) {
        options.address = parseUnitAddress(parser.value(addressOption));
        if (options.address < 0) {
            error = QStringLiteral("--address takes a number from 0 to 255 (or 0x00 to 0xFF), "
                                   "not \"%1\".")
                        .arg(parser.value(addressOption));
            return false;
        }
    }
    if (parser.isSet(speedOption)) {
        options.speed = numberIn(parser.value(speedOption), 1, 1000000);
        if (!isUnitLineSpeed(options.speed)) {
            error = QStringLiteral("--speed takes 4800, 9600, 19200, 38400, 57600 or 115200, "
                                   "not \"%1\".")
                        .arg(parser.value(speedOption));
            return false;
        }
    }
    return true;
}

bool openTrace(FrameTrace &trace, const QString &path, QString &error)
{
    if (!trace.open(path)) {
        error = QStringLiteral("--trace: cannot write %1: %2").arg(path, trace.errorString());
        return false;
    }
    // From a worker's thread: one line, straight to the console.
    trace.onWriteFailure([path](const QString &reason) {
        const QByteArray line =
            QStringLiteral("--trace: cannot write %1: %2; the trace stops here\n")
                .arg(path, reason)
                .toLocal8Bit();
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
        std::fflush(stderr);
    });
    FrameTrace::install(&trace);
    return true;
}
