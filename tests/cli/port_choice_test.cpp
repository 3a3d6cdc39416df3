// Choosing the port: COM names, device paths, the ports present, and the hint
// for a port that cannot be opened.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "cli/port_choice.h"
#include "serial/port_map.h"
#include "support/scratch.h"

namespace pelmark::cli {
namespace {

namespace fs = std::filesystem;

TEST(ComName, ParsedInAnyLetterCaseFromCom1ToCom257) {
    struct Case {
        const char* text;
        std::optional<int> index;
    };
    const Case cases[] = {
        {"COM9", 8},          {"com9", 8},          {"Com10", 9},         {"cOM1", 0},
        {"COM1", 0},          {"COM257", 256},      {"COM0", std::nullopt}, {"COM258", std::nullopt},
        {"COM", std::nullopt}, {"COM9x", std::nullopt}, {"COM-1", std::nullopt}, {"COM 9", std::nullopt},
        {" COM9", std::nullopt}, {"9", std::nullopt},  {"LPT1", std::nullopt}, {"COM99999", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseComName(c.text), c.index) << '"' << c.text << '"';
}

// A port-map directory of its own for each test.
class PortMapDir : public ::testing::Test {
protected:
    void TearDown() override {
        for (int n = 1; n <= 257; ++n) serial::SetComOverride(n, "");
    }
    std::string MakeFile(const std::string& name) {
        const fs::path p = dir_ / name;
        std::ofstream(p) << "";
        return p.string();
    }

    test::TestPortMap ports_{"pelmark-cli-ports"};
    const fs::path dir_{ports_.path()};
};

TEST_F(PortMapDir, ComNamesAndBadArguments) {
    EXPECT_EQ(PortFromArgument("COM9").index, 8);
    EXPECT_EQ(PortFromArgument("com12").index, 11);
    for (const char* bad : {"COM0", "COM258", "ttyUSB0", "9", ""}) {
        const PortChoice c = PortFromArgument(bad);
        EXPECT_EQ(c.index, -1) << bad;
        EXPECT_FALSE(c.error.empty()) << bad;
    }
}

TEST_F(PortMapDir, PathNamedByAMapEntryUsesThatComNumber) {
    const std::string device = MakeFile("device-a");
    fs::create_symlink(device, dir_ / "com12");
    const PortChoice c = PortFromArgument(device);
    EXPECT_EQ(c.index, 11) << c.error;
}

TEST_F(PortMapDir, PathWithoutComNumberBorrowsAFreeOne) {
    const std::string device = MakeFile("device-b");
    fs::create_symlink(MakeFile("other"), dir_ / "com257");  // the highest number is taken
    const PortChoice c = PortFromArgument(device);
    ASSERT_GE(c.index, 0) << c.error;
    EXPECT_NE(c.index, 256);
    EXPECT_EQ(serial::ComDevicePath(c.index + 1), device);
    EXPECT_EQ(serial::ComNumberForPath(device), c.index + 1);
}

TEST(PresentPortsChoice, OnlyASinglePortIsTakenWithoutAsking) {
    const PortChoice one = PortFromPresent({{"COM33", "FT232R USB UART (COM33)"}});
    EXPECT_EQ(one.index, 32);
    EXPECT_EQ(PortFromPresent({{"com100", "pts/7"}}).index, 99);

    const PortChoice none = PortFromPresent({});
    EXPECT_EQ(none.index, -1);
    EXPECT_NE(none.error.find("--port"), std::string::npos);

    const PortChoice several = PortFromPresent({{"COM1", "ttyS0 (COM1)"}, {"COM33", "FT232R USB UART (COM33)"}});
    EXPECT_EQ(several.index, -1);
    EXPECT_NE(several.error.find("COM1\tttyS0 (COM1)"), std::string::npos) << several.error;
    EXPECT_NE(several.error.find("COM33\tFT232R USB UART (COM33)"), std::string::npos) << several.error;
}

TEST(PortHint, NamesTheCauseTheSystemGave) {
    using serial::OpenError;
    struct Case {
        OpenError error;
        const char* mustContain[3];
    };
    const Case cases[] = {
        {OpenError::Absent, {"COM33 (/dev/ttyUSB0)", "not present", "No such file or directory"}},
        {OpenError::Busy, {"COM33 (/dev/ttyUSB0)", "in use", "No such file or directory"}},
        {OpenError::PermissionDenied, {"COM33 (/dev/ttyUSB0)", "no permission", "No such file"}},
        {OpenError::NotASerialPort, {"COM33", "not a serial port", "No such file"}},
        {OpenError::Other, {"COM33", "could not be opened", "No such file"}},
    };
    for (const Case& c : cases) {
        const std::string hint = PortOpenHint(c.error, "No such file or directory", 32, "/dev/ttyUSB0");
        EXPECT_EQ(hint.find('\n'), std::string::npos) << hint;
        EXPECT_EQ(hint.rfind("hint: ", 0), 0u) << hint;
        for (const char* part : c.mustContain) EXPECT_NE(hint.find(part), std::string::npos) << hint << " / " << part;
    }
    EXPECT_EQ(PortOpenHint(OpenError::None, "", 0, "/dev/ttyS0"), "");
    EXPECT_EQ(PortOpenHint(OpenError::Busy, "/dev/ttyUSB0: Device or resource busy", 32, "/dev/ttyUSB0"),
              "hint: COM33 (/dev/ttyUSB0) is in use by another program: Device or resource busy; close it and try again");
    EXPECT_NE(PortOpenHint(OpenError::Absent, "", 299, "").find("no device is known as COM300"), std::string::npos);
}

TEST(PortHint, PermissionNamesOwnerGroupModeAndTheWayIn) {
    struct Case {
        const char* group;
        unsigned mode;
        bool inGroup, hasGroup;
        const char* advice;  // what the hint ends with
    };
    const Case cases[] = {
        {"dialout", 020660, false, false, "; add yourself to the dialout group: sudo usermod -aG dialout $USER, then log in again"},
        {"uucp", 020660, false, false, "; add yourself to the uucp group: sudo usermod -aG uucp $USER, then log in again"},
        {"dialout", 020660, true, false, "; you are in the dialout group: log in again"},
        {"dialout", 020660, true, true, "; check the folders on the way to it"},
        {"tty", 020620, false, false, "; only its owner alice may open it"},  // a terminal: the group may only write
        {"root", 020660, false, false, "; only root may open it"},
        {"dialout", 020000, false, false, "; only root may open it"},
        {"plugdev", 020666, false, false, "; check the folders on the way to it"},
    };
    for (const Case& c : cases) {
        DeviceFacts facts;
        facts.known = true;
        facts.device = "/dev/ttyUSB0";
        facts.owner = "alice";
        facts.group = c.group;
        facts.mode = c.mode;
        facts.inGroup = c.inGroup;
        facts.hasGroup = c.hasGroup;
        const std::string hint =
            PortOpenHint(serial::OpenError::PermissionDenied, "/dev/serial/by-id/x: Permission denied", 32,
                         "/dev/serial/by-id/x", facts);
        EXPECT_EQ(hint, "hint: no permission to open COM33 (/dev/serial/by-id/x): Permission denied; /dev/ttyUSB0 "
                        "belongs to user alice, group " +
                            std::string(c.group) + ", mode " + ModeText(c.mode) + c.advice);
        if (std::string(c.group) != "dialout") {
            EXPECT_EQ(hint.find("dialout"), std::string::npos) << hint;
        }
    }
    // Nothing known about the device: the system's words alone, no advice.
    EXPECT_EQ(PortOpenHint(serial::OpenError::PermissionDenied, "/dev/ttyUSB0: Permission denied", 32, "/dev/ttyUSB0"),
              "hint: no permission to open COM33 (/dev/ttyUSB0): Permission denied");
}

TEST(PortHint, BusyNamesWhoHoldsThePort) {
    DeviceFacts facts;
    facts.holders = {"minicom (pid 4242)"};
    EXPECT_EQ(PortOpenHint(serial::OpenError::Busy, "/dev/ttyUSB0: Device or resource busy", 32, "/dev/ttyUSB0", facts),
              "hint: COM33 (/dev/ttyUSB0) is in use by another program, minicom (pid 4242): Device or resource busy; "
              "close it and try again");
    facts.holders = {"a (pid 1)", "b (pid 2)", "c (pid 3)", "d (pid 4)", "e (pid 5)"};
    EXPECT_NE(PortOpenHint(serial::OpenError::Busy, "", 32, "/dev/ttyUSB0", facts)
                  .find("another program, a (pid 1) and b (pid 2) and c (pid 3) and 2 more; close it"),
              std::string::npos);
}

TEST(PortHint, ModeTextAsLsShowsIt) {
    const std::pair<unsigned, const char*> cases[] = {
        {020660, "crw-rw----"}, {020620, "crw--w----"}, {0100644, "-rw-r--r--"},
        {040755, "drwxr-xr-x"}, {020000, "c---------"}, {0, "?---------"},
    };
    for (const auto& [mode, text] : cases) EXPECT_EQ(ModeText(mode), text) << std::oct << mode;
}

// The facts of a real device: a pseudo-terminal held by other programs.
TEST(DeviceFactsOfAPort, OwnerModeAndHolders) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string slave = ptsname(master);
    struct stat st {};
    ASSERT_EQ(stat(slave.c_str(), &st), 0);

    EXPECT_FALSE(LookAtDevice("", true).known);
    EXPECT_FALSE(LookAtDevice("/dev/no-such-port", true).known);

    // A program that only holds the line open.
    pid_t sleeper = -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, slave.c_str(), O_RDWR | O_NOCTTY, 0);
    char* argv[] = {const_cast<char*>("sleep"), const_cast<char*>("30"), nullptr};
    ASSERT_EQ(posix_spawnp(&sleeper, "sleep", &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    DeviceFacts facts;
    for (int i = 0; i < 200; ++i) {  // until the spawned program has its name
        facts = LookAtDevice(slave, true);
        if (std::find(facts.holders.begin(), facts.holders.end(), "sleep (pid " + std::to_string(sleeper) + ")") !=
            facts.holders.end())
            break;
        usleep(10000);
    }
    EXPECT_TRUE(facts.known);
    EXPECT_EQ(facts.device, slave);
    EXPECT_EQ(facts.mode, static_cast<unsigned>(st.st_mode));
    EXPECT_EQ(ModeText(facts.mode)[0], 'c');
    const passwd* pw = getpwuid(st.st_uid);
    ASSERT_NE(pw, nullptr);
    EXPECT_EQ(facts.owner, pw->pw_name);
    EXPECT_EQ(facts.holders, std::vector<std::string>{"sleep (pid " + std::to_string(sleeper) + ")"});
    EXPECT_TRUE(LookAtDevice(slave, false).holders.empty());

    // Beside it, a program that holds the port's lock: it alone is named.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t locker = fork();
    ASSERT_GE(locker, 0);
    if (locker == 0) {
        const int fd = open(slave.c_str(), O_RDWR | O_NOCTTY);
        const char ok = (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) ? 1 : 0;
        if (write(ready[1], &ok, 1) != 1) _exit(1);
        pause();
        _exit(0);
    }
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, 1);
    const std::vector<std::string> holders = LookAtDevice(slave, true).holders;
    ASSERT_EQ(holders.size(), 1u);
    EXPECT_NE(holders[0].find("(pid " + std::to_string(locker) + ")"), std::string::npos) << holders[0];

    for (const pid_t pid : {sleeper, locker}) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    close(ready[0]);
    close(ready[1]);
    close(master);
}

}  // namespace
}  // namespace pelmark::cli
