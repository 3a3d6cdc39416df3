// pelmark-devsim as a program: its pty, its port-map link (where the updater
// finds it), the line-silence rule, its log, its dump and its ways of ending.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "serial/port_discovery.h"
#include "serial/port_map.h"
#include "support/child_process.h"
#include "support/frames.h"
#include "support/scratch.h"

namespace {

using pelmark::test::ScratchDir;
using pelmark::test::WithChecksum;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

constexpr std::uint8_t kMaskBase = 0x5A;  // passed with --mask-base so the test fixes B

// One running simulator; terminated and reaped when the test ends.
class Sim : public pelmark::test::Child {
public:
    explicit Sim(const std::vector<std::string>& args,
                 const std::map<std::string, std::string>& env = {})
        : Child(PELMARK_DEVSIM_PATH, args, -1, pelmark::test::ChildOptions{env, false}) {}

    ~Sim() {
        if (pid() > 0) Terminate();
    }

    // The next stdout line, or "" when none comes within the time.
    std::string ReadLine(std::chrono::milliseconds timeout = 5000ms) { return Child::ReadLine(timeout); }

    // Exit status after SIGTERM.
    int Terminate() {
        Signal(SIGTERM);
        return WaitExit(5000ms);
    }
};

int OpenPort(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return fd;
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    return fd;
}

// Reads until `count` bytes arrived or `timeout` passed.
Bytes ReadBytes(int fd, std::size_t count, std::chrono::milliseconds timeout = 3000ms) {
    Bytes got;
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (got.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left <= 0ms) break;
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(left.count())) <= 0) break;
        std::uint8_t chunk[512];
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n > 0) got.insert(got.end(), chunk, chunk + n);
    }
    return got;
}

void Write(int fd, const Bytes& bytes) {
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}


std::string ReadFile(const std::string& path) {
    std::stringstream s;
    s << std::ifstream(path).rdbuf();
    return s.str();
}

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

const Bytes kIdentity{'V', 5, 0x48, 5, 0x04, 'K'};  // the defaults: chip 0x48, bios 5, board 5

TEST(DevsimProgram, AnswersASearchByteOnItsPtyAcrossReopens) {
    Sim sim({"--exit-after-idle", "30"});
    const std::string path = sim.ReadLine();
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;

    for (int opening = 0; opening < 2; ++opening) {
        SCOPED_TRACE(opening);
        const int fd = OpenPort(path);
        ASSERT_GE(fd, 0);
        Write(fd, {0xC2});
        EXPECT_EQ(ReadBytes(fd, 6), kIdentity);
        close(fd);
    }
    EXPECT_EQ(sim.Terminate(), 0);
}

TEST(DevsimProgram, PartialFrameIsDroppedAfterSilenceButNotWhileBytesKeepComing) {
    Sim sim({"--exit-after-idle", "30", "--plain"});
    const int fd = OpenPort(sim.ReadLine());
    ASSERT_GE(fd, 0);

    // A row that arrives in pieces 30 ms apart is still one frame.
    Bytes row{0x00, 0x00, 0x40, 0x40};
    row.insert(row.end(), 64, 0x5C);
    row = WithChecksum(row);
    Write(fd, Bytes(row.begin(), row.begin() + 10));
    std::this_thread::sleep_for(30ms);
    Write(fd, Bytes(row.begin() + 10, row.begin() + 40));
    std::this_thread::sleep_for(30ms);
    Write(fd, Bytes(row.begin() + 40, row.end()));
    EXPECT_EQ(ReadBytes(fd, 1), Bytes{'K'});

    // A frame cut short: after 100 ms of quiet the device listens afresh, so
    // the search byte is answered instead of being taken for row data.
    Write(fd, {0x00, 0x00, 0x80, 0x40, 0x01, 0x02});
    std::this_thread::sleep_for(250ms);
    Write(fd, {0xC2});
    EXPECT_EQ(ReadBytes(fd, 6), kIdentity);
    close(fd);
}

TEST(DevsimProgram, ComLinkLogAndDump) {
    ScratchDir dir{"devsim-test"};
    const std::string ports = dir.path() + "/ports";
    ASSERT_EQ(mkdir(ports.c_str(), 0755), 0);
    { std::ofstream(ports + "/COM100") << "taken\n"; }  // names match in any case
    const std::string dump = dir.path() + "/device.hex";
    const std::string log = dir.path() + "/frames.log";

    Sim sim({"--com", "auto", "--dump", dump, "--log", log, "--mask-base", "0x5A"},
            {{"PELMARK_PORT_DIR", ports}});
    const std::string path = sim.ReadLine();
    ASSERT_EQ(sim.ReadLine(), "COM101");
    char target[256] = {};
    ASSERT_GT(readlink((ports + "/com101").c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(path, target);

    const int fd = OpenPort(ports + "/com101");
    ASSERT_GE(fd, 0);
    // Row at 0x0040 carrying 0x10 0x20 masked with mask(0x40) = 0x9A, then
    // EEPROM byte 3 = 0x77, then a row with a wrong checksum.
    const std::uint8_t m = static_cast<std::uint8_t>(kMaskBase + 0x40);
    Write(fd, WithChecksum({0x00, 0x00, 0x40, 0x02, static_cast<std::uint8_t>(0x10 ^ m),
                           static_cast<std::uint8_t>(0x20 ^ m)}));
    EXPECT_EQ(ReadBytes(fd, 1), Bytes{'K'});
    Write(fd, WithChecksum({0x40, 0x03, 0x77, 0x01, 0x00}));
    EXPECT_EQ(ReadBytes(fd, 1), Bytes{'K'});
    Bytes bad = WithChecksum({0x00, 0x00, 0x80, 0x01, 0x55});
    bad.back() ^= 0x01;
    Write(fd, bad);
    EXPECT_EQ(ReadBytes(fd, 1), Bytes{'N'});
    close(fd);

    EXPECT_EQ(sim.Terminate(), 0);
    EXPECT_FALSE(Exists(ports + "/com101"));
    EXPECT_TRUE(Exists(ports + "/COM100"));
    EXPECT_EQ(ReadFile(log),
              "program 000040 2 K\neeprom 000003 1 K\nprogram 000080 1 N checksum\n");
    EXPECT_EQ(ReadFile(dump), ":0200400010208E\n:0200000400F00A\n:010003007785\n:00000001FF\n");
}

TEST(DevsimProgram, FixedComNumberIsRefusedWhileAnotherDeviceHoldsIt) {
    ScratchDir dir{"devsim-test"};
    const std::string ports = dir.path() + "/a/b";  // created when missing
    Sim first({"--com", "7", "--exit-after-idle", "30"}, {{"PELMARK_PORT_DIR", ports}});
    const std::string path = first.ReadLine();
    ASSERT_EQ(first.ReadLine(), "COM7");
    char target[256] = {};
    ASSERT_GT(readlink((ports + "/com7").c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(path, target);

    Sim second({"--com", "7"}, {{"PELMARK_PORT_DIR", ports}});
    EXPECT_EQ(second.ReadLine(), "");
    EXPECT_NE(second.WaitExit(5000ms), 0);
    EXPECT_TRUE(Exists(ports + "/com7"));  // the first one's link stays

    EXPECT_EQ(first.Terminate(), 0);
    EXPECT_FALSE(Exists(ports + "/com7"));
}

// The environment of a user whose XDG_CONFIG_HOME is relative, in a scratch
// folder that is also the working directory and the home; the old values
// come back at the end.
class RelativeConfigHome {
public:
    explicit RelativeConfigHome(const std::string& scratch) {
        Save("HOME");
        Save("XDG_CONFIG_HOME");
        Save("PELMARK_PORT_DIR");
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd) != nullptr) cwd_ = cwd;
        setenv("HOME", (scratch + "/home").c_str(), 1);
        setenv("XDG_CONFIG_HOME", "relative-config", 1);
        unsetenv("PELMARK_PORT_DIR");
        mkdir((scratch + "/home").c_str(), 0755);
        ok_ = chdir(scratch.c_str()) == 0;
    }
    ~RelativeConfigHome() {
        if (!cwd_.empty() && chdir(cwd_.c_str()) != 0) ADD_FAILURE() << "cannot return to " << cwd_;
        for (const auto& [name, value] : saved_) {
            if (value.second)
                setenv(name.c_str(), value.first.c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }
    bool ok() const { return ok_; }

private:
    void Save(const char* name) {
        const char* value = std::getenv(name);
        saved_[name] = {value != nullptr ? value : "", value != nullptr};
    }
    std::map<std::string, std::pair<std::string, bool>> saved_;
    std::string cwd_;
    bool ok_ = false;
};

// The COM names discovery delivers, as pelmark-flash --list-ports shows them.
std::vector<std::string> DiscoveredPorts() {
    std::vector<std::string> names;
    const pelmark::DeviceSet set = pelmark::PortEnumBegin();
    if (set == pelmark::kNoDeviceSet) return names;
    char name[pelmark::kCallerNameBuffer];
    char friendly[pelmark::kCallerNameBuffer];
    while (pelmark::PortEnumNext(set, name, friendly) == 1) names.emplace_back(name);
    pelmark::PortEnumEnd(set);
    return names;
}

// The simulator places its link where the updater looks for it, whatever
// the environment: a relative XDG_CONFIG_HOME counts for neither.
TEST(DevsimProgram, AutoComLinkIsWhereTheUpdaterFindsIt) {
    ScratchDir dir{"devsim-test"};
    RelativeConfigHome env(dir.path());
    ASSERT_TRUE(env.ok());
    Sim sim({"--com", "auto"});
    const std::string path = sim.ReadLine();
    ASSERT_FALSE(path.empty());
    ASSERT_EQ(sim.ReadLine(), "COM100");

    const std::string entry = pelmark::serial::PortMapEntry(100);
    EXPECT_EQ(entry, dir.path() + "/home/.config/pelmark/ports/com100");
    char target[256] = {};
    ASSERT_GT(readlink(entry.c_str(), target, sizeof target - 1), 0) << entry;
    EXPECT_EQ(path, target);
    const std::vector<std::string> ports = DiscoveredPorts();
    EXPECT_NE(std::find(ports.begin(), ports.end(), "COM100"), ports.end());
    EXPECT_FALSE(Exists(dir.path() + "/relative-config"));

    EXPECT_EQ(sim.Terminate(), 0);
    EXPECT_TRUE(pelmark::serial::PortMapEntry(100).empty());
}

TEST(DevsimProgram, EndingSignalRightAfterStartStillCleansUp) {
    for (int signo : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signo);
        ScratchDir dir{"devsim-test"};
        const std::string dump = dir.path() + "/device.hex";
        Sim sim({"--com", "auto", "--dump", dump}, {{"PELMARK_PORT_DIR", dir.path()}});
        ASSERT_FALSE(sim.ReadLine().empty());
        ASSERT_EQ(sim.ReadLine(), "COM100");
        sim.Signal(signo);
        EXPECT_EQ(sim.WaitExit(5000ms), 0);
        EXPECT_FALSE(Exists(dir.path() + "/com100"));
        EXPECT_EQ(ReadFile(dump), ":00000001FF\n");
    }
}

TEST(DevsimProgram, ExitsAfterIdleTime) {
    Sim sim({"--exit-after-idle", "0.3"});
    ASSERT_FALSE(sim.ReadLine().empty());
    EXPECT_EQ(sim.WaitExit(5000ms), 0);
}

TEST(DevsimProgram, OnceEndsAfterQuietFollowingADataFrame) {
    ScratchDir dir{"devsim-test"};
    const std::string dump = dir.path() + "/once.hex";
    Sim sim({"--once", "--plain", "--dump", dump});
    const int fd = OpenPort(sim.ReadLine());
    ASSERT_GE(fd, 0);
    Write(fd, {0xC2});
    EXPECT_EQ(ReadBytes(fd, 6), kIdentity);
    // A search alone is no update: the device keeps serving.
    EXPECT_EQ(sim.WaitExit(1500ms), -1);
    Write(fd, WithChecksum({0x00, 0x00, 0x00, 0x01, 0xAB}));
    EXPECT_EQ(ReadBytes(fd, 1), Bytes{'K'});
    EXPECT_EQ(sim.WaitExit(5000ms), 0);
    close(fd);
    EXPECT_EQ(ReadFile(dump), ":01000000AB54\n:00000001FF\n");
}

TEST(DevsimProgram, RejectsBadOptions) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--chip", "0x100"}, {"--bios", "five"},
          {"--search-bytes", "c2,c3"}, {"--com", "0"}}) {
        Sim sim(args);
        EXPECT_EQ(sim.ReadLine(1000ms), "") << args[0];
        const int status = sim.WaitExit(5000ms);
        EXPECT_NE(status, 0) << args[0];
        EXPECT_NE(status, -1) << args[0];
    }
}

}  // namespace
