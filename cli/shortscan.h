#pragma once

#include <QStringList>

class Output;
class Session;

// The scan with the short attempts of --listen, confirmations at the window's timing, the
// results reported at the end in address order: the addresses that answered into
// `answered`, the count of addresses probed into `probed`. An ExitCode.
int scanListeningShort(Session &session, const Output &out, QStringList &answered, int &probed);
