// Whole updates: the real engine in this process, the real serial link on a
// pseudo-terminal, and the virtual device on the other end. After each update
// the device's memory is compared with what must have arrived.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>

#include "../engine/fakes.h"
#include "device_process.h"
#include "expected_memory.h"
#include "images/intel_hex.h"
#include "serial/port_map.h"

namespace pelmark::test {
namespace {

constexpr int kCom = 250;  // the test's own COM number, mapped to the device's terminal

std::string F(const char* name) { return std::string(PELMARK_E2E_FIRMWARE) + "/" + name; }

// The images of tests/e2e/firmware/manifest.json by (slot, row).
const std::map<std::pair<int, int>, ImageFile> kImages = {
    {{0, 0}, {F("s0.hex"), "0102030405060708"}},     {{0, 2}, {F("s0_board2.hex"), "0102030405060708"}},
    {{1, 0}, {F("s1.hex"), "0102030405060708"}},     {{3, 0}, {F("s3.hex"), "0102030405060708"}},
    {{4, 0}, {F("s4.hex"), "0102030405060708"}},     {{5, 0}, {F("s5.hex"), "0102030405060708"}},
    {{6, 0}, {F("s6.hex"), "A1A2A3A4A5A6A7A8"}},     {{7, 0}, {F("s7.hex"), "B1B2B3B4B5B6B7B8"}},
    {{8, 0}, {F("s8.hex"), "C1C2C3C4C5C6C7C8"}},     {{9, 0}, {F("s9.hex"), "D1D2D3D4D5D6D7D8"}},
};

std::string Hex(int v) {
    char s[16];
    std::snprintf(s, sizeof s, "0x%X", v);
    return s;
}

// One device, one update through the real link.
class Update : public ::testing::Test {
protected:
    RecordingDisplay display;
    FakeProgress progress;
    FakeStatus status;
    std::optional<DeviceProcess> device;

    static void SetUpTestSuite() { InitImageTable(); }

    void SetUp() override {
        ResetEngineState();
        SetDisplay(&display);
    }
    void TearDown() override {
        ComPortCloseAll();
        SetDisplay(nullptr);
        serial::SetComOverride(kCom, "");
    }

    void StartDevice(std::vector<std::string> args) {
        device.emplace(PELMARK_DEVSIM, std::move(args));
        serial::SetComOverride(kCom, device->pty());
        g_portIndex = kCom - 1;
    }
    void StartDevice(int chip, int bios, int board, int preparation, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--chip", Hex(chip), "--bios", std::to_string(bios), "--board",
                                         std::to_string(board), "--preparation", Hex(preparation)};
        args.insert(args.end(), extra.begin(), extra.end());
        StartDevice(std::move(args));
    }

    // Search and, when found, the pass; returns the search result.
    int Run() {
        const int found = SearchDevice(progress, status);
        if (found == kSearchFound) PrgMode(progress, status);
        return found;
    }

    std::vector<std::string> Outcomes() const { return display.Outcomes(); }

    int CountLog(const std::vector<std::string>& log, const std::string& prefix) const {
        return static_cast<int>(
            std::count_if(log.begin(), log.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
    }
};

const char* const kOk = "outcome| Program Ok |32768|1";

struct Success {
    int chip, bios, board, preparation;
    std::pair<int, int> image;  // slot, row the device must receive
    bool plain;
};

class Successful : public Update, public ::testing::WithParamInterface<Success> {};

TEST_P(Successful, DeviceHoldsExactlyTheImage) {
    const Success& s = GetParam();
    StartDevice(s.chip, s.bios, s.board, s.preparation,
                s.plain ? std::vector<std::string>{"--plain"} : std::vector<std::string>{});
    ASSERT_EQ(Run(), kSearchFound);
    ASSERT_EQ(Outcomes(), std::vector<std::string>{kOk});
    const hex::Memory expected = ExpectedMemory(s.chip, s.bios, kImages.at(s.image));
    const hex::Memory got = device->Memory();
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected) << "the device's memory differs from the image";
    // Versions 5 and up with a "V" identity take the entry byte first.
    EXPECT_EQ(CountLog(device->Log(), "entry"), s.bios >= 5 ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    EveryChip, Successful,
    ::testing::Values(Success{0x42, 4, 5, 0x04, {0, 0}, false},   // board 5 has no row: the generic image
                      Success{0x42, 5, 2, 0x04, {0, 2}, false},   // board 2's own image
                      Success{0x43, 4, 5, 0x04, {1, 0}, false},   //
                      Success{0x43, 5, 5, 0x04, {1, 0}, false},   //
                      Success{0x45, 5, 0x10, 0x03, {3, 0}, false},  // image for board 0x20, preparation 0x81
                      Success{0x46, 4, 0x10, 0x02, {4, 0}, false},  //
                      Success{0x46, 5, 0x10, 0x02, {4, 0}, false},  //
                      Success{0x47, 5, 5, 0x04, {8, 0}, false},   // K80: padded last row, cleared trailer
                      Success{0x48, 5, 5, 0x04, {9, 0}, false},   // 300 EEPROM bytes: the index wraps
                      Success{0xC7, 4, 5, 0x15, {5, 0}, false},   // image preparation 0x14 fits 0x15
                      Success{0xC7, 5, 5, 0x15, {5, 0}, false},   //
                      Success{0xFC, 5, 5, 0x04, {6, 0}, false},   // masked PIC24 image
                      Success{0xFE, 4, 5, 0x04, {6, 0}, false},   //
                      Success{0xFD, 5, 0, 0x00, {7, 0}, true},    // plain PIC24 image
                      Success{0xFD, 32, 0, 0x00, {7, 0}, true}),  // 32: no device record, still compatible
    [](const ::testing::TestParamInfo<Success>& p) {
        return "chip" + Hex(p.param.chip).substr(2) + "_bios" + std::to_string(p.param.bios) + "_board" +
               std::to_string(p.param.board);
    });

TEST_F(Update, LegacyDeviceGetsNoEntryByteAndNoSuitabilityCheck) {
    StartDevice({"--chip", "0x43", "--legacy"});
    ASSERT_EQ(Run(), kSearchFound);
    EXPECT_EQ(Outcomes(), std::vector<std::string>{kOk});
    // Board 2 has no slot-1 image: the generic one, though made for board 5.
    EXPECT_TRUE(device->Memory() == ExpectedMemory(0x43, 0, kImages.at({1, 0})));
    EXPECT_EQ(CountLog(device->Log(), "entry"), 0);
}

TEST_F(Update, DeviceRecordAndSkipRangeOnAPic24Transfer) {
    StartDevice(0xFD, 9, 0, 0,
                {"--plain", "--record-text", "RIG-4 SN 0042", "--skip-start", "0x100", "--skip-length", "0x80"});
    ASSERT_EQ(Run(), kSearchFound);
    EXPECT_EQ(Outcomes(), std::vector<std::string>{kOk});
    EXPECT_TRUE(display.Has("field|1|RIG-4 SN 0042"));
    const hex::Memory got = device->Memory();
    EXPECT_TRUE(got == ExpectedMemory(0xFD, 9, kImages.at({7, 0}), 0x100, 0x80));
    EXPECT_EQ(got.count(0x100), 0u) << "the row at 0x80 is skipped";
    EXPECT_EQ(got.count(0x200), 0u) << "the row at 0x100 is skipped";
    EXPECT_EQ(got.count(0x300), 1u);
}

struct Refusal {
    std::vector<std::string> device;
    std::string outcome;
    const char* what;
};

class Refused : public Update, public ::testing::WithParamInterface<Refusal> {};

TEST_P(Refused, NothingIsWritten) {
    const Refusal& r = GetParam();
    StartDevice(r.device);
    ASSERT_EQ(Run(), kSearchFound);
    EXPECT_EQ(Outcomes(), std::vector<std::string>{r.outcome});
    EXPECT_TRUE(device->Memory().empty()) << r.what;
    EXPECT_EQ(CountLog(device->Log(), "entry"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Refused,
    ::testing::Values(
        Refusal{{"--chip", "0xFD", "--bios", "33"}, "outcome| Incompatible Bootloader !! |255|0", "bios 33"},
        Refusal{{"--chip", "0xFB"}, "outcome| Error !! |255|0", "unknown chip"},
        Refusal{{"--chip", "0x44"}, "outcome| No Hex inside !! |255|0", "no image"},
        Refusal{{"--chip", "0xFC", "--board", "19"}, "outcome| Hex too Big !! |255|0", "image too big"},
        Refusal{{"--chip", "0x46", "--board", "0x20", "--preparation", "0x02"},
                "outcome|PM16-CTL1 - Preparation 2|255|0", "image for board 0x10 on board 0x20"},
        Refusal{{"--chip", "0x46", "--board", "0x10", "--preparation", "0x12"},
                "outcome|PM16-CTL1 - Preparation 2|255|0", "bit 4 on the device only"}));

TEST_F(Update, FiveRefusalsOfOneFrameEndWithChkError) {
    StartDevice(0x43, 5, 5, 0x04, {"--nak-frame", "2", "--nak-count", "5"});
    ASSERT_EQ(Run(), kSearchFound);
    EXPECT_EQ(Outcomes(), std::vector<std::string>{"outcome| CHK Error !! |255|0"});
    const auto log = device->Log();
    EXPECT_EQ(CountLog(log, "program 000040 64 N"), 5);
    EXPECT_EQ(CountLog(log, "program"), 6) << "one row accepted, then five writes of the refused one";
    EXPECT_EQ(display.mainStatus.panels[1], "Resend 4");
}

TEST_F(Update, RefusalsBelowFiveAreResent) {
    StartDevice(0x43, 5, 5, 0x04, {"--nak-frame", "2", "--nak-count", "4"});
    ASSERT_EQ(Run(), kSearchFound);
    EXPECT_EQ(Outcomes(), std::vector<std::string>{kOk});
    EXPECT_TRUE(device->Memory() == ExpectedMemory(0x43, 5, kImages.at({1, 0})));
}

TEST_F(Update, SilenceOnAMiddleOrLastRowEndsWithNotResponse) {
    // s1.hex is 130 bytes: rows 1 and 2 are full, row 3 is the last.
    for (const char* frame : {"2", "3"}) {
        SCOPED_TRACE(frame);
        display.calls.clear();
        StartDevice(0x43, 5, 5, 0x04, {"--silent-frame", frame});
        ASSERT_EQ(Run(), kSearchFound);
        EXPECT_EQ(Outcomes(), std::vector<std::string>{"outcome| not Response |255|0"});
        EXPECT_EQ(CountLog(device->Log(), "trailer"), 0) << "the pass ends at the silent row";
        ComPortCloseAll();
    }
}

TEST_F(Update, StopDuringTheSearch) {
    StartDevice({"--chip", "0x43", "--search-bytes", "none"});
    display.onPump = [this] {
        if (display.pumps == 50) g_stopRequest = true;
    };
    EXPECT_EQ(Run(), kSearchStopped);
    EXPECT_EQ(Outcomes(), std::vector<std::string>{"outcome| User Abort !! |255|0"});
}

TEST_F(Update, StopDuringTheTransferThenTheNextUpdateSucceeds) {
    StartDevice(0x48, 5, 5, 0x04);
    display.onPump = [this] {
        if (g_protocol.identity.chip == 0x48 && status.panels[1].rfind("Program EEP 10", 0) == 0)
            g_stopRequest = true;
    };
    ASSERT_EQ(Run(), kSearchFound);
    EXPECT_EQ(Outcomes(), std::vector<std::string>{"outcome| User Abort !! |255|0"});
    display.onPump = nullptr;
    display.calls.clear();
    ASSERT_EQ(Run(), kSearchFound);
    EXPECT_EQ(Outcomes(), std::vector<std::string>{kOk});
    EXPECT_TRUE(device->Memory() == ExpectedMemory(0x48, 5, kImages.at({9, 0})));
}

}  // namespace
}  // namespace pelmark::test
