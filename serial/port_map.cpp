// COM numbers on a system whose serial devices have other names. A user can
// pin a number to a device with a symlink "comN" in the port-map directory;
// without one, COMn falls back to a fixed table of the usual device names.
#include "serial/port_map.h"

#include <dirent.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "serial/com_name.h"

namespace pelmark::serial {

namespace {

std::map<int, std::string>& Overrides() {
    static std::map<int, std::string> overrides;
    return overrides;
}

std::string EnvText(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

struct MapEntry {
    int number;
    std::string name;
};

std::string JoinDir(const std::string& dir, const std::string& name);

// The "comN" entries of the port-map directory, by number; where two entries
// name the same number ("COM7" and "com7"), the first by byte order wins.
// `warnings` (may be null) gets what is wrong with the directory.
std::vector<MapEntry> ScanMapEntries(std::vector<std::string>* warnings) {
    std::vector<MapEntry> entries;
    const std::string dir = PortMapDir();
    if (dir.empty()) return entries;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) {
        const int err = errno;
        if (warnings != nullptr && err != ENOENT) {
            warnings->push_back("the port map " + dir + " is not a readable folder (" + std::strerror(err) +
                                "); its COM names are not used");
        }
        return entries;
    }
    while (const dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        const int number = ComNumberOf(name, kMapEntryRule);
        if (number > 0) entries.push_back({number, name});
    }
    closedir(d);
    std::sort(entries.begin(), entries.end(), [](const MapEntry& a, const MapEntry& b) {
        return a.number != b.number ? a.number < b.number : a.name < b.name;
    });
    std::vector<MapEntry> unique;
    for (const MapEntry& entry : entries) {
        if (!unique.empty() && unique.back().number == entry.number) {
            if (warnings != nullptr) {
                const std::string used = JoinDir(dir, unique.back().name);
                warnings->push_back("the port map entries " + used + " and " + JoinDir(dir, entry.name) +
                                    " both name " + ComName(entry.number) + "; " + used + " is used");
            }
            continue;
        }
        unique.push_back(entry);
    }
    return unique;
}

std::vector<MapEntry> ReadMapEntries() { return ScanMapEntries(nullptr); }

std::string DefaultDevicePath(int comNumber) {
    if (comNumber >= 1 && comNumber <= 32) return "/dev/ttyS" + std::to_string(comNumber - 1);
    if (comNumber >= 33 && comNumber <= 64) return "/dev/ttyUSB" + std::to_string(comNumber - 33);
    if (comNumber >= 65 && comNumber <= 96) return "/dev/ttyACM" + std::to_string(comNumber - 65);
    return std::string();
}

std::string JoinDir(const std::string& dir, const std::string& name) {
    if (!dir.empty() && dir.back() == '/') return dir + name;
    return dir + "/" + name;
}

// The path with every symlink resolved, or the path as written when it does
// not lead anywhere (a device that is not plugged in still has its name).
std::string Resolved(const std::string& path) {
    if (path.empty()) return path;
    char* real = realpath(path.c_str(), nullptr);
    if (real == nullptr) return path;
    std::string result = real;
    std::free(real);
    return result;
}

std::string DevicePathWith(const std::vector<MapEntry>& entries, const std::string& dir, int comNumber) {
    if (comNumber < 1) return std::string();
    const auto& overrides = Overrides();
    const auto it = overrides.find(comNumber);
    if (it != overrides.end()) return it->second;
    for (const MapEntry& entry : entries) {
        if (entry.number == comNumber) return JoinDir(dir, entry.name);
    }
    return DefaultDevicePath(comNumber);
}

}  // namespace

std::string PortMapDir() {
    const std::string own = EnvText("PELMARK_PORT_DIR");
    if (!own.empty()) return own;
    std::string config = EnvText("XDG_CONFIG_HOME");
    if (config.empty() || config[0] != '/') {
        std::string home = EnvText("HOME");
        if (home.empty()) {
            if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) {
                home = pw->pw_dir;
            }
        }
        if (home.empty()) return std::string();
        config = JoinDir(home, ".config");
    }
    return JoinDir(config, "pelmark/ports");
}

std::string NewPortMapEntryPath(int comNumber) {
    const std::string dir = PortMapDir();
    if (dir.empty() || comNumber < 1) return std::string();
    return JoinDir(dir, "com" + std::to_string(comNumber));
}

std::string PortMapEntry(int comNumber) {
    if (comNumber < 1) return std::string();
    for (const MapEntry& entry : ReadMapEntries()) {
        if (entry.number == comNumber) return JoinDir(PortMapDir(), entry.name);
    }
    return std::string();
}

std::string ComDevicePath(int comNumber) {
    if (comNumber < 1) return std::string();
    const auto& overrides = Overrides();
    if (overrides.count(comNumber) != 0) return overrides.at(comNumber);
    const std::string entry = PortMapEntry(comNumber);
    if (!entry.empty()) return entry;
    return DefaultDevicePath(comNumber);
}

int ComNumberForPath(const std::string& path) {
    if (path.empty()) return 0;
    const std::string target = Resolved(path);
    const std::vector<MapEntry> entries = ReadMapEntries();
    const std::string dir = PortMapDir();
    // A number only counts when opening it would reach this device: a map
    // entry or an override in front of a default hides that default.
    const auto reaches = [&](int number) {
        return Resolved(DevicePathWith(entries, dir, number)) == target;
    };
    for (const auto& [number, overridePath] : Overrides()) {
        (void)overridePath;
        if (reaches(number)) return number;
    }
    for (const MapEntry& entry : entries) {
        if (reaches(entry.number)) return entry.number;
    }
    for (int number = 1; number <= 96; ++number) {
        if (reaches(number)) return number;
    }
    return 0;
}

std::vector<PortMapItem> PortMapItems() {
    std::vector<PortMapItem> items;
    const std::string dir = PortMapDir();
    for (const MapEntry& entry : ReadMapEntries()) items.push_back({entry.number, JoinDir(dir, entry.name)});
    return items;
}

std::vector<std::string> PortMapWarnings() {
    std::vector<std::string> warnings;
    ScanMapEntries(&warnings);
    return warnings;
}

void SetComOverride(int comNumber, const std::string& path) {
    if (comNumber < 1) return;
    if (path.empty()) {
        Overrides().erase(comNumber);
    } else {
        Overrides()[comNumber] = path;
    }
}

}  // namespace pelmark::serial
