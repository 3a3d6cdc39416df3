// COM names on Windows are the system's own: COMn is the device "\\.\COMn".
// There is no port-map directory and nothing to redirect.
#include <cctype>
#include <string>

#include "serial/port_link.h"
#include "serial/port_map.h"

namespace pelmark::serial {

std::string PortMapDir() { return std::string(); }

std::string ComDevicePath(int comNumber) {
    if (comNumber < 1 || comNumber > kPortCount) return std::string();
    return "\\\\.\\COM" + std::to_string(comNumber);
}

std::string PortMapEntry(int) { return std::string(); }

// "COMn" or "\\.\COMn" in any letter case.
int ComNumberForPath(const std::string& path) {
    std::string name = path;
    if (name.rfind("\\\\.\\", 0) == 0) name.erase(0, 4);
    if (name.size() < 4 || name.size() > 6) return 0;
    for (int i = 0; i < 3; ++i)
        if (std::tolower(static_cast<unsigned char>(name[static_cast<std::size_t>(i)])) != "com"[i]) return 0;
    int number = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) return 0;
        number = number * 10 + (name[i] - '0');
    }
    return number >= 1 && number <= kPortCount ? number : 0;
}

void SetComOverride(int, const std::string&) {}

std::vector<PortMapItem> PortMapItems() { return {}; }

std::vector<std::string> PortMapWarnings() { return {}; }

}  // namespace pelmark::serial
