// The adapter facts from udev: the tty of a device path, then its parents up
// to the USB device.
#include "serial/posix/adapter_posix.h"

#include <libudev.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>

#include "serial/posix/discovery_posix.h"

namespace pelmark::serial {

const char* const kAdapterProperties[] = {
    "ID_VENDOR_ID", "ID_MODEL_ID",
    "ID_VENDOR_FROM_DATABASE", "ID_VENDOR_ENC", "ID_VENDOR",
    "ID_MODEL_FROM_DATABASE", "ID_MODEL_ENC", "ID_MODEL",
    "ID_SERIAL_SHORT", nullptr};
const char* const kAdapterSysattrs[] = {"idVendor", "idProduct", "manufacturer", "product", "serial", nullptr};

namespace {

std::string Trim(const std::string& text) {
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && isSpace(text[begin])) ++begin;
    while (end > begin && isSpace(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

// A USB id as four lower-case hex digits; empty for anything that is not one.
std::string UsbId(const std::string& text) {
    const std::string id = Trim(text);
    if (id.empty() || id.size() > 4) return std::string();
    std::string out(4 - id.size(), '0');
    for (const char c : id) {
        if (c >= '0' && c <= '9') {
            out += c;
        } else if (c >= 'a' && c <= 'f') {
            out += c;
        } else if (c >= 'A' && c <= 'F') {
            out += static_cast<char>(c - 'A' + 'a');
        } else {
            return std::string();
        }
    }
    return out;
}

// The nearest level's value of the property, empty when none has it.
std::string Property(const std::vector<UdevLevel>& levels, const char* name) {
    for (const UdevLevel& level : levels) {
        const auto it = level.properties.find(name);
        if (it != level.properties.end()) {
            const std::string value = Trim(it->second);
            if (!value.empty()) return value;
        }
    }
    return std::string();
}

// ID_VENDOR / ID_MODEL: the "_ENC" form decoded, else the plain one with its
// underscores (udev's spaces) back to spaces.
std::string UdevName(const std::vector<UdevLevel>& levels, const char* fromDatabase, const char* encoded,
                     const char* plain) {
    std::string name = Property(levels, fromDatabase);
    if (!name.empty()) return name;
    name = DecodeUdevText(Property(levels, encoded).c_str());
    if (!name.empty()) return name;
    name = Property(levels, plain);
    std::replace(name.begin(), name.end(), '_', ' ');
    return Trim(name);
}

std::string Sysattr(const UdevLevel* usb, const char* name) {
    if (usb == nullptr) return std::string();
    const auto it = usb->sysattrs.find(name);
    return it == usb->sysattrs.end() ? std::string() : Trim(it->second);
}

struct UdevDeleter {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};

UdevLevel LevelOf(udev_device* dev) {
    UdevLevel level;
    if (const char* v = udev_device_get_subsystem(dev)) level.subsystem = v;
    if (const char* v = udev_device_get_devtype(dev)) level.devtype = v;
    for (const char* const* name = kAdapterProperties; *name != nullptr; ++name) {
        if (const char* v = udev_device_get_property_value(dev, *name)) level.properties[*name] = v;
    }
    if (level.subsystem == "usb" && level.devtype == "usb_device") {
        for (const char* const* name = kAdapterSysattrs; *name != nullptr; ++name) {
            if (const char* v = udev_device_get_sysattr_value(dev, *name)) level.sysattrs[*name] = v;
        }
    }
    return level;
}

}  // namespace

std::optional<AdapterFacts> AdapterFactsFromLevels(const std::vector<UdevLevel>& levels) {
    const UdevLevel* usb = nullptr;
    for (const UdevLevel& level : levels) {
        if (level.subsystem == "usb" && level.devtype == "usb_device") {
            usb = &level;
            break;
        }
    }
    if (usb == nullptr) return std::nullopt;

    AdapterFacts facts;
    facts.vendorId = UsbId(Property(levels, "ID_VENDOR_ID"));
    if (facts.vendorId.empty()) facts.vendorId = UsbId(Sysattr(usb, "idVendor"));
    facts.productId = UsbId(Property(levels, "ID_MODEL_ID"));
    if (facts.productId.empty()) facts.productId = UsbId(Sysattr(usb, "idProduct"));
    facts.vendor = UdevName(levels, "ID_VENDOR_FROM_DATABASE", "ID_VENDOR_ENC", "ID_VENDOR");
    if (facts.vendor.empty()) facts.vendor = Sysattr(usb, "manufacturer");
    facts.product = UdevName(levels, "ID_MODEL_FROM_DATABASE", "ID_MODEL_ENC", "ID_MODEL");
    if (facts.product.empty()) facts.product = Sysattr(usb, "product");
    facts.serial = Property(levels, "ID_SERIAL_SHORT");
    if (facts.serial.empty()) facts.serial = Sysattr(usb, "serial");

    if (facts.vendorId.empty() && facts.productId.empty() && facts.vendor.empty() && facts.product.empty() &&
        facts.serial.empty())
        return std::nullopt;
    return facts;
}

std::optional<AdapterFacts> UsbAdapterFacts(const std::string& devicePath) {
    struct stat st {};
    if (devicePath.empty() || stat(devicePath.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return std::nullopt;
    std::unique_ptr<udev, UdevDeleter> u(udev_new());
    if (!u) return std::nullopt;
    // A pseudo-terminal has no device in udev's tree: nothing is known.
    std::unique_ptr<udev_device, UdevDeleter> tty(udev_device_new_from_devnum(u.get(), 'c', st.st_rdev));
    if (!tty) return std::nullopt;
    std::vector<UdevLevel> levels;
    // The parents belong to the tty's device (udev_device_get_parent does
    // not take a reference of its own).
    for (udev_device* d = tty.get(); d != nullptr; d = udev_device_get_parent(d)) {
        levels.push_back(LevelOf(d));
        if (levels.back().subsystem == "usb" && levels.back().devtype == "usb_device") break;
    }
    return AdapterFactsFromLevels(levels);
}

}  // namespace pelmark::serial
