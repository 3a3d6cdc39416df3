// Port discovery over a scratch port-map directory and a prepared tree shaped
// like /sys/class/tty, so the system's own devices do not take part.
#include "serial/port_discovery.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "serial/posix/discovery_posix.h"
#include "serial_support.h"

namespace pelmark::test {
namespace {

struct Pair {
    std::string name;
    std::string friendly;
    bool operator==(const Pair& o) const { return name == o.name && friendly == o.friendly; }
};

std::ostream& operator<<(std::ostream& os, const Pair& p) {
    return os << "{" << p.name << ", " << p.friendly << "}";
}

// Calls PortEnumNext until it stops delivering; `last` gets the final result.
std::vector<Pair> Walk(DeviceSet set, int* last = nullptr) {
    std::vector<Pair> pairs;
    for (int guard = 0; guard < 500; ++guard) {
        char name[kCallerNameBuffer] = {};
        char friendly[kCallerNameBuffer] = {};
        const int r = PortEnumNext(set, name, friendly);
        if (last != nullptr) *last = r;
        if (r != 1) break;
        pairs.push_back({name, friendly});
    }
    return pairs;
}

std::vector<Pair> Discover() {
    const DeviceSet set = PortEnumBegin();
    int last = 99;
    std::vector<Pair> pairs = Walk(set, &last);
    EXPECT_EQ(last, 0);
    EXPECT_EQ(PortEnumEnd(set), 1);
    return pairs;
}

class Discovery : public ::testing::Test {
protected:
    void SetUp() override { serial::SetTtyClassDir(sys / "class"); }
    void TearDown() override { serial::SetTtyClassDir(""); }

    // A tty with a device behind it on the given bus.
    void AddTty(const std::string& name, const std::string& device, const std::string& bus,
                const char* type = nullptr, const std::string& devname = "") {
        const std::string deviceDir = sys / ("devices/" + device);
        fs::create_directories(deviceDir);
        fs::create_directories(sys / ("bus/" + bus));
        Symlink(sys / ("bus/" + bus), deviceDir + "/subsystem");
        Symlink(deviceDir, sys / ("class/" + name + "/device"));
        WriteFile(sys / ("class/" + name + "/uevent"), "MAJOR=4\nDEVNAME=" + (devname.empty() ? name : devname) + "\n");
        if (type != nullptr) WriteFile(sys / ("class/" + name + "/type"), std::string(type) + "\n");
    }
    void AddVirtualTty(const std::string& name) {
        WriteFile(sys / ("class/" + name + "/uevent"), "MAJOR=4\nDEVNAME=" + name + "\n");
    }
    void AddUsbSerial() {
        AddTty("ttyUSB0", "pci0/usb1/1-1/1-1:1.0/ttyUSB0", "usb-serial");
        WriteFile(sys / "devices/pci0/usb1/1-1/product", "FT232R USB UART\n");
    }

    ScratchDir map;
    ScratchDir sys;
    ScopedEnv env{"PELMARK_PORT_DIR", map.path()};
};

TEST_F(Discovery, SerialDevicesOfTheSystem) {
    AddVirtualTty("tty0");
    AddVirtualTty("ptmx");
    AddTty("ttyS0", "pnp0/00:01/00:01:0/00:01:0.0", "serial-base", "4");
    AddTty("ttyS1", "platform/serial8250/serial8250:0/serial8250:0.1", "serial-base", "0");  // no UART there
    AddTty("ttyS2", "pnp0/00:02", "pnp", "4");
    AddUsbSerial();
    AddTty("ttyACM0", "pci0/usb1/1-2/1-2:1.0", "usb");
    WriteFile(sys / "devices/pci0/usb1/1-2/product", "Pelmark CDC\n");
    AddTty("ttyGS0", "gadget/g0", "some-bus");

    const std::vector<Pair> expected = {
        {"COM65", "Pelmark CDC (COM65)"},
        {"COM1", "ttyS0 (COM1)"},
        {"COM3", "ttyS2 (COM3)"},
        {"COM33", "FT232R USB UART (COM33)"},
    };
    EXPECT_EQ(Discover(), expected);
}

TEST_F(Discovery, MapEntriesFirstThenTheSystemsPorts) {
    Pty a, b, c;
    Symlink(a.slavePath(), map / "com5");
    Symlink(b.slavePath(), map / "COM12");
    Symlink(c.slavePath(), map / "lpt1");           // not a COM port: passed over
    Symlink(map / "unplugged", map / "com9");       // target missing: not listed
    WriteFile(map / ".com4.swp", "");               // hidden files are not entries
    WriteFile(map / "notes.txt", "COM5 is the bench adapter");  // nor are notes
    AddUsbSerial();

    // Every entry under the name the port dialog reads its number from.
    const std::vector<Pair> expected = {
        {"COM5", "pts/" + a.number() + " (COM5)"},
        {"COM12", "pts/" + b.number() + " (COM12)"},
        {"COM33", "FT232R USB UART (COM33)"},
    };
    EXPECT_EQ(Discover(), expected);
}

TEST_F(Discovery, EndConditions) {
    AddUsbSerial();  // delivered only if the enumeration gets that far
    Pty pty;
    struct Case {
        std::vector<std::string> entries;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {{"com5", "lpt1"}, {"COM5", "COM33"}},
        {{"com5", "com999"}, {"COM5", "COM999", "COM33"}},
        {{"com5", "com1234"}, {"COM5"}},  // longer than six characters
        // Files that are not a comN entry are passed over, whatever their name.
        {{"com0", "com5"}, {"COM5", "COM33"}},
        {{"com5", "comx"}, {"COM5", "COM33"}},
        {{"com5", "ttyUSB-flasher", "README", "notes.txt"}, {"COM5", "COM33"}},
        {{"com05"}, {"COM33"}},  // does not name COM5: COM5 opens ttyS4
        // Two spellings of one number: only the one COM7 opens, once.
        {{"com7", "COM7"}, {"COM7", "COM33"}},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string dir = map / ("case" + std::to_string(n++));
        for (const std::string& entry : c.entries) Symlink(pty.slavePath(), dir + "/" + entry);
        ScopedEnv caseEnv("PELMARK_PORT_DIR", dir);
        std::vector<std::string> names;
        for (const Pair& p : Discover()) names.push_back(p.name);
        EXPECT_EQ(names, c.names) << "entries " << ::testing::PrintToString(c.entries);
    }
}

TEST_F(Discovery, MappedDeviceIsListedOnceUnderItsMapName) {
    // The device behind the pseudo-terminal shows up in the tty tree too.
    Pty pty;
    AddTty(pty.number(), "pci0/usb2/2-1/2-1:1.0/dongle", "usb-serial", nullptr, "pts/" + pty.number());
    WriteFile(sys / "devices/pci0/usb2/2-1/product", "Pelmark Dongle\n");
    EXPECT_EQ(Discover(), std::vector<Pair>{}) << "a pseudo-terminal has no COM number of its own";

    Symlink(pty.slavePath(), map / "com5");
    // Named after the device behind the entry, not after its node.
    const std::vector<Pair> expected = {{"COM5", "Pelmark Dongle (COM5)"}};
    EXPECT_EQ(Discover(), expected);
}

TEST_F(Discovery, NamesFitTheirAreas) {
    // A target path far longer than the friendly-name buffer, in two-byte
    // characters, so a careless cut would split one.
    std::string part;
    for (int i = 0; i < 100; ++i) part += "\xC3\xA9";  // é
    const std::string target = map / ("dev/" + part + "/x" + part + "/device");
    WriteFile(target, "");
    Symlink(target, map / "com7");

    const DeviceSet set = PortEnumBegin();
    char name[kCallerNameBuffer];
    char friendly[kCallerNameBuffer + 56];
    std::memset(name, 0x5A, sizeof name);
    std::memset(friendly, 0x5A, sizeof friendly);
    ASSERT_EQ(PortEnumNext(set, name, friendly), 1);
    EXPECT_STREQ(name, "COM7");  // the entry com7, under its COM name
    for (std::size_t i = std::strlen(name) + 1; i < sizeof name; ++i) ASSERT_EQ(name[i], 0x5A) << i;

    const std::string text = friendly;
    EXPECT_LE(text.size(), static_cast<std::size_t>(kCallerNameBuffer - 1));
    EXPECT_GT(text.size(), 150u);
    EXPECT_EQ(text.substr(text.size() - 7), " (COM7)");
    for (std::size_t i = kCallerNameBuffer; i < sizeof friendly; ++i) ASSERT_EQ(friendly[i], 0x5A) << i;
    // Every lead byte is followed by its continuation byte.
    const std::size_t label = text.size() - 7;
    for (std::size_t i = 0; i < label; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == 0xC3) {
            ASSERT_LT(i + 1, label);
            EXPECT_EQ(static_cast<unsigned char>(text[i + 1]), 0xA9);
        }
    }
    EXPECT_EQ(PortEnumEnd(set), 1);
}

TEST_F(Discovery, ArgumentsAndSetLifetime) {
    Pty pty;
    Symlink(pty.slavePath(), map / "com5");
    char name[kCallerNameBuffer] = {};
    char friendly[kCallerNameBuffer] = {};

    const DeviceSet set = PortEnumBegin();
    ASSERT_NE(set, kNoDeviceSet);
    EXPECT_EQ(PortEnumNext(0, name, friendly), -1);
    EXPECT_EQ(PortEnumNext(set, nullptr, friendly), -1);
    EXPECT_EQ(PortEnumNext(set + 8, name, friendly), -1);  // not a set of ours
    EXPECT_EQ(PortEnumNext(kNoDeviceSet, name, friendly), 0);
    // The friendly name may be left out.
    EXPECT_EQ(PortEnumNext(set, name, nullptr), 1);
    EXPECT_STREQ(name, "COM5");
    EXPECT_EQ(PortEnumNext(set, name, friendly), 0);

    EXPECT_EQ(PortEnumEnd(set), 1);
    EXPECT_EQ(PortEnumEnd(set), 0);  // released once
    EXPECT_EQ(PortEnumNext(set, name, friendly), -1);
    EXPECT_EQ(PortEnumEnd(kNoDeviceSet), 0);
}

TEST_F(Discovery, NextEnumerationStartsAtTheFirstEntry) {
    Pty pty;
    for (const char* entry : {"com5", "com1234"}) Symlink(pty.slavePath(), map / entry);
    char name[kCallerNameBuffer] = {};

    const DeviceSet set = PortEnumBegin();
    ASSERT_EQ(PortEnumNext(set, name, nullptr), 1);
    EXPECT_STREQ(name, "COM5");
    EXPECT_EQ(PortEnumNext(set, name, nullptr), 0);  // "COM1234" does not fit: it ends it
    ASSERT_EQ(PortEnumNext(set, name, nullptr), 1);  // a new enumeration
    EXPECT_STREQ(name, "COM5");

    // Left half-way, then a new set: that one starts at its own beginning.
    const DeviceSet next = PortEnumBegin();
    ASSERT_EQ(PortEnumNext(next, name, nullptr), 1);
    EXPECT_STREQ(name, "COM5");
    EXPECT_EQ(PortEnumEnd(set), 1);
    EXPECT_EQ(PortEnumEnd(next), 1);
}

TEST(DiscoveryOnThisMachine, EveryPairNamesItsPort) {
    ScratchDir map;
    ScopedEnv env("PELMARK_PORT_DIR", map.path());
    serial::SetTtyClassDir("");
    const DeviceSet set = PortEnumBegin();
    int last = 99;
    const std::vector<Pair> pairs = Walk(set, &last);
    EXPECT_EQ(last, 0);
    EXPECT_EQ(PortEnumEnd(set), 1);
    for (const Pair& p : pairs) {
        ASSERT_EQ(p.name.rfind("COM", 0), 0u) << p;
        EXPECT_GE(std::atol(p.name.c_str() + 3), 1) << p;
        const std::string suffix = " (" + p.name + ")";
        ASSERT_GE(p.friendly.size(), suffix.size()) << p;
        EXPECT_EQ(p.friendly.substr(p.friendly.size() - suffix.size()), suffix) << p;
    }
}

}  // namespace
}  // namespace pelmark::test
