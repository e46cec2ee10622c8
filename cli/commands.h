#pragma once

#include <QString>

struct CliOptions;
struct ConfigDocument;
class Output;
class Session;

// The commands of vertal-cli, one per source file. Each returns an ExitCode.
int runPorts(const CliOptions &options, const Output &out);
int runFind(Session &session, const Output &out);
int runInfo(Session &session, const Output &out);
int runStatus(Session &session, const Output &out);
int runValue(Session &session, const Output &out);
int runRelay(Session &session, const Output &out);
int runScan(Session &session, const Output &out);
int runConfigSave(Session &session, const Output &out);
// `wanted`: the document, read before the port was opened (readConfigFile).
int runConfigLoad(Session &session, const ConfigDocument &wanted, const Output &out);

// The monitoring service: watches the lines of the configuration at `configPath` and
// publishes their units to an MQTT broker until SIGTERM or SIGINT (Linux builds only).
int runMonitor(const QString &configPath);

// The document of config load, from the file at `path` (at most 1 MiB is read). ExitDone, or
// ExitUsage with the reason told (cannot be read, too large, not a document of ours).
int readConfigFile(const QString &path, ConfigDocument &document);

// The checks every command that names an input board makes: `board` is a position that
// holds an input board on the unit found. ExitDone, or ExitRefused with the reason told.
int checkInputBoard(const Session &session, int board);

// The settings of the unit found: its address, speed, firmware and boards, and each input
// board's alarm relay read from the unit. ExitDone, or the failed exchange's code.
int readUnitConfig(Session &session, ConfigDocument &document);
