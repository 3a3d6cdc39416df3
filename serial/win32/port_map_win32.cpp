// COM names on Windows are the system's own: COMn is the device "\\.\COMn".
// There is no port-map directory and nothing to redirect.
#include <string>
#include <string_view>

#include "serial/com_name.h"
#include "serial/port_link.h"
#include "serial/port_map.h"

namespace pelmark::serial {

std::string PortMapDir() { return std::string(); }

std::string ComDevicePath(int comNumber) {
    if (comNumber < 1 || comNumber > kPortCount) return std::string();
    return "\\\\.\\" + ComName(comNumber);
}

std::string PortMapEntry(int) { return std::string(); }

std::string NewPortMapEntryPath(int) { return std::string(); }

// "COMn" or "\\.\COMn" in any letter case.
int ComNumberForPath(const std::string& path) {
    std::string_view name = path;
    if (name.rfind("\\\\.\\", 0) == 0) name.remove_prefix(4);
    return ComNumberOf(name, kWindowsNameRule);
}

void SetComOverride(int, const std::string&) {}

std::vector<PortMapItem> PortMapItems() { return {}; }

std::vector<std::string> PortMapWarnings() { return {}; }

}  // namespace pelmark::serial
