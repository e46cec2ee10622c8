#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// What the command line asks for. Numbers not given stay at their "not given" values.
struct CliOptions
{
    QString command; // ports, find, info, status, value, relay, scan, config
    QString action;  // relay: get, set, switch; config: save, load
    QString port;    // a listed port name or a device path
    int speed = 0;   // 0: search the six line speeds
    int address = 0; // 0: ask the unit
    int tries = 9;   // sends per exchange
    bool json = false;
    QString trace;  // file for the frame trace, empty for none
    int board = -1; // -1: not given
    int relay = -1;
    int onTime = -1;
    int period = -1;
    bool watch = false;
    int intervalMs = 500;
    QList<int> addresses; // scan
    QString file;         // config save --file, the document of config load
    bool dryRun = false;  // config load: check and tell, write nothing
    int listenMs = 0;     // listening time of one attempt; 0: the window's own
    bool quick = false;   // one short copy at each speed before the window's search
};

// Parses the arguments (program name first). Prints --help or --version and exits itself.
// Returns false with `error` set when the command line is wrong (exit code 2).
bool parseCommandLine(const QStringList &arguments, CliOptions &options, QString &error);

// "1-32", "1,3,5-7", "0x10-0x1F": addresses as --address takes them, ascending, without
// repeats; empty when malformed.
QList<int> parseAddressList(const QString &text);
