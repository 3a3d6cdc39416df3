#include "serial/posix/latency_posix.h"

#include <sys/ioctl.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>

#include "serial/port_map.h"
#include "serial/posix/discovery_posix.h"

namespace pelmark::serial {

namespace {

int SystemIoctl(int fd, unsigned long request, void* serialStruct) { return ioctl(fd, request, serialStruct); }

SerialInfoIoctl g_serialIoctl = SystemIoctl;

// The tty's name in the class tree: the last part of the path its device
// node resolves to ("/dev/ttyUSB0" and a port-map link to it give "ttyUSB0").
std::string TtyName(const std::string& devicePath) {
    std::string path = devicePath;
    if (char* real = realpath(devicePath.c_str(), nullptr)) {
        path = real;
        std::free(real);
    }
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

void SetSerialInfoIoctl(SerialInfoIoctl call) { g_serialIoctl = call != nullptr ? call : SystemIoctl; }

std::string LatencyTimerPath(const std::string& devicePath) {
    return TtyClassDirInUse() + "/" + TtyName(devicePath) + "/device/latency_timer";
}

int LatencyTimerMs(const std::string& devicePath) {
    if (devicePath.empty()) return -1;
    std::ifstream in(LatencyTimerPath(devicePath));
    long ms = -1;
    if (!(in >> ms) || ms < 0 || ms > INT_MAX) return -1;
    return static_cast<int>(ms);
}

PortLatency LowerLatency(int fd, const std::string& devicePath) {
    PortLatency latency;
#ifdef __linux__
    serial_struct info{};
    // A pseudo-terminal answers ENOTTY or EINVAL, a driver without the
    // setting refuses to change it: the port then simply stays as it is.
    if (g_serialIoctl(fd, TIOCGSERIAL, &info) == 0) {
        if ((info.flags & ASYNC_LOW_LATENCY) != 0) {
            latency.lowLatency = true;
        } else {
            info.flags |= ASYNC_LOW_LATENCY;
            latency.lowLatency = g_serialIoctl(fd, TIOCSSERIAL, &info) == 0;
        }
    }
#else
    (void)fd;
#endif
    // Read after the request: some drivers lower their timer for it.
    latency.timerMs = LatencyTimerMs(devicePath);
    return latency;
}

int AdapterLatencyTimerMs(int comNumber) { return LatencyTimerMs(ComDevicePath(comNumber)); }

}  // namespace pelmark::serial
