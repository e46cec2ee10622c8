#pragma once

struct CliOptions;
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

// The checks every command that names an input board makes: `board` is a position that
// holds an input board on the unit found. ExitDone, or ExitRefused with the reason told.
int checkInputBoard(const Session &session, int board);
