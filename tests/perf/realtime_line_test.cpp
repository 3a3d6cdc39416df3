// The virtual device's real time: when each reply may leave, given when the
// frame's bytes were read, the line's byte time and the chip's programming
// times.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "devsim/realtime.h"
#include "support/frames.h"

namespace pelmark::devsim {
namespace {

using Clock = RealtimeLine::Clock;
using Bytes = std::vector<std::uint8_t>;

constexpr double kByte = 11.0 / 115200.0;

using test::WithChecksum;

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


// A bootloader that answers "K" before it writes: the "K" leaves as soon as
// the frame is in, and what arrives during the write is lost with the rest
// of its frame, refused with "N" once the write is done.
TEST_F(Line, BusyAfterAckAnswersFirstAndRefusesWhatArrivedDuringTheWrite) {
    struct Case {
        const char* what;
        Bytes first, second;
        double write;
        std::uint32_t secondBytes;
    };
    const Case cases[] = {
        {"row", Row(0x40, false), Row(0x80, false), 0.0028, 69},
        {"EEPROM byte", WithChecksum({0x40, 0x00, 0x11, 0x01, 0x00}), WithChecksum({0x40, 0x01, 0x22, 0x01, 0x00}),
         0.004, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeviceConfig config;  // PIC18F26K80
        DeviceModel model(config);
        DeviceTiming timing;
        timing.busyAfterAck = true;
        RealtimeLine line(timing, config);
        const double in = static_cast<double>(c.first.size());
        const double k = Replies(line, model, c.first, 0).at(0);
        EXPECT_NEAR(k, (in + 1) * kByte, 1e-6) << "\"K\" before the write";

        // The next frame comes at once and runs into the write.
        std::vector<Bytes> replies;
        std::vector<FrameEvent> events;
        const auto at = t0 + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(k + 1e-4));
        const auto r = line.Receive(model, c.second.data(), c.second.size(), at, events);
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].bytes, Bytes{'N'});
        const double lastByte = k + 1e-4 + static_cast<double>(c.second.size()) * kByte;
        const double refusedAt = std::max(lastByte + 2 * kByte, k + c.write) + kByte;
        EXPECT_NEAR(std::chrono::duration<double>(r[0].release - t0).count(), refusedAt, 1e-6)
            << "once the line is quiet and the write is done";
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(FormatEvent(events[0]), "partial 000000 " + std::to_string(c.secondBytes) + " N overrun");
        EXPECT_FALSE(model.ProgramWritten(0x80));
        EXPECT_FALSE(model.EepromWritten(1));

        // Sent again after the "N", the frame arrives whole.
        replies.clear();
        Replies(line, model, c.second, 1.0, &replies);
        EXPECT_EQ(replies.at(0), Bytes{'K'});
    }
}

// A USB adapter passes what it received on when its timer runs out (a
// transfer every N ms, with data or without) or when its buffer is full.
TEST(UsbAdapterLatency, HoldsRepliesUntilItsTimerRunsOutOrItsBufferIsFull) {
    using std::chrono::duration;
    const Clock::time_point t0 = Clock::time_point{} + std::chrono::seconds(100);
    const auto at = [&](double seconds) {
        return t0 + std::chrono::duration_cast<Clock::duration>(duration<double>(seconds));
    };
    const auto seconds = [&](Clock::time_point t) { return duration<double>(t - t0).count(); };

    UsbAdapter adapter(16.0, kByte);
    // The timer runs from the first byte: a "K" then waits a whole period.
    auto pieces = adapter.Pass({at(0), {'K'}});
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_NEAR(seconds(pieces[0].release), 0.016, 1e-9);
    // One that arrives 4 ms after a transfer waits for the next one.
    pieces = adapter.Pass({at(0.020), {'K'}});
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_NEAR(seconds(pieces[0].release), 0.032, 1e-9);
    // 70 bytes right after a transfer: 62 go when the buffer is full, the
    // other 8 one period later.
    Bytes long70(70, 0x55);
    pieces = adapter.Pass({at(0.032 + 70 * kByte), long70});
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].bytes.size(), 62u);
    EXPECT_NEAR(seconds(pieces[0].release), 0.032 + 62 * kByte, 1e-9);
    EXPECT_EQ(pieces[1].bytes.size(), 8u);
    EXPECT_NEAR(seconds(pieces[1].release), 0.032 + 62 * kByte + 0.016, 1e-9);

    UsbAdapter fast(1.0, kByte);
    fast.Pass({at(0), {'K'}});
    pieces = fast.Pass({at(0.0105), {'K'}});
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_NEAR(seconds(pieces[0].release), 0.011, 1e-9) << "a 1 ms adapter costs at most 1 ms";
}

}  // namespace
}  // namespace pelmark::devsim
