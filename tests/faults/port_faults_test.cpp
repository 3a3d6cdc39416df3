// The port itself at fault, end to end with pelmark-flash: busy in another
// process, removed between two updates, not open to the user; and Ctrl+C at
// random moments of an update. Each ends in "Invalid Port Com" (with the
// cause on standard error) or " User Abort !! ", at once, and the next update
// succeeds once the cause is gone.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <random>
#include <string>
#include <vector>

#include "fault_support.h"

namespace pelmark::test {
namespace {

using Args = std::vector<std::string>;
using std::chrono::milliseconds;

constexpr int kCom = 241;
constexpr long kQuick = 2500;  // an update of the small image or a refused open, with slack
const milliseconds kDeadline{60000};
const Args kPic18 = {"--chip", "0x42", "--bios", "5", "--board", "5"};
const std::string kPort = "COM" + std::to_string(kCom);

RunResult Flash(const std::string& frontEnd = "main", int runAs = -1) {
    Child flash(PELMARK_FLASH_SMALL, {"--port", kPort, "--front-end", frontEnd}, runAs);
    return flash.Finish(kDeadline);
}

void ExpectInvalidPort(const RunResult& r, const std::string& hint) {
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.LastLine(), "Outcome: Invalid Port Com");
    EXPECT_EQ(r.status, 1);
    EXPECT_LE(r.ms, kQuick);
    EXPECT_NE(r.err.find(hint), std::string::npos) << r.err;
}

void ExpectSuccess(const RunResult& r, const std::string& line = "Outcome: Program Ok") {
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.LastLine(), line) << r.err;
    EXPECT_EQ(r.status, 0);
    EXPECT_LE(r.ms, kQuick);
}

// Root opens any device whatever its mode; a test that needs the system to
// say no runs the front end as nobody.
constexpr int kNobody = 65534;
int UnprivilegedUser() { return geteuid() == 0 ? kNobody : -1; }

class PortFaults : public ::testing::Test {
protected:
    TestPortMap ports;
};

TEST_F(PortFaults, BusyInAnotherUpdaterThenFreeAgain) {
    // The device answers only the Upgrade window's search byte: a main-window
    // updater searches it for ten seconds and holds the port meanwhile.
    FaultyDevice device(kCom, {"--chip", "0x42", "--bios", "5", "--board", "5", "--search-bytes", "c5"});
    Child holder(PELMARK_FLASH_SMALL, {"--port", kPort, "--front-end", "main"});
    ASSERT_TRUE(device.WaitForLog("search 0000C2 1 ignored", milliseconds(5000)));

    ExpectInvalidPort(Flash("upgrade"), "is in use by another program");

    // Ctrl+C on the holder: it stops at its next wait.
    const auto stopAt = Clock::now();
    holder.Signal(SIGINT);
    const RunResult held = holder.Finish(kDeadline);
    EXPECT_EQ(held.LastLine(), "Outcome: User Abort !!");
    EXPECT_EQ(held.status, 130);
    EXPECT_LE(MsSince(stopAt), 1000) << "a stop is seen within one wait slice";

    ExpectSuccess(Flash("upgrade"), "Outcome: Program OK");
}

TEST_F(PortFaults, BusyInAProgramThatHoldsTheTerminalExclusively) {
    FaultyDevice device(kCom, kPic18);
    const int runAs = UnprivilegedUser();
    if (runAs >= 0) {
        ASSERT_EQ(chmod(device.pty().c_str(), 0666), 0);
    }
    // Like a terminal program: the line held open in exclusive mode.
    const int held = open(device.pty().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(ioctl(held, TIOCEXCL), 0);
    ExpectInvalidPort(Flash("main", runAs), "is in use by another program");
    ioctl(held, TIOCNXCL);
    close(held);
    ExpectSuccess(Flash("main", runAs));
}

TEST_F(PortFaults, RemovedBetweenTwoUpdatesThenPluggedInAgain) {
    {
        FaultyDevice device(kCom, kPic18);
        ExpectSuccess(Flash());
    }  // unplugged: the device and its COM link are gone
    ExpectInvalidPort(Flash(), "no device is known as " + kPort);

    // The map entry is still there but leads nowhere, like the by-id link of
    // an adapter that was pulled out.
    const std::string entry = ports.path() + "/com" + std::to_string(kCom);
    ASSERT_EQ(symlink("/dev/serial/by-id/usb-Pelmark_unplugged-if00-port0", entry.c_str()), 0);
    ExpectInvalidPort(Flash(), "is not present");

    FaultyDevice device(kCom, kPic18);
    ExpectSuccess(Flash());
}

TEST_F(PortFaults, PermissionDeniedThenGranted) {
    FaultyDevice device(kCom, kPic18);
    const int runAs = UnprivilegedUser();
    ASSERT_EQ(chmod(device.pty().c_str(), runAs >= 0 ? 0600 : 0000), 0);
    ExpectInvalidPort(Flash("main", runAs), "no permission to open " + kPort);
    ASSERT_EQ(chmod(device.pty().c_str(), 0666), 0);
    ExpectSuccess(Flash("main", runAs));
}

// The hint names the real cause: whose the device is, its group and mode;
// the dialout advice only for a device of the dialout group.
TEST_F(PortFaults, PermissionHintNamesOwnerGroupAndMode) {
    FaultyDevice device(kCom, kPic18);
    const int runAs = UnprivilegedUser();
    ASSERT_EQ(chmod(device.pty().c_str(), runAs >= 0 ? 0600 : 0000), 0);
    struct stat st {};
    ASSERT_EQ(stat(device.pty().c_str(), &st), 0);
    const passwd* pw = getpwuid(st.st_uid);
    const group* gr = getgrgid(st.st_gid);
    ASSERT_TRUE(pw != nullptr && gr != nullptr);
    const std::string owner = pw->pw_name;
    const std::string groupName = gr->gr_name;

    const RunResult r = Flash("main", runAs);
    ExpectInvalidPort(r, "no permission to open " + kPort);
    EXPECT_NE(r.err.find("user " + owner + ", group " + groupName + ", mode " +
                         (runAs >= 0 ? "crw-------" : "c---------")),
              std::string::npos)
        << r.err;
    if (groupName != "dialout") {
        EXPECT_EQ(r.err.find("dialout"), std::string::npos) << r.err;
    }
}

// A busy port names the program that holds it: the updater that holds its
// lock, or, for a program that takes no lock, whoever has the line open.
TEST_F(PortFaults, BusyHintNamesTheProgramThatHoldsThePort) {
    FaultyDevice device(kCom, {"--chip", "0x42", "--bios", "5", "--board", "5", "--search-bytes", "c5"});
    {
        Child holder(PELMARK_FLASH_SMALL, {"--port", kPort, "--front-end", "main"});
        ASSERT_TRUE(device.WaitForLog("search 0000C2 1 ignored", milliseconds(5000)));
        ExpectInvalidPort(Flash("upgrade"), "is in use by another program, " + std::string("pelmark-flash-small (pid ") +
                                                std::to_string(holder.pid()) + ")");
        holder.Signal(SIGINT);
        holder.Finish(kDeadline);
    }

    // A program without a lock holds the line in exclusive mode (set from
    // here; it only keeps the line open), and runs as the user who is told.
    const int runAs = UnprivilegedUser();
    if (runAs >= 0) {
        ASSERT_EQ(chmod(device.pty().c_str(), 0666), 0);
    }
    Child terminal("/bin/sh", {"-c", "exec sleep 60 <" + device.pty()}, runAs);
    const std::string fd0 = "/proc/" + std::to_string(terminal.pid()) + "/fd/0";
    const auto until = Clock::now() + milliseconds(5000);
    const auto opened = [&] {
        char link[256] = {};
        return readlink(fd0.c_str(), link, sizeof link - 1) > 0 && device.pty() == link;
    };
    while (Clock::now() < until && !opened()) std::this_thread::sleep_for(milliseconds(5));
    ASSERT_TRUE(opened());
    const int held = open(device.pty().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(ioctl(held, TIOCEXCL), 0);
    ExpectInvalidPort(Flash("main", runAs), "sleep (pid " + std::to_string(terminal.pid()) + ")");
    ioctl(held, TIOCNXCL);
    close(held);
}

// Ctrl+C at a random moment of an update (the device answers each of the
// update's frames 100 ms late, so there is time to hit every phase): the run
// ends with " User Abort !! " and status 130, or, when the stop came too late
// or fell into the entry byte's wait, with success; the next update succeeds.
TEST_F(PortFaults, InterruptAtRandomMomentsThenTheNextUpdateSucceeds) {
    const unsigned seed = std::random_device{}();
    RecordProperty("seed", static_cast<int>(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delayMs(0, 1000);
    FaultyDevice device(kCom, {"--chip", "0x42", "--bios", "5", "--board", "5", "--slow-frame", "1",
                               "--slow-count", "1000", "--slow-ms", "100"});
    int stopped = 0;
    for (int round = 0; round < 4; ++round) {
        const int delay = delayMs(random);
        SCOPED_TRACE("seed " + std::to_string(seed) + ", Ctrl+C " + std::to_string(delay) +
                     " ms after the search began");
        const int searchesBefore = device.Count("search");
        Child flash(PELMARK_FLASH_SMALL, {"--port", kPort, "--front-end", "main"});
        const auto until = Clock::now() + milliseconds(5000);
        while (device.Count("search") == searchesBefore && Clock::now() < until)
            std::this_thread::sleep_for(milliseconds(2));
        std::this_thread::sleep_for(milliseconds(delay));
        const auto stopAt = Clock::now();
        flash.Signal(SIGINT);
        const RunResult r = flash.Finish(kDeadline);
        ASSERT_FALSE(r.timedOut);
        if (r.status == 130) {
            ++stopped;
            EXPECT_EQ(r.LastLine(), "Outcome: User Abort !!");
            EXPECT_LE(MsSince(stopAt), 1000);
        } else {
            EXPECT_EQ(r.LastLine(), "Outcome: Program Ok") << "status " << r.status;
            EXPECT_EQ(r.status, 0);
        }
        const RunResult next = Flash();
        EXPECT_EQ(next.LastLine(), "Outcome: Program Ok");
        EXPECT_EQ(next.status, 0);
    }
    RecordProperty("stopped", stopped);
}

}  // namespace
}  // namespace pelmark::test
