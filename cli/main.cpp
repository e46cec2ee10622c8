// vertal-cli: a ВЕРТАЛ-КП unit from a shell, over the window's own link and command set.
// Commands, options and exit codes: vertal-cli --help.

#include "clioptions.h"
#include "commands.h"
#include "configdocument.h"
#include "exitcodes.h"
#include "interrupt.h"
#include "output.h"
#include "session.h"
#include "vertalversion.h"

#include <QCoreApplication>

namespace {

bool isConfigLoad(const CliOptions &options)
{
    return options.command == QLatin1String("config") && options.action == QLatin1String("load");
}

int runOnUnit(Session &session, const CliOptions &options, const ConfigDocument &document,
              const Output &out)
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
    if (isConfigLoad(options))
        return runConfigLoad(session, document, out);
    if (options.command == QLatin1String("config"))
        return runConfigSave(session, out);
    return runScan(session, out);
}

int runCommand(const CliOptions &options)
{
    const Output out(options.json);
    if (options.command == QLatin1String("ports"))
        return runPorts(options, out);
    if (options.command == QLatin1String("monitor"))
        return runMonitor(options.file);
    // A document that is none is told before any port or server is touched.
    ConfigDocument document;
    if (isConfigLoad(options))
        if (const int code = readConfigFile(options.file, document))
            return code;
    // Before the port is opened: a signal must end a connection attempt to a silent server.
    interrupt::install();
    Session session(options);
    if (const int code = session.open())
        return code;
    const int code = runOnUnit(session, options, document, out);
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
