#pragma once

// A USB-serial adapter's driver holds received bytes back for its latency timer (16 ms on
// FTDI chips) before it passes them on, and that comes on top of every reply. While the
// port is open we ask such a driver for low latency (the FTDI driver then sets its timer to
// 1 ms) and give the setting back on close. A UART, a pseudo-terminal or a driver that
// refuses is left as it is; nothing fails because of it.
struct LowLatency
{
    bool requested = false; // we set the flag and must clear it again on close
};

// Asks the driver of the open terminal `fd` for low latency when it is a USB-serial one
// that does not have it yet.
LowLatency requestLowLatency(int fd);
// Clears what requestLowLatency() set.
void restoreLatency(int fd, LowLatency &state);
