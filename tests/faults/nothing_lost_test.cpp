// Nothing lost: many updates in a row in this process (the real engine and
// link on a pseudo-terminal), each stopped at a random wait slice. Every one
// ends in " User Abort !! " or success, the next one succeeds, the device ends
// up holding exactly the image, and no file descriptor or port is left behind
// (counted in /proc/self/fd), also after a port that vanished or never was.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/file.h>

#include <random>
#include <string>
#include <vector>

#include "../engine/fakes.h"
#include "fault_support.h"

namespace pelmark::test {
namespace {

constexpr int kCom = 242;
const std::vector<std::string> kPic18 = {"--chip", "0x42", "--bios", "5", "--board", "5"};
const std::string kAbort = "outcome| User Abort !! |255|0";
const std::string kOk = "outcome| Program Ok |32768|1";

int OpenDescriptors() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (const dirent* e = readdir(d))
            if (e->d_name[0] != '.') ++n;
        closedir(d);
    }
    return n - 1;  // the directory stream itself
}

class NothingLost : public ::testing::Test {
protected:
    TestPortMap ports;
    RecordingDisplay display;
    FakeProgress progress;
    FakeStatus status;

    static void SetUpTestSuite() { InitImageTable(); }
    void SetUp() override {
        ResetEngineState();
        SetDisplay(&display);
        g_portIndex = kCom - 1;
    }
    void TearDown() override {
        ComPortCloseAll();
        SetDisplay(nullptr);
        g_stopRequest = false;
    }

    // One update as the main window runs it; the stop control is pressed in
    // wait slice `stopAt` (0: never). Returns what it showed as outcome.
    std::vector<std::string> Update(int stopAt = 0) {
        display.calls.clear();
        display.pumps = 0;
        display.onPump = [this, stopAt] {
            if (display.pumps == stopAt) g_stopRequest = true;
        };
        if (SearchDevice(progress, status) == kSearchFound) PrgMode(progress, status);
        display.onPump = nullptr;
        return display.Outcomes();
    }

    hex::Memory CleanMemory() {
        FaultyDevice device(kCom, kPic18);
        EXPECT_EQ(Update(), std::vector<std::string>{kOk});
        ComPortCloseAll();
        return device.Memory();
    }
};

TEST_F(NothingLost, StopsAtRandomSlicesOfManyUpdates) {
    const hex::Memory clean = CleanMemory();
    FaultyDevice device(kCom, kPic18);
    const int baseline = OpenDescriptors();

    ASSERT_EQ(Update(), std::vector<std::string>{kOk});
    const int slices = display.pumps;  // wait slices of one whole update
    ASSERT_GT(slices, 5);

    const unsigned seed = std::random_device{}();
    RecordProperty("seed", static_cast<int>(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> slice(1, slices);
    int stopped = 0;
    const auto start = Clock::now();
    for (int round = 0; round < 40; ++round) {
        const int stopAt = slice(random);
        SCOPED_TRACE("seed " + std::to_string(seed) + ", stop in slice " + std::to_string(stopAt));
        const std::vector<std::string> outcome = Update(stopAt);
        ASSERT_TRUE(outcome == std::vector<std::string>{kAbort} || outcome == std::vector<std::string>{kOk})
            << (outcome.empty() ? std::string("no outcome") : outcome.front());
        if (outcome.front() == kAbort) ++stopped;
        EXPECT_FALSE(g_stopRequest) << "a stop request outlived its update";
        ASSERT_EQ(Update(), std::vector<std::string>{kOk}) << "the update after a stop";
        // The port stays open between updates: one descriptor, never more.
        ASSERT_LE(OpenDescriptors(), baseline + 1);
    }
    RecordProperty("stopped", stopped);
    EXPECT_GT(stopped, 10) << "most stops fall into a wait that ends the update";
    EXPECT_LT(MsSince(start), 60000);

    ComPortCloseAll();
    EXPECT_EQ(OpenDescriptors(), baseline) << "a descriptor leaked";
    // The port is free for any other program.
    const int fd = open(device.pty().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    close(fd);
    EXPECT_TRUE(device.Memory() == clean);
}

TEST_F(NothingLost, AVanishedOrMissingPortLeavesNoDescriptorOpen) {
    const int baseline = OpenDescriptors();
    {
        FaultyDevice device(kCom, {"--chip", "0x42", "--bios", "5", "--board", "5", "--vanish-frame", "3"});
        const int withDevice = OpenDescriptors();
        EXPECT_EQ(Update(), std::vector<std::string>{"outcome| not Response |255|0"});
        EXPECT_LE(OpenDescriptors(), withDevice + 1);
    }
    // The device is gone: the next update cannot open the port and closes
    // the hung-up one it still held.
    EXPECT_EQ(Update(), std::vector<std::string>{"outcome|Invalid Port Com|255|0"});
    EXPECT_EQ(OpenDescriptors(), baseline);
    for (int i = 0; i < 20; ++i) Update();
    EXPECT_EQ(OpenDescriptors(), baseline);

    FaultyDevice device(kCom, kPic18);
    const int withDevice = OpenDescriptors();
    EXPECT_EQ(Update(), std::vector<std::string>{kOk});
    ComPortCloseAll();
    EXPECT_EQ(OpenDescriptors(), withDevice);
}

}  // namespace
}  // namespace pelmark::test
