// Port discovery on Linux. The device set is built once by PortEnumBegin:
// first the "comN" entries of the port-map directory whose target exists,
// then the serial devices the system has (from udev, or from sysfs where
// there is no udev), each under the COM name that opens it. PortEnumNext hands them out
// one pair per call with the same checks the port dialog relies on: a name of
// at most six characters that starts with "com" and carries a number of at
// least one.
#include <dirent.h>
#include <libudev.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "serial/com_name.h"
#include "serial/port_discovery.h"
#include "serial/port_map.h"
#include "serial/posix/discovery_posix.h"

namespace pelmark {

namespace {

constexpr const char* kSystemTtyClassDir = "/sys/class/tty";

std::string& TtyClassDirSetting() {
    static std::string dir;
    return dir;
}

std::string TtyClassDir() {
    const std::string& dir = TtyClassDirSetting();
    return dir.empty() ? std::string(kSystemTtyClassDir) : dir;
}

bool UsingSystemTree() {
    return TtyClassDirSetting().empty();
}

// ---- Texts --------------------------------------------------------------------

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Case-insensitive order in which runs of digits compare by their value, so
// that com5 comes before com12.
bool NaturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            std::size_t ei = i;
            std::size_t ej = j;
            while (ei < a.size() && IsDigit(a[ei])) ++ei;
            while (ej < b.size() && IsDigit(b[ej])) ++ej;
            std::size_t si = i;
            std::size_t sj = j;
            while (si + 1 < ei && a[si] == '0') ++si;
            while (sj + 1 < ej && b[sj] == '0') ++sj;
            if (ei - si != ej - sj) return ei - si < ej - sj;
            const int cmp = a.compare(si, ei - si, b, sj, ej - sj);
            if (cmp != 0) return cmp < 0;
            i = ei;
            j = ej;
            continue;
        }
        const char ca = Lower(a[i]);
        const char cb = Lower(b[j]);
        if (ca != cb) return ca < cb;
        ++i;
        ++j;
    }
    if ((a.size() - i) != (b.size() - j)) return (a.size() - i) < (b.size() - j);
    return a < b;
}

// The longest prefix of at most `limit` bytes that does not cut a UTF-8
// sequence in two.
std::size_t Utf8Prefix(const char* text, std::size_t length, std::size_t limit) {
    if (length <= limit) return length;
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return cut;
}

std::string Trimmed(std::string text) {
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && isSpace(text.back())) text.pop_back();
    std::size_t start = 0;
    while (start < text.size() && isSpace(text[start])) ++start;
    return text.substr(start);
}

std::string FirstLineOf(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) return std::string();
    return Trimmed(line);
}

bool Exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

std::string Resolved(const std::string& path) {
    char* real = realpath(path.c_str(), nullptr);
    if (real == nullptr) return path;
    std::string result = real;
    std::free(real);
    return result;
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "<what the user recognises> (COMn)", shortened in front of the suffix so
// the whole fits the caller's buffer with its terminator.
std::string FriendlyText(const std::string& label, int comNumber) {
    const std::string suffix = " (" + serial::ComName(comNumber) + ")";
    const std::size_t room = static_cast<std::size_t>(kCallerNameBuffer - 1);
    if (suffix.size() >= room) return suffix.substr(0, room);
    const std::size_t keep = Utf8Prefix(label.data(), label.size(), room - suffix.size());
    return label.substr(0, keep) + suffix;
}

// ---- The system's ttys ---------------------------------------------------------

struct TtyInfo {
    std::string sysname;          // "ttyUSB0"
    std::string devnode;          // "/dev/ttyUSB0"
    std::string parentSubsystem;  // bus of the device behind the tty; empty for virtual ttys
    bool hasType = false;         // serial-core ports report their UART type
    std::string type;
    std::string model;            // what the device calls itself, if anything
};

// A tty is a serial port when real hardware sits behind it. The 8250 driver
// registers ttyS0 and up whether or not a UART answers there; those report
// type 0 (PORT_UNKNOWN) and are not ports.
bool IsSerialPort(const TtyInfo& tty) {
    static const char* const kBuses[] = {"usb-serial", "usb", "pnp", "platform", "pci", "amba",
                                         "serial-base", "serial", "acpi", "pcmcia", "sdio"};
    if (tty.parentSubsystem.empty()) return false;
    if (tty.hasType && (tty.type.empty() || tty.type == "0")) return false;
    for (const char* bus : kBuses) {
        if (tty.parentSubsystem == bus) return true;
    }
    return false;
}

// The "product" text of the nearest USB device above a sysfs device folder.
std::string SysfsProduct(const std::string& deviceDir) {
    std::string dir = Resolved(deviceDir);
    for (int level = 0; level < 5 && dir.size() > 1; ++level) {
        const std::string product = FirstLineOf(dir + "/product");
        if (!product.empty()) return product;
        const std::size_t slash = dir.find_last_of('/');
        if (slash == std::string::npos || slash == 0) break;
        dir.erase(slash);
    }
    return std::string();
}

bool ReadSysfsTty(const std::string& classDir, const std::string& name, TtyInfo* tty) {
    const std::string base = classDir + "/" + name;
    const std::string deviceDir = base + "/device";
    tty->sysname = name;
    tty->devnode = "/dev/" + name;
    std::string devname;
    {
        std::ifstream uevent(base + "/uevent");
        std::string line;
        while (std::getline(uevent, line)) {
            if (line.rfind("DEVNAME=", 0) == 0) devname = Trimmed(line.substr(8));
        }
    }
    if (!devname.empty()) tty->devnode = "/dev/" + devname;
    if (!Exists(deviceDir)) return true;  // a virtual tty: no parent
    char link[4096];
    const ssize_t n = readlink((deviceDir + "/subsystem").c_str(), link, sizeof link - 1);
    if (n > 0) {
        link[n] = '\0';
        tty->parentSubsystem = BaseName(link);
    }
    const std::string typePath = base + "/type";
    if (Exists(typePath)) {
        tty->hasType = true;
        tty->type = FirstLineOf(typePath);
    }
    tty->model = SysfsProduct(deviceDir);
    return true;
}

std::vector<TtyInfo> ScanSysfs(const std::string& classDir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(classDir.c_str())) {
        while (const dirent* e = readdir(d)) {
            if (e->d_name[0] != '.') names.emplace_back(e->d_name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end(), NaturalLess);
    std::vector<TtyInfo> ttys;
    for (const std::string& name : names) {
        TtyInfo tty;
        if (ReadSysfsTty(classDir, name, &tty)) ttys.push_back(std::move(tty));
    }
    return ttys;
}

struct UdevDeleter {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};

std::string UdevModel(udev_device* dev) {
    // The tty's own properties first (the udev rules copy the USB ones
    // down), then the devices above it.
    for (udev_device* d = dev; d != nullptr; d = udev_device_get_parent(d)) {
        if (const char* v = udev_device_get_property_value(d, "ID_MODEL_FROM_DATABASE")) {
            if (*v != '\0') return Trimmed(v);
        }
        if (const char* v = udev_device_get_property_value(d, "ID_MODEL_ENC")) {
            const std::string text = serial::DecodeUdevText(v);
            if (!text.empty()) return text;
        }
        if (const char* v = udev_device_get_property_value(d, "ID_MODEL")) {
            std::string text = v;
            std::replace(text.begin(), text.end(), '_', ' ');
            text = Trimmed(text);
            if (!text.empty()) return text;
        }
        if (d != dev) {
            if (const char* v = udev_device_get_sysattr_value(d, "product")) {
                const std::string text = Trimmed(v);
                if (!text.empty()) return text;
            }
        }
    }
    return std::string();
}

void FillFromUdev(udev_device* dev, TtyInfo* tty) {
    const char* sysname = udev_device_get_sysname(dev);
    tty->sysname = sysname != nullptr ? sysname : "";
    const char* devnode = udev_device_get_devnode(dev);
    tty->devnode = devnode != nullptr ? std::string(devnode) : "/dev/" + tty->sysname;
    if (udev_device* parent = udev_device_get_parent(dev)) {
        const char* subsystem = udev_device_get_subsystem(parent);
        if (subsystem != nullptr) tty->parentSubsystem = subsystem;
    }
    if (const char* type = udev_device_get_sysattr_value(dev, "type")) {
        tty->hasType = true;
        tty->type = Trimmed(type);
    }
    tty->model = UdevModel(dev);
}

// The ttys in the order udev lists them; empty when udev cannot be asked.
std::vector<TtyInfo> ScanUdev() {
    std::vector<TtyInfo> ttys;
    std::unique_ptr<udev, UdevDeleter> u(udev_new());
    if (!u) return ttys;
    std::unique_ptr<udev_enumerate, UdevDeleter> en(udev_enumerate_new(u.get()));
    if (!en) return ttys;
    if (udev_enumerate_add_match_subsystem(en.get(), "tty") < 0) return ttys;
    if (udev_enumerate_scan_devices(en.get()) < 0) return ttys;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(en.get())) {
        const char* syspath = udev_list_entry_get_name(entry);
        if (syspath == nullptr) continue;
        std::unique_ptr<udev_device, UdevDeleter> dev(udev_device_new_from_syspath(u.get(), syspath));
        if (!dev) continue;
        TtyInfo tty;
        FillFromUdev(dev.get(), &tty);
        ttys.push_back(std::move(tty));
    }
    return ttys;
}

std::vector<TtyInfo> SystemTtys() {
    if (UsingSystemTree()) {
        std::vector<TtyInfo> ttys = ScanUdev();
        if (!ttys.empty()) return ttys;
    }
    return ScanSysfs(TtyClassDir());
}

// What a map entry's target is called: the device's own name when a serial
// device sits behind it, else its name under /dev ("pts/7"), else its path.
std::string TargetLabel(const std::string& target) {
    struct stat st {};
    if (stat(target.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) {
        const std::string sysname = BaseName(target);
        if (UsingSystemTree()) {
            std::unique_ptr<udev, UdevDeleter> u(udev_new());
            if (u) {
                std::unique_ptr<udev_device, UdevDeleter> dev(
                    udev_device_new_from_devnum(u.get(), 'c', st.st_rdev));
                if (dev) {
                    const char* subsystem = udev_device_get_subsystem(dev.get());
                    if (subsystem != nullptr && std::strcmp(subsystem, "tty") == 0) {
                        const std::string model = UdevModel(dev.get());
                        if (!model.empty()) return model;
                    }
                }
            }
        } else {
            TtyInfo tty;
            if (Exists(TtyClassDir() + "/" + sysname) && ReadSysfsTty(TtyClassDir(), sysname, &tty) &&
                !tty.model.empty()) {
                return tty.model;
            }
        }
    }
    if (target.rfind("/dev/", 0) == 0) return target.substr(5);
    return target;
}

// ---- The device set ------------------------------------------------------------

struct Candidate {
    std::string portName;
    std::string friendlyName;
};

struct DeviceSetData {
    std::vector<Candidate> items;
};

std::vector<DeviceSetData*>& LiveSets() {
    static std::vector<DeviceSetData*> sets;
    return sets;
}

DeviceSetData* FindSet(DeviceSet set) {
    for (DeviceSetData* data : LiveSets()) {
        if (reinterpret_cast<DeviceSet>(data) == set) return data;
    }
    return nullptr;
}

// The enumeration in progress: which set it walks and where it stands. An
// enumeration ends at every end condition, so the next call starts again at
// the first entry.
struct Enumeration {
    bool active = false;
    const DeviceSetData* set = nullptr;
    std::size_t position = 0;
};

Enumeration g_enumeration;

void EndEnumeration() {
    g_enumeration = Enumeration{};
}

// The port map's "comN" entries whose target is there, each delivered as
// "COM<n>", the name the port dialog reads its number from. Files that are
// not such an entry (notes, backups, "com05") are passed over, and so is an
// entry that COMn does not open (a second spelling of one number).
void AddMapEntries(DeviceSetData* data, std::set<std::string>* listedTargets) {
    for (const serial::PortMapItem& item : serial::PortMapItems()) {
        if (!Exists(item.path)) continue;  // a link to a device that is not there
        if (serial::ComDevicePath(item.comNumber) != item.path) continue;
        const std::string target = Resolved(item.path);
        Candidate candidate;
        candidate.portName = serial::ComName(item.comNumber);
        candidate.friendlyName = FriendlyText(TargetLabel(target), item.comNumber);
        data->items.push_back(std::move(candidate));
        listedTargets->insert(target);
    }
}

void AddSystemPorts(DeviceSetData* data, const std::set<std::string>& listedTargets) {
    for (const TtyInfo& tty : SystemTtys()) {
        if (!IsSerialPort(tty)) continue;
        const int comNumber = serial::ComNumberForPath(tty.devnode);
        if (comNumber < 1) continue;
        if (listedTargets.count(Resolved(tty.devnode)) != 0) continue;
        Candidate candidate;
        candidate.portName = serial::ComName(comNumber);
        candidate.friendlyName = FriendlyText(tty.model.empty() ? tty.sysname : tty.model, comNumber);
        data->items.push_back(std::move(candidate));
    }
}

}  // namespace

namespace serial {

// udev writes "FT232R_USB_UART" in ID_MODEL and "FT232R\x20USB\x20UART" in
// ID_MODEL_ENC; the second keeps what the device said.
std::string DecodeUdevText(const char* text) {
    std::string out;
    for (const char* p = text; *p != '\0'; ++p) {
        if (p[0] == '\\' && p[1] == 'x' && std::isxdigit(static_cast<unsigned char>(p[2])) != 0 &&
            std::isxdigit(static_cast<unsigned char>(p[3])) != 0) {
            const char hex[3] = {p[2], p[3], '\0'};
            out.push_back(static_cast<char>(std::strtol(hex, nullptr, 16)));
            p += 3;
        } else {
            out.push_back(*p);
        }
    }
    return Trimmed(out);
}

void SetTtyClassDir(const std::string& dir) {
    TtyClassDirSetting() = dir;
}

std::string TtyClassDirInUse() {
    return TtyClassDir();
}

}  // namespace serial

DeviceSet PortEnumBegin() {
    auto data = std::make_unique<DeviceSetData>();
    std::set<std::string> listedTargets;
    AddMapEntries(data.get(), &listedTargets);
    AddSystemPorts(data.get(), listedTargets);
    DeviceSetData* raw = data.release();
    LiveSets().push_back(raw);
    return reinterpret_cast<DeviceSet>(raw);
}

int PortEnumNext(DeviceSet set, char* portName, char* friendlyName) {
    if (set == 0 || portName == nullptr) return -1;
    const DeviceSetData* data = nullptr;
    if (set != kNoDeviceSet) {
        data = FindSet(set);
        if (data == nullptr) return -1;
    }
    if (!g_enumeration.active || g_enumeration.set != data) {
        g_enumeration.active = true;
        g_enumeration.set = data;
        g_enumeration.position = 0;
    }
    for (;;) {
        if (data == nullptr || g_enumeration.position >= data->items.size()) {
            EndEnumeration();
            return 0;
        }
        const Candidate& candidate = data->items[g_enumeration.position];
        // The name must fit its area of six characters and a terminator.
        if (candidate.portName.size() > static_cast<std::size_t>(kPortNameArea - 1)) {
            EndEnumeration();
            return 0;
        }
        char nameArea[kPortNameArea] = {};
        std::memcpy(nameArea, candidate.portName.data(), candidate.portName.size());
        char friendlyArea[kFriendlyNameArea] = {};
        const std::size_t friendlyLength =
            Utf8Prefix(candidate.friendlyName.data(), candidate.friendlyName.size(),
                       static_cast<std::size_t>(kFriendlyNameArea - 1));
        std::memcpy(friendlyArea, candidate.friendlyName.data(), friendlyLength);
        ++g_enumeration.position;

        if (!serial::HasComPrefix(nameArea)) continue;  // a parallel port or other member
        if (serial::ComNumberAfterPrefix(nameArea) < 1) {
            EndEnumeration();
            return 0;
        }
        std::memcpy(portName, nameArea, std::strlen(nameArea) + 1);
        if (friendlyName != nullptr) {
            const std::size_t length =
                Utf8Prefix(friendlyArea, friendlyLength, static_cast<std::size_t>(kCallerNameBuffer - 1));
            std::memcpy(friendlyName, friendlyArea, length);
            friendlyName[length] = '\0';
        }
        return 1;
    }
}

int PortEnumEnd(DeviceSet set) {
    auto& sets = LiveSets();
    const auto it = std::find_if(sets.begin(), sets.end(), [set](const DeviceSetData* data) {
        return reinterpret_cast<DeviceSet>(data) == set;
    });
    if (it == sets.end()) return 0;
    DeviceSetData* data = *it;
    sets.erase(it);
    if (g_enumeration.set == data) EndEnumeration();
    delete data;
    return 1;
}

}  // namespace pelmark
