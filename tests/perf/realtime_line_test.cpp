// The virtual device's real time: when each reply may leave, given when the
// frame's bytes were read, the line's byte time and the chip's programming
// times.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "devsim/realtime.h"

namespace pelmark::devsim {
namespace {

using Clock = RealtimeLine::Clock;
using Bytes = std::vector<std::uint8_t>;

constexpr double kByte = 11.0 / 115200.0;

Bytes WithChecksum(Bytes frame) {
    unsigned sum = 0;
    for (std::uint8_t b : frame) sum += b;
    frame.push_back(static_cast<std::uint8_t>((0x100 - (sum & 0xFF)) & 0xFF));
    return frame;
}

// A data frame of a full row at `address` (units).
Bytes Row(std::uint32_t address, bool pic24) {
    Bytes f = {static_cast<std::uint8_t>(address >> 16), static_cast<std::uint8_t>(address >> 8),
               static_cast<std::uint8_t>(address)};
    const int n = pic24 ? 256 : 64;
    if (pic24) {
        f.push_back(0x01);
        f.push_back(0x00);
    } else {
        f.push_back(static_cast<std::uint8_t>(n));
    }
    for (int i = 0; i < n; ++i) f.push_back(static_cast<std::uint8_t>(i));
    return WithChecksum(f);
}

class Line : public ::testing::Test {
protected:
    Clock::time_point t0 = Clock::time_point{} + std::chrono::seconds(100);

    // Seconds from t0 to the release of each reply to `bytes` read at `at`.
    std::vector<double> Replies(RealtimeLine& line, DeviceModel& model, const Bytes& bytes, double at,
                                std::vector<Bytes>* replies = nullptr) {
        std::vector<FrameEvent> events;
        const auto readAt = t0 + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(at));
        std::vector<double> times;
        for (auto& r : line.Receive(model, bytes.data(), bytes.size(), readAt, events)) {
            times.push_back(std::chrono::duration<double>(r.release - t0).count());
            if (replies) replies->push_back(r.bytes);
        }
        return times;
    }
};

TEST_F(Line, SearchEepromAndRowsOfAPic18CostLineAndDeviceTime) {
    DeviceConfig config;  // PIC18F26K80, bios 5
    DeviceModel model(config);
    RealtimeLine line(DeviceTiming{}, config);
    EXPECT_NEAR(line.ByteSeconds(), kByte, 1e-12);

    std::vector<Bytes> replies;
    // Search byte in, six identity bytes out.
    EXPECT_NEAR(Replies(line, model, {0xC2}, 0, &replies).at(0), 7 * kByte, 1e-6);
    EXPECT_EQ(replies.at(0).size(), 6u);
    // A row: 69 bytes in, the K80's row write, "K" out.
    EXPECT_NEAR(Replies(line, model, Row(0x40, false), 1.0).at(0), 1.0 + 70 * kByte + 0.0028, 1e-6);
    // An EEPROM byte: 6 bytes in, 4 ms, "K" out.
    EXPECT_NEAR(Replies(line, model, WithChecksum({0x40, 0x00, 0x55, 0x01, 0x00}), 2.0).at(0),
                2.0 + 7 * kByte + 0.004, 1e-6);
    // A refused frame writes nothing: its "N" follows its last byte at once.
    Bytes bad = WithChecksum({0x40, 0x01, 0x55, 0x01, 0x00});
    bad.back() ^= 0xFF;
    replies.clear();
    EXPECT_NEAR(Replies(line, model, bad, 3.0, &replies).at(0), 3.0 + 7 * kByte, 1e-6);
    EXPECT_EQ(replies.at(0), Bytes{'N'});

    // Kinds, bytes both ways and device time per frame, for the benchmark.
    const auto& ex = line.Exchanges();
    ASSERT_EQ(ex.size(), 4u);
    EXPECT_EQ(ex[0].kind, FrameKind::Search);
    EXPECT_EQ(ex[0].received, 1u);
    EXPECT_EQ(ex[0].sent, 6u);
    EXPECT_EQ(ex[1].received, 69u);
    EXPECT_EQ(ex[1].sent, 1u);
    EXPECT_NEAR(ex[1].deviceSeconds, 0.0028, 1e-9);
    EXPECT_NEAR(ex[1].readAt, 1.0, 1e-9) << "seconds from the first read";
    EXPECT_NEAR(ex[1].repliedAt, 1.0 + 70 * kByte + 0.0028, 1e-6);
    EXPECT_EQ(ex[2].received, 6u);
    EXPECT_NEAR(ex[2].deviceSeconds, 0.004, 1e-9);
    EXPECT_EQ(ex[3].deviceSeconds, 0);
}

TEST_F(Line, Pic18RowTimeFollowsTheChipUnlessGiven) {
    struct Case {
        std::uint8_t chip;
        std::optional<double> given;
        double expected;
    };
    for (const Case& c : {Case{0x48, {}, 0.0028}, Case{0x47, {}, 0.0028}, Case{0x43, {}, 0.0020},
                          Case{0x43, 3.5, 0.0035}}) {
        DeviceConfig config;
        config.chip = c.chip;
        DeviceTiming timing;
        timing.pic18RowMs = c.given;
        DeviceModel model(config);
        RealtimeLine line(timing, config);
        EXPECT_NEAR(Replies(line, model, Row(0x40, false), 0).at(0), 70 * kByte + c.expected, 1e-6)
            << "chip " << int{c.chip};
    }
}

TEST_F(Line, Pic24PageIsErasedAtItsFirstRowOnlyUntilTheNextSearch) {
    DeviceConfig config;
    config.chip = 0xFD;
    DeviceModel model(config);
    RealtimeLine line(DeviceTiming{}, config);
    const double row = 263 * kByte + 0.0016;  // 262 bytes in, "K" out, row write
    // A page is 8 rows of 128 address units.
    EXPECT_NEAR(Replies(line, model, Row(0x000, true), 0).at(0), row + 0.020, 1e-6);
    EXPECT_NEAR(Replies(line, model, Row(0x080, true), 1).at(0), 1 + row, 1e-6);
    EXPECT_NEAR(Replies(line, model, Row(0x380, true), 2).at(0), 2 + row, 1e-6);
    EXPECT_NEAR(Replies(line, model, Row(0x400, true), 3).at(0), 3 + row + 0.020, 1e-6);
    EXPECT_NEAR(Replies(line, model, Row(0x000, true), 4).at(0), 4 + row, 1e-6) << "page 0 is still erased";
    Replies(line, model, {0xC2}, 5);
    EXPECT_NEAR(Replies(line, model, Row(0x080, true), 6).at(0), 6 + row + 0.020, 1e-6)
        << "a new update erases again";
}

TEST_F(Line, BytesQueueOnTheLineAndRepliesLeaveInOrder) {
    DeviceConfig config;
    DeviceModel model(config);
    RealtimeLine line(DeviceTiming{}, config);
    // Two EEPROM frames read at once: the second arrives after the first.
    Bytes both = WithChecksum({0x40, 0x00, 0x11, 0x01, 0x00});
    const Bytes second = WithChecksum({0x40, 0x01, 0x22, 0x01, 0x00});
    both.insert(both.end(), second.begin(), second.end());
    const std::vector<double> t = Replies(line, model, both, 0);
    ASSERT_EQ(t.size(), 2u);
    EXPECT_NEAR(t[0], 7 * kByte + 0.004, 1e-6);
    EXPECT_NEAR(t[1], 13 * kByte + 0.004, 1e-6);
    // Bytes read while earlier ones are still on the line wait for them.
    const std::vector<double> late = Replies(line, model, {0xC2}, 0);
    EXPECT_NEAR(late.at(0), 13 * kByte + 0.004 + 6 * kByte, 1e-6)
        << "arrives after the 12 bytes before it, then waits for the second \"K\" to leave";
}

}  // namespace
}  // namespace pelmark::devsim
