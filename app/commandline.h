#pragma once

#include "startoptions.h"

#include <QString>

class FrameTrace;
class QCommandLineParser;

// The wizard's command line. Qt's own options (-platform, -style, ...) begin with a single
// dash, so single-dash words are taken as long names, not as letter runs.
void describeCommandLine(QCommandLineParser &parser);

// Parses `argc`/`argv` into `parser`. True when the command line asks for --help or
// --version: those are answered on the console before the window system is reached, so
// they work without a display. Options unknown here (Qt's own) do not stand in their way.
bool asksForTextOnly(QCommandLineParser &parser, int argc, char *argv[]);

// Reads the window's options from a parsed command line. False, with `error` saying
// which value is wrong, when one is out of its range.
bool readStartOptions(const QCommandLineParser &parser, StartOptions &options, QString &error);

// Opens the --trace file `path` and installs `trace` for every worker's frames. A line that
// later cannot be written (a full disk) is said once on standard error, and the trace ends
// there; the window goes on as it is. False, with `error` saying why, when the file cannot
// be opened.
bool openTrace(FrameTrace &trace, const QString &path, QString &error);
