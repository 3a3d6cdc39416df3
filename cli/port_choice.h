// Choosing the COM port from the command line or from the ports present, and
// the hint printed when the port cannot be opened.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "serial/backend.h"

namespace pelmark::cli {

// The port index (0 = COM1) of a COM name in any letter case, "COM1" to
// "COM257"; nothing for anything else.
std::optional<int> ParseComName(const std::string& text);

struct PortChoice {
    int index = -1;     // port index, -1 when the argument is not usable
    std::string error;  // why not, for the user
};

// --port: a COM name or a device path. A path no COM number names gets a
// free COM number of its own for this run (the highest one without a device).
// An empty argument names no port (it is not the same as leaving --port out).
PortChoice PortFromArgument(const std::string& argument);

// The pairs port discovery delivers: COM name and friendly name.
using PortList = std::vector<std::pair<std::string, std::string>>;
PortList PresentPorts();

// Without --port: the only port present; none or several is an error that
// names them.
PortChoice PortFromPresent(const PortList& ports);

// What the system tells about a port's device: whose it is, its group and
// mode, and which programs hold it open. Only what could be looked at is
// filled in.
struct DeviceFacts {
    bool known = false;      // the device could be looked at (the rest below)
    std::string device;      // the device itself, links resolved ("/dev/ttyUSB0")
    std::string owner;       // user name, or the number where it has none
    std::string group;       // group name, likewise
    unsigned mode = 0;       // type and permission bits
    bool inGroup = false;    // the user is a member of that group ...
    bool hasGroup = false;   // ... and this process already carries it
    std::vector<std::string> holders;  // "minicom (pid 4242)"; the lock holder alone when known
};

// The facts of `devicePath`; the holders only with `findHolders` (they take
// a look through every process the user may see).
DeviceFacts LookAtDevice(const std::string& devicePath, bool findHolders);

// "crw-rw----": the type and permission bits as ls shows them.
std::string ModeText(unsigned mode);

// One line naming the cause the system gave for a failed open of COM<index+1>
// (device path beside it), with what `facts` tells about the device; empty
// when there is nothing to add.
std::string PortOpenHint(serial::OpenError error, const std::string& systemText, int portIndex,
                         const std::string& devicePath, const DeviceFacts& facts = {});

// What is wrong with the port-map directory, one "pelmark-flash: warning:"
// line each.
void PrintPortMapWarnings(std::ostream& err);

// The hint for the selected port, from the cause the serial backend recorded
// at its last failed open.
std::string SelectedPortOpenHint();

}  // namespace pelmark::cli
