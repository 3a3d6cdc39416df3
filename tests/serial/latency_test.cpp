// Low latency on open: the request to the driver (through a stand-in for its
// ioctl, since no USB adapter is at hand) and the adapter's latency timer
// (from a prepared tty class tree).
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "serial/backend.h"
#include "serial/posix/discovery_posix.h"
#include "serial/posix/latency_posix.h"
#include "serial_support.h"

namespace pelmark::test {
namespace {

// What the stand-in driver answers, and what it was asked.
struct Driver {
    int getErrno = 0;  // TIOCGSERIAL fails with this (0: succeeds)
    int flags = 0;     // flags it reports
    int setErrno = 0;  // TIOCSSERIAL fails with this
    std::vector<unsigned long> requests;
    std::optional<int> flagsSet;
};
Driver g_driver;

int FakeIoctl(int, unsigned long request, void* arg) {
    auto* info = static_cast<serial_struct*>(arg);
    g_driver.requests.push_back(request);
    const int err = request == TIOCGSERIAL ? g_driver.getErrno : g_driver.setErrno;
    if (err != 0) {
        errno = err;
        return -1;
    }
    if (request == TIOCGSERIAL) {
        *info = serial_struct{};
        info->flags = g_driver.flags;
    } else {
        g_driver.flagsSet = info->flags;
    }
    return 0;
}

class Latency : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(pty.slavePath().empty());
        Symlink(pty.slavePath(), ports / "com5");
        serial::SetTtyClassDir(sysfs.path());
        serial::SetSerialInfoIoctl(FakeIoctl);
        g_driver = Driver{};
    }
    void TearDown() override {
        serial::SetSerialInfoIoctl(nullptr);
        serial::SetTtyClassDir("");
    }
    // The pty as the class tree names it ("7" for /dev/pts/7) with a latency
    // timer file holding `text`.
    void TimerFile(const std::string& text) { WriteFile(sysfs / (pty.number() + "/device/latency_timer"), text); }

    ScratchDir ports;
    ScopedEnv env{"PELMARK_PORT_DIR", ports.path()};
    ScratchDir sysfs;
    Pty pty;
};

TEST_F(Latency, OpenAsksForLowLatencyAndReadsTheTimerWhereThereIsOne) {
    struct Case {
        const char* what;
        Driver driver;
        std::optional<std::string> timer;
        bool lowLatency;
        int timerMs;
        bool setAsked;
    };
    const Case cases[] = {
        {"an FTDI adapter: flag set, timer read", {0, 0, 0, {}, {}}, "16\n", true, 16, true},
        {"a lowered timer", {0, 0, 0, {}, {}}, "1\n", true, 1, true},
        {"flag already set: not asked again", {0, ASYNC_LOW_LATENCY, 0, {}, {}}, "2\n", true, 2, false},
        {"driver refuses the change", {0, 0, EPERM, {}, {}}, "16\n", false, 16, true},
        {"a pseudo-terminal: no serial settings, no timer", {ENOTTY, 0, 0, {}, {}}, std::nullopt, false, -1, false},
        {"a built-in UART: flag taken, no timer", {0, 0, 0, {}, {}}, std::nullopt, true, -1, true},
        {"a timer file that says nothing useful", {0, 0, 0, {}, {}}, "fast\n", true, -1, true},
    };
    serial::SerialBackend& backend = serial::PlatformBackend();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_driver = c.driver;
        std::error_code ec;
        fs::remove_all(sysfs / pty.number(), ec);
        if (c.timer) TimerFile(*c.timer);

        const serial::Handle h = backend.Open(4);
        ASSERT_NE(h, serial::kInvalidHandle) << "no setting is no error: " << backend.LastOpenErrorText();
        const serial::PortLatency latency = backend.Latency(h);
        EXPECT_EQ(latency.lowLatency, c.lowLatency);
        EXPECT_EQ(latency.timerMs, c.timerMs);
        EXPECT_EQ(g_driver.flagsSet.has_value(), c.setAsked && c.driver.setErrno == 0);
        if (g_driver.flagsSet) {
            EXPECT_NE(*g_driver.flagsSet & ASYNC_LOW_LATENCY, 0);
        }
        EXPECT_EQ(std::count(g_driver.requests.begin(), g_driver.requests.end(), TIOCSSERIAL), c.setAsked ? 1 : 0);
        backend.Close(h);
        EXPECT_EQ(backend.Latency(h).timerMs, -1) << "forgotten with the port";
    }
}

// --list-ports reads the timer without opening the port, by COM name.
TEST_F(Latency, TimerIsReadByComNameWithoutOpening) {
    EXPECT_EQ(serial::AdapterLatencyTimerMs(5), -1);
    TimerFile("16\n");
    EXPECT_EQ(serial::AdapterLatencyTimerMs(5), 16);
    EXPECT_TRUE(g_driver.requests.empty()) << "nothing is asked of the driver";
    EXPECT_EQ(serial::AdapterLatencyTimerMs(6), -1) << "no device behind COM6";
}

// Without the stand-in, on a real pseudo-terminal: the driver says no, the
// port opens all the same and the wait for input works.
TEST_F(Latency, RealPseudoTerminalHasNoSettingAndIsWatchedForInput) {
    serial::SetSerialInfoIoctl(nullptr);
    serial::SerialBackend& backend = serial::PlatformBackend();
    const serial::Handle h = backend.Open(4);
    ASSERT_NE(h, serial::kInvalidHandle);
    EXPECT_EQ(backend.Latency(h).timerMs, -1);
    termios raw{};  // bytes one at a time, not lines
    ASSERT_EQ(tcgetattr(static_cast<int>(h), &raw), 0);
    cfmakeraw(&raw);
    ASSERT_EQ(tcsetattr(static_cast<int>(h), TCSANOW, &raw), 0);
    using Clock = std::chrono::steady_clock;
    EXPECT_FALSE(backend.WaitReadable(h, Clock::now() + std::chrono::milliseconds(5))) << "nothing sent";
    pty.Send({'K'});
    EXPECT_TRUE(backend.WaitReadable(h, Clock::now() + std::chrono::seconds(2)));
    backend.Close(h);
}

}  // namespace
}  // namespace pelmark::test
