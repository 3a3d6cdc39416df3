#include "cli/port_latency.h"

#include "cli/console_display.h"
#include "serial/port_link.h"
#include "serial/port_map.h"

namespace pelmark::cli {

namespace {

// The name the tty has in the class tree, from its device path.
std::string TtyName(const std::string& devicePath) {
    const std::size_t slash = devicePath.find_last_of('/');
    return slash == std::string::npos ? devicePath : devicePath.substr(slash + 1);
}

}  // namespace

std::string LatencyColumn(int timerMs) {
    if (timerMs < 0) return {};
    return "latency " + std::to_string(timerMs) + " ms";
}

std::string PortListLine(const std::string& name, const std::string& friendly, int timerMs) {
    const std::string latency = LatencyColumn(timerMs);
    return Escaped(name) + "\t" + Escaped(friendly) + (latency.empty() ? "" : "\t" + latency);
}

std::string LatencyHint(int timerMs, int portIndex, const std::string& devicePath, bool windows) {
    if (timerMs <= 1) return {};
    const std::string name = "COM" + std::to_string(portIndex + 1) + (devicePath.empty() ? "" : " (" + devicePath + ")");
    const std::string cost = "hint: the adapter of " + name + " holds every reply up to " + std::to_string(timerMs) +
                             " ms (its latency timer), which can make an update several times as long; ";
    if (windows)
        return cost +
               "set it to 1 ms in the adapter's advanced port settings (Device Manager, the port's Properties, "
               "Port Settings, Advanced, Latency Timer)";
    const std::string tty = devicePath.empty() ? "ttyUSB0" : TtyName(devicePath);
    return cost + "set it to 1 ms: echo 1 | sudo tee /sys/class/tty/" + tty +
           "/device/latency_timer, or for good with this line in /etc/udev/rules.d/99-usb-serial-latency.rules: "
           "ACTION==\"add\", SUBSYSTEM==\"usb-serial\", DRIVER==\"ftdi_sio\", ATTR{latency_timer}=\"1\"";
}

std::string SelectedPortLatencyHint() {
#ifdef _WIN32
    constexpr bool kWindows = true;
#else
    constexpr bool kWindows = false;
#endif
    return LatencyHint(ComPortLatency().timerMs, g_portIndex, serial::ComDevicePath(g_portIndex + 1), kWindows);
}

}  // namespace pelmark::cli
