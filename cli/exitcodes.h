#pragma once

// Exit status of vertal-cli, as --help and README give them.
enum ExitCode : int
{
    ExitDone = 0,
    ExitUsage = 2,          // bad command line
    ExitPortFailed = 3,     // the port cannot be opened
    ExitNoUnit = 4,         // no unit answered (or several at once)
    ExitExchangeFailed = 5, // the unit answered, then an exchange failed
    ExitRefused = 6,        // the unit refused, or the values are out of range
    ExitWriteFailed = 7,    // the results or the trace could not be written
};
