// The termios side of the POSIX serial backend, exposed for its tests: the
// call that hands the line settings to the tty driver, and the check that
// the driver took what the link depends on.
#pragma once

#include <termios.h>

namespace pelmark::serial {

// Hands settings to the tty driver, like tcsetattr. Tests put a driver in
// its place that ignores some settings; nullptr restores tcsetattr.
using LineDriverApply = int (*)(int fd, int optionalActions, const termios* settings);
void SetLineDriverApply(LineDriverApply apply);

// Whether `now`, the settings read back from the driver, carries every
// setting of `asked` that the bootloader link depends on: both speeds, the
// byte size, stop bits, parity, no hardware or software flow control unless
// asked, and raw bytes (no line editing, echo, signals, translation or output
// processing; reads that return at once).
bool LineSettingsTook(const termios& asked, const termios& now);

}  // namespace pelmark::serial
