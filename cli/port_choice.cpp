#include "cli/port_choice.h"

#include <sys/stat.h>

#ifndef _WIN32
#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "serial/com_name.h"
#include "serial/port_discovery.h"
#include "serial/port_link.h"
#include "serial/port_map.h"

namespace pelmark::cli {

std::optional<int> ParseComName(const std::string& text) {
    const int number = serial::ComNumberOf(text, serial::kPortNameRule);
    if (number < 1) return std::nullopt;
    return number - 1;
}

PortChoice PortFromArgument(const std::string& argument) {
    if (argument.empty())
        return {-1, "--port is empty: name the port (COM5) or its device (/dev/ttyUSB0), or leave --port out "
                    "to use the only port present"};
    if (std::optional<int> index = ParseComName(argument)) return {*index, {}};
    if (serial::HasComPrefix(argument) && argument.find('/') == std::string::npos)
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

#ifdef _WIN32

// Windows tells nothing of the kind through these calls.
DeviceFacts LookAtDevice(const std::string&, bool) { return {}; }

#else

namespace {

std::string FirstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// "minicom (pid 4242)": the program's name from its command line (the
// kernel's own name of a process is cut at 15 characters), else that name,
// else the pid alone.
std::string ProcessText(long pid) {
    const std::string base = "/proc/" + std::to_string(pid);
    std::string name;
    {
        std::ifstream in(base + "/cmdline", std::ios::binary);
        std::getline(in, name, '\0');
        const std::size_t slash = name.find_last_of('/');
        if (slash != std::string::npos) name.erase(0, slash + 1);
    }
    if (name.empty()) name = FirstLine(base + "/comm");
    return name.empty() ? "pid " + std::to_string(pid) : name + " (pid " + std::to_string(pid) + ")";
}

long PidOf(const char* name) {
    char* end = nullptr;
    const long pid = std::strtol(name, &end, 10);
    return (end != name && *end == '\0' && pid > 0) ? pid : 0;
}

// The process that holds a whole-file lock on the device, from the kernel's
// list of locks ("1: FLOCK  ADVISORY  WRITE 4242 00:19:6 0 EOF"), or 0.
long LockHolder(const struct stat& st) {
    std::ifstream in("/proc/locks");
    std::string line;
    while (std::getline(in, line)) {
        if (line.find("->") != std::string::npos || line.find("FLOCK") == std::string::npos) continue;
        std::istringstream words(line);
        std::string id, kind, advisory, access, inode;
        long pid = 0;
        if (!(words >> id >> kind >> advisory >> access >> pid >> inode) || pid <= 0) continue;
        unsigned major = 0, minor = 0;
        unsigned long number = 0;
        if (std::sscanf(inode.c_str(), "%x:%x:%lu", &major, &minor, &number) != 3) continue;
        if (major == major(st.st_dev) && minor == minor(st.st_dev) && number == st.st_ino) return pid;
    }
    return 0;
}

// Every other process with a descriptor on `device`, as far as the user may
// look into them. The links in /proc name the file without touching it.
std::vector<std::string> ProcessesHolding(const std::string& device) {
    std::vector<std::string> holders;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return holders;
    const long self = static_cast<long>(getpid());
    while (const dirent* e = readdir(proc)) {
        const long pid = PidOf(e->d_name);
        if (pid == 0 || pid == self) continue;
        const std::string fdDir = "/proc/" + std::to_string(pid) + "/fd";
        DIR* fds = opendir(fdDir.c_str());
        if (fds == nullptr) continue;  // not ours to look into, or gone
        bool holds = false;
        while (const dirent* f = readdir(fds)) {
            if (f->d_name[0] == '.') continue;
            char target[4096];
            const ssize_t n = readlink((fdDir + "/" + f->d_name).c_str(), target, sizeof target - 1);
            if (n <= 0) continue;
            target[n] = '\0';
            if (device == target) {
                holds = true;
                break;
            }
        }
        closedir(fds);
        if (holds) holders.push_back(ProcessText(pid));
    }
    closedir(proc);
    return holders;
}

std::string UserName(uid_t uid) {
    const passwd* pw = getpwuid(uid);
    return pw != nullptr ? std::string(pw->pw_name) : std::to_string(uid);
}

std::string GroupName(gid_t gid) {
    const group* gr = getgrgid(gid);
    return gr != nullptr ? std::string(gr->gr_name) : std::to_string(gid);
}

bool ProcessHasGroup(gid_t gid) {
    if (getegid() == gid) return true;
    const int count = getgroups(0, nullptr);
    if (count <= 0) return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int got = getgroups(count, groups.data());
    return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

// Whether the group database makes the user a member of `gid`.
bool UserInGroup(gid_t gid) {
    const passwd* pw = getpwuid(getuid());
    if (pw == nullptr) return false;
    if (pw->pw_gid == gid) return true;
    const group* gr = getgrgid(gid);
    if (gr == nullptr) return false;
    for (char* const* member = gr->gr_mem; member != nullptr && *member != nullptr; ++member) {
        if (std::strcmp(*member, pw->pw_name) == 0) return true;
    }
    return false;
}

}  // namespace

DeviceFacts LookAtDevice(const std::string& devicePath, bool findHolders) {
    DeviceFacts facts;
    if (devicePath.empty()) return facts;
    struct stat st {};
    if (stat(devicePath.c_str(), &st) != 0) return facts;
    facts.known = true;
    if (char* real = realpath(devicePath.c_str(), nullptr)) {
        facts.device = real;
        std::free(real);
    } else {
        facts.device = devicePath;
    }
    facts.owner = UserName(st.st_uid);
    facts.group = GroupName(st.st_gid);
    facts.mode = static_cast<unsigned>(st.st_mode);
    facts.hasGroup = ProcessHasGroup(st.st_gid);
    facts.inGroup = facts.hasGroup || UserInGroup(st.st_gid);
    if (findHolders) {
        if (const long pid = LockHolder(st); pid > 0 && pid != static_cast<long>(getpid())) {
            facts.holders.push_back(ProcessText(pid));
        } else {
            facts.holders = ProcessesHolding(facts.device);
        }
    }
    return facts;
}

#endif

std::string ModeText(unsigned mode) {
    std::string text = "?rwxrwxrwx";
    switch (mode & S_IFMT) {
        case S_IFCHR: text[0] = 'c'; break;
#ifdef S_IFBLK
        case S_IFBLK: text[0] = 'b'; break;
#endif
        case S_IFREG: text[0] = '-'; break;
        case S_IFDIR: text[0] = 'd'; break;
        case S_IFIFO: text[0] = 'p'; break;
#ifdef S_IFSOCK
        case S_IFSOCK: text[0] = 's'; break;
#endif
        default: break;
    }
    for (int bit = 0; bit < 9; ++bit) {
        if ((mode & (0400u >> bit)) == 0) text[static_cast<std::size_t>(bit) + 1] = '-';
    }
    return text;
}

namespace {

// What the facts say about the permission, and what the user can do.
std::string PermissionFacts(const DeviceFacts& facts) {
    if (!facts.known) return {};
    std::string text = "; " + (facts.device.empty() ? std::string("the device") : facts.device) +
                       " belongs to user " + facts.owner + ", group " + facts.group + ", mode " +
                       ModeText(facts.mode);
    const unsigned readWrite = 06;
    const bool groupMay = ((facts.mode >> 3) & readWrite) == readWrite;
    const bool othersMay = (facts.mode & readWrite) == readWrite;
    const bool ownerMay = ((facts.mode >> 6) & readWrite) == readWrite;
    if (othersMay || (groupMay && facts.hasGroup)) {
        // The device would let us in: a folder on the way to it does not.
        return text + "; check the folders on the way to it";
    }
    if (groupMay && facts.inGroup) return text + "; you are in the " + facts.group + " group: log in again";
    if (groupMay && (facts.group == "root" || facts.group == "0")) return text + "; only root may open it";
    if (groupMay) {
        return text + "; add yourself to the " + facts.group + " group: sudo usermod -aG " + facts.group +
               " $USER, then log in again";
    }
    if (ownerMay) return text + "; only its owner " + facts.owner + " may open it";
    return text + "; only root may open it";
}

std::string HolderText(const std::vector<std::string>& holders) {
    if (holders.empty()) return {};
    constexpr std::size_t kNamed = 3;
    std::string text;
    for (std::size_t i = 0; i < holders.size() && i < kNamed; ++i) text += (i == 0 ? ", " : " and ") + holders[i];
    if (holders.size() > kNamed) text += " and " + std::to_string(holders.size() - kNamed) + " more";
    return text;
}

}  // namespace

std::string PortOpenHint(serial::OpenError error, const std::string& systemText, int portIndex,
                         const std::string& devicePath, const DeviceFacts& facts) {
    const std::string name = serial::ComName(portIndex + 1) + (devicePath.empty() ? "" : " (" + devicePath + ")");
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
            return "hint: " + name + " is in use by another program" + HolderText(facts.holders) + cause +
                   "; close it and try again";
        case serial::OpenError::PermissionDenied:
            return "hint: no permission to open " + name + cause + PermissionFacts(facts);
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
    const serial::OpenError error = backend.LastOpenError();
    const std::string devicePath = serial::ComDevicePath(g_portIndex + 1);
    DeviceFacts facts;
    if (error == serial::OpenError::PermissionDenied || error == serial::OpenError::Busy)
        facts = LookAtDevice(devicePath, error == serial::OpenError::Busy);
    return PortOpenHint(error, backend.LastOpenErrorText(), g_portIndex, devicePath, facts);
}

}  // namespace pelmark::cli
