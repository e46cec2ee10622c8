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

int runOnUnit(Session &session, const CliOptions &options, const Output &out)
{
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
    if (options.command == QLatin1String("config"))
        return options.action == QLatin1String("save") ? runConfigSave(session, out)
                                                       : runConfigLoad(session, out);
    return runScan(session, out);
}

int runCommand(const CliOptions &options)
{
    const Output out(options.json);
    if (options.command == QLatin1String("ports"))
        return runPorts(options, out);
    Session session(options);
    if (const int code = session.open())
        return code;
    const int code = runOnUnit(session, options, out);
    return code == ExitDone ? session.traceState() : code; // a trace with holes is a failure
}

} // namespace

int main(int argc, char *argv[])
{
    Output::guardStandardOutput();
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
