#pragma once

#include <termios.h>

// The termios speed code of one of the unit's line speeds (4800 ... 115200 baud); B0 for
// any other rate. POSIX only: defined beside the serial port in serialport_posix.cpp.
speed_t termiosSpeed(int baud);
