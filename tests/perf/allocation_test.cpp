// Nothing is allocated on the serial and protocol path: a whole programming
// pass (device record wait, entry byte, every row, the trailer row, the
// EEPROM frames and the completion texts) runs on the real serial link over
// a pseudo-terminal against the virtual device, with every operator new of
// this process counted.
//
// The window opens when the search has found the device and closes when the
// pass returns. The search itself opens the port, and opening may allocate
// (the device path is built as a string, the port's time-outs are recorded);
// from then on every byte written and read goes through the fixed frame and
// receive buffers. The same holds with the console's byte trace on: the
// link's tap copies into the trace's fixed buffer, and the event pumping
// writes it out.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "bootloader/engine.h"
#include "cli/trace.h"
#include "e2e/device_process.h"
#include "images/image_table.h"
#include "serial/port_link.h"
#include "serial/port_map.h"
#include "shell/display.h"
#include "shell/panels.h"
#include "support/scratch.h"

namespace {

std::atomic<long> g_allocations{0};
std::atomic<bool> g_counting{false};

void* Allocate(std::size_t size) {
    if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (size == 0) size = 1;
    void* p = std::malloc(size);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

void* AllocateAligned(std::size_t size, std::align_val_t align) {
    if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1, std::memory_order_relaxed);
    const std::size_t a = static_cast<std::size_t>(align);
    void* p = std::aligned_alloc(a, (std::max<std::size_t>(size, 1) + a - 1) / a * a);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new(std::size_t size, std::align_val_t align) { return AllocateAligned(size, align); }
void* operator new[](std::size_t size, std::align_val_t align) { return AllocateAligned(size, align); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

namespace pelmark::test {
namespace {

constexpr int kCom = 249;  // this test's own COM number, mapped to the device's terminal

// Counts the allocations made while it lives.
class AllocationWindow {
public:
    AllocationWindow() {
        g_allocations = 0;
        g_counting = true;
    }
    ~AllocationWindow() { g_counting = false; }
    AllocationWindow(const AllocationWindow&) = delete;
    AllocationWindow& operator=(const AllocationWindow&) = delete;
    long Count() const { return g_allocations.load(); }
};

// A front end that keeps what it is shown in fixed storage, so that the only
// allocations counted are the engine's.
class FixedProgress : public ProgressBar {
public:
    int max = 100, position = 0, changes = 0;
    void SetMin(int) override {}
    void SetMax(int v) override { max = v; }
    void SetPosition(int v) override {
        position = v;
        ++changes;
    }
    int Position() const override { return position; }
    int Max() const override { return max; }
    void SetSmooth(bool) override {}
    void SetState(ProgressState) override {}
};

class FixedStatus : public StatusBar {
public:
    char message[64] = {};
    int texts = 0;
    void SetPanelText(int panel, const char* text) override {
        ++texts;
        if (panel == g_panels.message) std::snprintf(message, sizeof message, "%s", text);
    }
    void Repaint() override {}
};

class FixedDisplay : public Display {
public:
    FixedStatus mainStatus;
    char outcome[64] = {};
    std::uint8_t outcomeCode = 255;
    int outcomes = 0;
    int pumps = 0;
    bool flushTrace = false;  // the console's pumping with --trace
    FrontEnd Showing() const override { return FrontEnd::Main; }
    void ShowOutcome(const char* text, Colour, std::uint8_t code) override {
        std::snprintf(outcome, sizeof outcome, "%s", text);
        outcomeCode = code;
        ++outcomes;
    }
    void ShowStatus(const char*, Colour) override {}
    void ShowBusy() override {}
    void ShowIdle() override {}
    void ShowImageKind(bool) override {}
    void HideOutcomeLabel() override {}
    StatusBar* MainStatusBar() override { return &mainStatus; }
    void SetIdentityField(IdentityField, const char*) override {}
    void HideIdentityField(IdentityField) override {}
    void MessageBox(const char*, const char*) override {}
    void PumpEvents() override {
        ++pumps;
        if (flushTrace) cli::FlushTrace();
    }
};

struct Device {
    const char* what;
    std::vector<std::string> args;
    int rows;    // program rows and the trailer row the device must accept
    int eeprom;  // EEPROM frames
};

void PrintTo(const Device& d, std::ostream* os) { *os << d.what; }

class Allocations : public ::testing::TestWithParam<Device> {
protected:
    FixedDisplay display;
    FixedProgress progress;
    FixedStatus status;

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
};

TEST(AllocationCounter, SeesTheAllocationsOfThisProcess) {
    AllocationWindow window;
    std::string text(100, 'x');  // too long for the small-string buffer
    const long counted = window.Count();
    EXPECT_GE(counted, 1) << "operator new is not the counting one: the test below would prove nothing";
}

TEST_P(Allocations, NoneDuringAWholeProgrammingPass) {
    const Device& d = GetParam();
    DeviceProcess device(PELMARK_DEVSIM, d.args);
    serial::SetComOverride(kCom, device.pty());
    g_portIndex = kCom - 1;
    ASSERT_EQ(SearchDevice(progress, status), kSearchFound);

    long allocations = 0;
    {
        AllocationWindow window;
        PrgMode(progress, status);
        allocations = window.Count();
    }

    EXPECT_STREQ(display.outcome, " Program Ok ");
    EXPECT_EQ(display.outcomeCode, kOutcomeSuccess);
    EXPECT_EQ(allocations, 0) << d.what;
    const std::vector<std::string> log = device.Log();
    const auto count = [&](const char* prefix) {
        return std::count_if(log.begin(), log.end(), [&](const std::string& l) {
            return l.rfind(prefix, 0) == 0 && l.find(" K") != std::string::npos;
        });
    };
    EXPECT_EQ(count("program") + count("trailer"), d.rows);
    EXPECT_EQ(count("eeprom"), d.eeprom);
    EXPECT_GT(display.pumps, d.rows) << "every wait lets the front end pump its events";
}

TEST_F(Allocations, NoneDuringATracedProgrammingPass) {
    DeviceProcess device(PELMARK_DEVSIM, {"--chip", "0x48", "--bios", "5", "--board", "5", "--preparation", "0x04"});
    serial::SetComOverride(kCom, device.pty());
    g_portIndex = kCom - 1;
    ScratchDir dir;
    const std::string path = dir.path() + "/trace.txt";
    std::string error;
    ASSERT_TRUE(cli::StartTrace(path, &error)) << error;
    display.flushTrace = true;
    ASSERT_EQ(SearchDevice(progress, status), kSearchFound);

    long allocations = 0;
    {
        AllocationWindow window;
        PrgMode(progress, status);
        allocations = window.Count();
    }
    ASSERT_TRUE(cli::StopTrace(&error)) << error;
    EXPECT_STREQ(display.outcome, " Program Ok ");
    EXPECT_EQ(allocations, 0);

    // Every byte of the search and the pass is in the trace.
    std::ifstream in(path);
    std::uint64_t sent = 0, received = 0;
    for (std::string line; std::getline(in, line);) {
        ASSERT_GE(line.size(), 16u) << line;
        (line[12] == '>' ? sent : received) += (line.size() - 13) / 3;
    }
    EXPECT_EQ(sent, g_linkCounts.sent);
    EXPECT_EQ(received, g_linkCounts.received);
    EXPECT_GT(sent, 2000u) << "the pass, not the search alone";
}

INSTANTIATE_TEST_SUITE_P(
    BothFamilies, Allocations,
    ::testing::Values(
        // PIC18F26K80, masked image: rows padded to 64 bytes, 300 EEPROM frames.
        Device{"PIC18F26K80", {"--chip", "0x48", "--bios", "5", "--board", "5", "--preparation", "0x04"}, 3 + 1, 300},
        // PIC24HJ128, plain image, version 9: device record with a skip range
        // (the rows at 0x0080 and 0x0100 are not sent), two-byte lengths.
        Device{"PIC24HJ128",
               {"--chip", "0xFD", "--bios", "9", "--board", "0", "--preparation", "0", "--plain", "--record-text",
                "BENCH", "--skip-start", "0x100", "--skip-length", "0x80"},
               5 - 2 + 1,
               0}),
    [](const ::testing::TestParamInfo<Device>& param) { return std::string(param.param.what); });

}  // namespace
}  // namespace pelmark::test
