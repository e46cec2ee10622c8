// vertal-cli: a ВЕРТАЛ-КП unit from a shell, over the window's own link and command set.
// Commands, options and exit codes: vertal-cli --help.

#include "clioptions.h"
#include "commands.h"
#include "exitcodes.h"
#include "output.h"
#include "session.h"
#include "vertalversion.h"

#include <QCoreApplication>

namespace {

int runCommand(const CliOptions &options)
{
    const Output out(options.json);
    if (options.command == QLatin1String("ports"))
        return runPorts(options, out);
    Session session(options);
    if (const int code = session.open())
        return code;
    if (options.command == QLatin1String("find"))
        return runFind(session, out);
    if (options.command == QLatin1String("info"))
        return runInfo(session, out);
    if (options.command == QLatin1String("status"))
        return runStatus(session, out);
    if (options.command == QLatin1String("value"))
        return runValue(session, out);
    if (options.command == QLatin1String("relay"))
        return runRelay(session, out);
    return runScan(session, out);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vertal-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VERTAL_VERSION));
    CliOptions options;
    QString error;
    if (!parseCommandLine(QCoreApplication::arguments(), options, error)) {
        Output::error(error + QStringLiteral(" (try --help)"));
        return ExitUsage;
    }
    return runCommand(options);
}
