// COM names on systems without them: COMn resolves to the entry "comN" (any
// letter case) of the port-map directory, a symlink to a device, else to the
// stable default COM1-32 = /dev/ttyS0-31, COM33-64 = /dev/ttyUSB0-31,
// COM65-96 = /dev/ttyACM0-31.
#pragma once

#include <string>
#include <vector>

namespace pelmark::serial {

// $PELMARK_PORT_DIR, else ${XDG_CONFIG_HOME:-$HOME/.config}/pelmark/ports.
std::string PortMapDir();

// Where a new entry for COM<comNumber> goes: "com<N>" in the port-map
// directory; empty when there is no directory (or no such number).
std::string NewPortMapEntryPath(int comNumber);

// The device path of COM<comNumber>; empty when the number has none.
std::string ComDevicePath(int comNumber);

// The map entry for COM<comNumber> in the port-map directory, or empty.
std::string PortMapEntry(int comNumber);

// The COM number whose default or mapped device is `path` (after resolving
// symlinks), or 0 when none is.
int ComNumberForPath(const std::string& path);

// Makes COM<comNumber> name `path` for this process only (a device path given
// on a command line); an empty path removes the override.
void SetComOverride(int comNumber, const std::string& path);

// One "comN" entry of the port-map directory: the number and the entry's
// path. Where two entries name one number, only the one COMn opens.
struct PortMapItem {
    int comNumber;
    std::string path;
};

// The entries of the port-map directory, by number; files that are not a
// "comN" entry (notes, backups) are not among them.
std::vector<PortMapItem> PortMapItems();

// What is wrong with the port-map directory, one text each with the path: a
// directory that is there but is not a readable folder, two entries that
// name one COM number. A directory that does not exist is not a fault.
std::vector<std::string> PortMapWarnings();

}  // namespace pelmark::serial
