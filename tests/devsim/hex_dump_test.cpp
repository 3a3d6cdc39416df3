// The device's memory dump in Intel HEX.
#include "devsim/hex_dump.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace pelmark::devsim {
namespace {

WrittenMemory Consecutive(std::uint32_t from, std::uint32_t count) {
    WrittenMemory m;
    for (std::uint32_t i = 0; i < count; ++i) m[from + i] = static_cast<std::uint8_t>(from + i);
    return m;
}

struct HexCase {
    const char* name;
    WrittenMemory memory;
    std::string text;
};

TEST(HexDump, RecordsFollowRunsOfAddresses) {
    const std::vector<HexCase> cases = {
        {"nothing written", {}, ":00000001FF\n"},
        {"two bytes", {{0x0000, 0x01}, {0x0001, 0x02}}, ":020000000102FB\n:00000001FF\n"},
        {"17 bytes split after 16", Consecutive(0x10, 17),
         ":10001000101112131415161718191A1B1C1D1E1F68\n:0100200020BF\n:00000001FF\n"},
        {"a gap starts a new record", {{0x0005, 0xA5}, {0x0007, 0xA7}},
         ":01000500A555\n:01000700A751\n:00000001FF\n"},
        {"64 KB boundary needs an extended address", {{0xFFFF, 0x11}, {0x10000, 0x22}},
         ":01FFFF0011F0\n:020000040001F9\n:0100000022DD\n:00000001FF\n"},
        {"EEPROM lies at 0xF00000", {{kEepromHexBase + 3, 0x77}},
         ":0200000400F00A\n:010003007785\n:00000001FF\n"},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        EXPECT_EQ(IntelHexText(tc.memory), tc.text);
    }
}

TEST(HexDump, FileIsReplacedWhole) {
    char dir[] = "/tmp/devsim-hex-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/dump.hex";
    { std::ofstream(path) << "old content that is longer than the new one\n"; }
    ASSERT_TRUE(WriteFileAtomically(path, ":00000001FF\n"));
    std::stringstream read;
    read << std::ifstream(path).rdbuf();
    EXPECT_EQ(read.str(), ":00000001FF\n");
    EXPECT_NE(access((path + ".tmp").c_str(), F_OK), 0);
    EXPECT_FALSE(WriteFileAtomically(std::string(dir) + "/missing/dump.hex", "x"));
    std::remove(path.c_str());
    rmdir(dir);
}

}  // namespace
}  // namespace pelmark::devsim
