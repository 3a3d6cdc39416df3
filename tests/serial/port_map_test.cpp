#include "serial/port_map.h"

#include <gtest/gtest.h>

#include "serial_support.h"

namespace pelmark::test {
namespace {

using serial::ComDevicePath;
using serial::ComNumberForPath;
using serial::PortMapDir;
using serial::PortMapEntry;
using serial::SetComOverride;

TEST(PortMapDir, EnvironmentOrder) {
    struct Case {
        std::optional<std::string> own, xdg, home;
        std::string expected;
    };
    const Case cases[] = {
        {"/srv/ports", "/cfg", "/home/u", "/srv/ports"},
        {std::nullopt, "/cfg", "/home/u", "/cfg/pelmark/ports"},
        {"", "/cfg/", "/home/u", "/cfg/pelmark/ports"},
        {std::nullopt, std::nullopt, "/home/u", "/home/u/.config/pelmark/ports"},
        // A relative XDG_CONFIG_HOME is not a valid one.
        {std::nullopt, "cfg", "/home/u", "/home/u/.config/pelmark/ports"},
    };
    for (const Case& c : cases) {
        ScopedEnv own("PELMARK_PORT_DIR", c.own);
        ScopedEnv xdg("XDG_CONFIG_HOME", c.xdg);
        ScopedEnv home("HOME", c.home);
        EXPECT_EQ(PortMapDir(), c.expected) << c.expected;
    }
}

class PortMap : public ::testing::Test {
protected:
    ScratchDir dir;
    ScopedEnv env{"PELMARK_PORT_DIR", dir.path()};
};

TEST_F(PortMap, DefaultDevices) {
    const std::pair<int, std::string> cases[] = {
        {1, "/dev/ttyS0"},    {10, "/dev/ttyS9"},     {32, "/dev/ttyS31"}, {33, "/dev/ttyUSB0"},
        {64, "/dev/ttyUSB31"}, {65, "/dev/ttyACM0"},  {96, "/dev/ttyACM31"}, {97, ""},
        {257, ""},            {0, ""},                {-1, ""},
    };
    for (const auto& [number, path] : cases) EXPECT_EQ(ComDevicePath(number), path) << "COM" << number;
}

TEST_F(PortMap, EntriesInAnyLetterCaseReplaceTheDefault) {
    Symlink("/dev/null", dir / "COM7");
    Symlink("/dev/null", dir / "com12");
    Symlink("/dev/null", dir / "cOm1");
    Symlink("/dev/null", dir / "com257");
    EXPECT_EQ(ComDevicePath(7), dir / "COM7");
    EXPECT_EQ(ComDevicePath(12), dir / "com12");
    EXPECT_EQ(ComDevicePath(1), dir / "cOm1");
    EXPECT_EQ(ComDevicePath(257), dir / "com257");
    EXPECT_EQ(PortMapEntry(7), dir / "COM7");
    EXPECT_EQ(PortMapEntry(8), "");
    EXPECT_EQ(ComDevicePath(2), "/dev/ttyS1");
}

TEST_F(PortMap, OnlyPlainDecimalNamesCount) {
    for (const char* name : {"com012", "com3x", "com-4", "com", "xcom5", "com 6"}) {
        WriteFile(dir / name, "");
    }
    EXPECT_EQ(ComDevicePath(12), "/dev/ttyS11");
    EXPECT_EQ(ComDevicePath(3), "/dev/ttyS2");
    EXPECT_EQ(ComDevicePath(4), "/dev/ttyS3");
    EXPECT_EQ(ComDevicePath(5), "/dev/ttyS4");
    EXPECT_EQ(ComDevicePath(6), "/dev/ttyS5");
}

TEST_F(PortMap, DanglingEntryStillNamesThePort) {
    // The device is unplugged: COM9 must not silently fall back to ttyS8.
    Symlink(dir / "gone", dir / "com9");
    EXPECT_EQ(ComDevicePath(9), dir / "com9");
}

TEST_F(PortMap, OverrideComesFirstAndCanBeRemoved) {
    Symlink("/dev/null", dir / "com7");
    SetComOverride(7, "/dev/ttyUSB5");
    SetComOverride(120, "/dev/ttyX");
    EXPECT_EQ(ComDevicePath(7), "/dev/ttyUSB5");
    EXPECT_EQ(ComDevicePath(120), "/dev/ttyX");
    SetComOverride(7, "");
    SetComOverride(120, "");
    EXPECT_EQ(ComDevicePath(7), dir / "com7");
    EXPECT_EQ(ComDevicePath(120), "");
}

TEST_F(PortMap, ComNumberForPath) {
    Pty pty;
    Symlink(pty.slavePath(), dir / "com5");
    Symlink(pty.slavePath(), dir / "elsewhere/dongle");
    // Through the entry, the device itself, or another link to it.
    EXPECT_EQ(ComNumberForPath(dir / "com5"), 5);
    EXPECT_EQ(ComNumberForPath(pty.slavePath()), 5);
    EXPECT_EQ(ComNumberForPath(dir / "elsewhere/dongle"), 5);
    // Defaults, whether or not the device is there.
    EXPECT_EQ(ComNumberForPath("/dev/ttyUSB3"), 36);
    EXPECT_EQ(ComNumberForPath("/dev/ttyACM31"), 96);
    EXPECT_EQ(ComNumberForPath("/dev/ttyACM32"), 0);
    EXPECT_EQ(ComNumberForPath(""), 0);
    EXPECT_EQ(ComNumberForPath("/dev/null"), 0);

    SetComOverride(40, pty.slavePath());
    EXPECT_EQ(ComNumberForPath(pty.slavePath()), 40);
    SetComOverride(40, "");
}

TEST_F(PortMap, ShadowedDefaultHasNoNumber) {
    // COM34 now opens the pseudo-terminal, so ttyUSB1 is not reachable as
    // COM34 any more and must not be reported under that number.
    Pty pty;
    Symlink(pty.slavePath(), dir / "com34");
    EXPECT_EQ(ComNumberForPath("/dev/ttyUSB1"), 0);
    EXPECT_EQ(ComNumberForPath("/dev/ttyUSB2"), 35);
}

TEST_F(PortMap, ItemsAreTheComEntriesByNumber) {
    Symlink("/dev/null", dir / "com12");
    Symlink("/dev/null", dir / "COM7");
    Symlink("/dev/null", dir / "com7");
    WriteFile(dir / "notes.txt", "bench adapters");
    WriteFile(dir / "com05", "");
    const std::vector<serial::PortMapItem> items = serial::PortMapItems();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].comNumber, 7);
    EXPECT_EQ(items[0].path, dir / "COM7");  // the one COM7 opens
    EXPECT_EQ(items[1].comNumber, 12);
    EXPECT_EQ(items[1].path, dir / "com12");
}

TEST_F(PortMap, WarningsNameThePath) {
    EXPECT_TRUE(serial::PortMapWarnings().empty());
    {
        // Not there at all is the usual case, not a fault.
        ScopedEnv missing("PELMARK_PORT_DIR", dir / "nothing-here");
        EXPECT_TRUE(serial::PortMapWarnings().empty());
    }
    {
        WriteFile(dir / "a-file", "");
        ScopedEnv file("PELMARK_PORT_DIR", dir / "a-file");
        const std::vector<std::string> warnings = serial::PortMapWarnings();
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_NE(warnings[0].find(dir / "a-file"), std::string::npos) << warnings[0];
        EXPECT_NE(warnings[0].find("not a readable folder"), std::string::npos) << warnings[0];
    }
    if (geteuid() != 0) {  // root reads any folder
        fs::create_directories(dir / "closed");
        ASSERT_EQ(chmod((dir / "closed").c_str(), 0), 0);
        ScopedEnv closed("PELMARK_PORT_DIR", dir / "closed");
        const std::vector<std::string> warnings = serial::PortMapWarnings();
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_NE(warnings[0].find(dir / "closed"), std::string::npos) << warnings[0];
        chmod((dir / "closed").c_str(), 0700);
    }

    Symlink("/dev/null", dir / "com7");
    Symlink("/dev/null", dir / "COM7");
    Symlink("/dev/null", dir / "cOm7");
    Symlink("/dev/null", dir / "com8");
    const std::vector<std::string> warnings = serial::PortMapWarnings();
    ASSERT_EQ(warnings.size(), 2u);  // COM7 beside each of its other spellings
    for (const std::string& w : warnings) {
        EXPECT_NE(w.find(dir / "COM7"), std::string::npos) << w;
        EXPECT_NE(w.find("COM7;"), std::string::npos) << w;
    }
    EXPECT_NE(warnings[0].find(dir / "cOm7"), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[1].find(dir / "com7"), std::string::npos) << warnings[1];
}

}  // namespace
}  // namespace pelmark::test
