// The virtual device's own fault options, byte for byte: the end-to-end fault
// tests rely on them doing exactly what they claim and nothing else.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "devsim/device_model.h"
#include "support/frames.h"

namespace pelmark::devsim {
namespace {

using Bytes = std::vector<std::uint8_t>;

DeviceConfig Pic18() {
    DeviceConfig c;
    c.chip = 0x43;
    c.bios = 9;
    c.board = 5;
    c.preparation = 4;
    c.plain = true;
    return c;
}

DeviceConfig WithRecord() {
    DeviceConfig c = Pic18();
    c.hasRecord = true;
    c.recordText = "RIG-42";
    c.skipStart = 0x0102;
    c.skipLength = 0x0304;
    return c;
}

Bytes Row(std::uint32_t address, std::uint8_t fill) {
    Bytes f{static_cast<std::uint8_t>(address >> 16), static_cast<std::uint8_t>(address >> 8),
            static_cast<std::uint8_t>(address), 64};
    f.insert(f.end(), 64, fill);
    return test::WithChecksum(f);
}

const Bytes kIdentity = {'V', 9, 0x43, 5, 4, 'K'};

Bytes Record(std::uint8_t length, std::uint32_t sent, bool closed) {
    Bytes data(28, 0);
    std::copy_n("RIG-42", 6, data.begin());
    data[24] = 0x02;
    data[25] = 0x01;
    data[26] = 0x04;
    data[27] = 0x03;
    Bytes r = {'R', length, 0};
    for (std::uint32_t i = 0; i < sent; ++i) r.push_back(i < 28 ? data[i] : 0);
    if (closed) r.push_back('K');
    return r;
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(DeviceFaults, TheDeviceRecordAsSent) {
    struct Case {
        const char* what;
        std::uint8_t length;
        std::optional<std::uint32_t> bytes;
        Bytes record;
    };
    const Case cases[] = {
        {"usual", 28, std::nullopt, Record(28, 28, true)},
        {"cut off", 28, 12, Record(28, 12, false)},
        {"oversized", 200, std::nullopt, Record(200, 200, true)},
        {"longer than declared", 28, 40, Record(28, 40, true)},
        {"short", 6, std::nullopt, Record(6, 6, true)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeviceConfig config = WithRecord();
        config.recordLength = c.length;
        config.recordBytes = c.bytes;
        DeviceModel m(config);
        EXPECT_EQ(m.Feed({0xC2}), Concat(kIdentity, c.record));
        m.EndFaults();
        EXPECT_EQ(m.Feed({0xC2}), Concat(kIdentity, Record(28, 28, true))) << "healed";
    }
}

TEST(DeviceFaults, NoiseSurroundsEveryReplyAndNeverLooksLikeOne) {
    DeviceConfig c = Pic18();
    c.garbageBefore = 3000;
    c.garbageAfter = 1000;
    DeviceModel m(c);
    for (const Bytes& frame : {Bytes{0xC2}, Bytes{0xCC}, Row(0, 0x11)}) {
        const Bytes reply = m.Feed(frame);
        const Bytes bare = frame[0] == 0xC2 ? kIdentity : Bytes{'K'};
        ASSERT_EQ(reply.size(), 3000 + bare.size() + 1000);
        EXPECT_TRUE(std::equal(bare.begin(), bare.end(), reply.begin() + 3000));
        for (std::size_t i = 0; i < reply.size(); ++i) {
            if (i >= 3000 && i < 3000 + bare.size()) continue;
            ASSERT_TRUE(reply[i] != 'K' && reply[i] != 'N' && reply[i] != 'R') << "byte " << i;
        }
        const Bytes noise(reply.begin(), reply.begin() + 3000);
        EXPECT_GT(std::set<std::uint8_t>(noise.begin(), noise.end()).size(), 200u) << "noise, not a constant";
    }
    m.EndFaults();
    EXPECT_EQ(m.Feed({0xCC}), Bytes{'K'});
}

TEST(DeviceFaults, RefusedSearchSlowFramesAndVanishing) {
    DeviceConfig c = Pic18();
    c.refuseSearch = true;
    c.slowFrame = 2;
    c.slowCount = 2;
    c.slowMs = 2300;
    c.vanishFrame = 5;
    DeviceModel m(c);
    EXPECT_EQ(m.Feed({0xC2}), Bytes{'N'});
    EXPECT_EQ(m.TakeReplyDelay(), 0u);
    const std::uint32_t delays[] = {0, 2300, 2300, 0};
    for (std::uint32_t frame = 1; frame <= 4; ++frame) {
        EXPECT_EQ(m.Feed(Row(0x40 * (frame - 1), 0x22)), Bytes{'K'}) << "frame " << frame;
        EXPECT_EQ(m.TakeReplyDelay(), delays[frame - 1]) << "frame " << frame;
        EXPECT_EQ(m.TakeReplyDelay(), 0u) << "taken once";
    }
    EXPECT_FALSE(m.Vanished());
    EXPECT_TRUE(m.Feed(Row(0x100, 0x33)).empty());
    EXPECT_TRUE(m.Vanished());
    EXPECT_FALSE(m.ProgramWritten(0x100)) << "the frame that met a vanished device is not stored";
}

TEST(DeviceFaults, SilentForAWhileThenAnswering) {
    DeviceConfig c = Pic18();
    c.silentFrame = 2;
    c.silentCount = 2;
    DeviceModel m(c);
    const Bytes expected[] = {{'K'}, {}, {}, {'K'}};
    for (std::uint32_t frame = 1; frame <= 4; ++frame)
        EXPECT_EQ(m.Feed(Row(0, 0x44)), expected[frame - 1]) << "frame " << frame;
}

TEST(DeviceFaults, EndFaultsHealsEveryFault) {
    DeviceConfig c = Pic18();
    c.refuseSearch = true;
    c.nakFrame = 1;
    c.nakCount = 100;
    c.silentFrame = 1;
    c.slowFrame = 1;
    c.slowMs = 5000;
    c.vanishFrame = 1;
    c.garbageBefore = 10;
    DeviceModel m(c);
    m.EndFaults();
    EXPECT_EQ(m.Feed({0xC2}), kIdentity);
    EXPECT_EQ(m.Feed(Row(0, 0x55)), Bytes{'K'});
    EXPECT_EQ(m.TakeReplyDelay(), 0u);
    EXPECT_FALSE(m.Vanished());
    EXPECT_EQ(m.ProgramByte(0), 0x55);
}

}  // namespace
}  // namespace pelmark::devsim
