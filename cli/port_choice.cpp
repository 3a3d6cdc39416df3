#include "cli/port_choice.h"

#include <cctype>

#include "serial/port_discovery.h"
#include "serial/port_link.h"
#include "serial/port_map.h"

namespace pelmark::cli {

namespace {

std::string ComName(int index) { return "COM" + std::to_string(index + 1); }

bool HasComPrefix(const std::string& text) {
    return text.size() >= 3 && std::tolower(static_cast<unsigned char>(text[0])) == 'c' &&
           std::tolower(static_cast<unsigned char>(text[1])) == 'o' &&
           std::tolower(static_cast<unsigned char>(text[2])) == 'm';
}

}  // namespace

std::optional<int> ParseComName(const std::string& text) {
    if (!HasComPrefix(text)) return std::nullopt;
    const std::string digits = text.substr(3);
    if (digits.empty() || digits.size() > 4) return std::nullopt;
    int number = 0;
    for (char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
        number = number * 10 + (c - '0');
    }
    if (number < 1 || number > kPortCount) return std::nullopt;
    return number - 1;
}

PortChoice PortFromArgument(const std::string& argument) {
    if (argument.empty())
        return {-1, "--port is empty: name the port (COM5) or its device (/dev/ttyUSB0), or leave --port out "
                    "to use the only port present"};
    if (std::optional<int> index = ParseComName(argument)) return {*index, {}};
    if (HasComPrefix(argument) && argument.find('/') == std::string::npos)
        return {-1, "'" + argument + "' is not a port: COM names run from COM1 to COM" + std::to_string(kPortCount)};
    if (argument.find('/') == std::string::npos)
        return {-1, "'" + argument + "' is neither a COM name (COM1 to COM" + std::to_string(kPortCount) +
                        ") nor a device path (/dev/ttyUSB0)"};

    const int number = serial::ComNumberForPath(argument);
    if (number >= 1 && number <= kPortCount) return {number - 1, {}};
    // No COM number names this device: lend it the highest free one.
    for (int n = kPortCount; n >= 1; --n) {
        if (serial::ComDevicePath(n).empty()) {
            serial::SetComOverride(n, argument);
            return {n - 1, {}};
        }
    }
    return {-1, "no free COM number is left for " + argument};
}

PortList PresentPorts() {
    PortList ports;
    const DeviceSet set = PortEnumBegin();
    if (set == kNoDeviceSet) return ports;
    char name[kCallerNameBuffer];
    char friendly[kCallerNameBuffer];
    for (;;) {
        name[0] = '\0';
        friendly[0] = '\0';
        if (PortEnumNext(set, name, friendly) != 1) break;
        ports.emplace_back(name, friendly);
    }
    PortEnumEnd(set);
    return ports;
}

PortChoice PortFromPresent(const PortList& ports) {
    if (ports.empty())
        return {-1, "no serial port is present; connect the device or name its port with --port"};
    if (ports.size() > 1) {
        std::string text = "several serial ports are present; choose one with --port:";
        for (const auto& [name, friendly] : ports) text += "\n  " + name + "\t" + friendly;
        return {-1, text};
    }
    if (std::optional<int> index = ParseComName(ports.front().first)) return {*index, {}};
    return {-1, "the port found (" + ports.front().first + ") has no usable COM number; name it with --port"};
}

std::string PortOpenHint(serial::OpenError error, const std::string& systemText, int portIndex,
                         const std::string& devicePath) {
    const std::string name = ComName(portIndex) + (devicePath.empty() ? "" : " (" + devicePath + ")");
    // The system's words, without the device path they may repeat.
    std::string said = systemText;
    if (!devicePath.empty() && said.rfind(devicePath + ": ", 0) == 0) said.erase(0, devicePath.size() + 2);
    const std::string cause = said.empty() ? "" : ": " + said;
    switch (error) {
        case serial::OpenError::None:
            return {};
        case serial::OpenError::Absent:
            if (devicePath.empty()) return "hint: no device is known as " + name + "; see --list-ports";
            return "hint: " + name + " is not present" + cause + "; check the connection or see --list-ports";
        case serial::OpenError::Busy:
            return "hint: " + name + " is in use by another program" + cause + "; close it and try again";
        case serial::OpenError::PermissionDenied:
            return "hint: no permission to open " + name + cause +
                   "; add yourself to the dialout group: sudo usermod -aG dialout $USER, then log in again";
        case serial::OpenError::NotASerialPort:
            return "hint: " + name + " is not a serial port" + cause;
        case serial::OpenError::Other:
            break;
    }
    return "hint: " + name + " could not be opened" + cause;
}

void PrintPortMapWarnings(std::ostream& err) {
    for (const std::string& warning : serial::PortMapWarnings()) err << "pelmark-flash: warning: " << warning << '\n';
}

std::string SelectedPortOpenHint() {
    const serial::SerialBackend& backend = serial::Backend();
    return PortOpenHint(backend.LastOpenError(), backend.LastOpenErrorText(), g_portIndex,
                        serial::ComDevicePath(g_portIndex + 1));
}

}  // namespace pelmark::cli
