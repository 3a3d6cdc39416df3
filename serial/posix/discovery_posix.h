// Where discovery on Linux finds the system's ttys. Tests point it at a
// prepared tree shaped like /sys/class/tty; the udev database is asked only
// while the system's own tree is in use.
#pragma once

#include <string>

namespace pelmark::serial {

// An empty text restores "/sys/class/tty".
void SetTtyClassDir(const std::string& dir);

// The tree in use: the one set, else "/sys/class/tty".
std::string TtyClassDirInUse();

// A udev "_ENC" property ("FT232R\x20USB\x20UART") as the bytes it stands
// for, without surrounding white space.
std::string DecodeUdevText(const char* text);

}  // namespace pelmark::serial
