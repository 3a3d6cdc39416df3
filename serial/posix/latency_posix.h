// Low latency for the Linux serial backend. A USB serial adapter holds the
// bytes it receives until its latency timer runs out (16 ms by default on
// FTDI chips) or its buffer fills, so every one-byte verdict of the
// bootloader can arrive that much late. Opening a port asks the driver for
// low latency (ASYNC_LOW_LATENCY, which an ordinary user may set) and reads
// the adapter's latency timer where sysfs has one.
#pragma once

#include <string>

#include "serial/backend.h"

namespace pelmark::serial {

// The TIOCGSERIAL / TIOCSSERIAL call (its argument is a struct
// serial_struct); tests put a stand-in in its place, nullptr restores ioctl.
using SerialInfoIoctl = int (*)(int fd, unsigned long request, void* serialStruct);
void SetSerialInfoIoctl(SerialInfoIoctl call);

// The open step: asks the driver of `fd` for low latency and reads the
// latency timer of the adapter behind `devicePath`. A tty that has no such
// setting (a pseudo-terminal, most built-in UARTs' timers) is no error.
PortLatency LowerLatency(int fd, const std::string& devicePath);

// <tty class dir>/<tty name>/device/latency_timer of the tty `devicePath`
// leads to (symlinks resolved), in milliseconds; -1 when there is none.
int LatencyTimerMs(const std::string& devicePath);

// The file LatencyTimerMs reads for `devicePath`, whether or not it exists.
std::string LatencyTimerPath(const std::string& devicePath);

}  // namespace pelmark::serial
