// The console front end as a user runs it: pelmark-flash, built with the
// build's own firmware, against the virtual device on a COM name of the port
// map. Exit statuses, output on a pipe, and the device's memory afterwards.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "device_process.h"
#include "expected_memory.h"
#include "support/child_process.h"
#include "support/lines.h"
#include "support/scratch.h"

namespace pelmark::test {
namespace {

struct Result {
    int status = -1;
    std::string out, err;
};

// Runs a program with stdout and stderr on pipes; `whileRunning` is called
// once the program has started (with its pid), e.g. to interrupt it.
Result RunProgram(std::vector<std::string> args, const std::function<void(pid_t)>& whileRunning = {}) {
    const std::string program = args.front();
    args.erase(args.begin());
    Child child(program, std::move(args));
    if (whileRunning) whileRunning(child.pid());
    RunResult run = child.Finish(std::chrono::seconds(110));
    Result r;
    r.status = run.status;
    r.out = std::move(run.outText);
    r.err = std::move(run.err);
    return r;
}

std::string LastLine(const std::string& text) {
    std::string s = text;
    while (!s.empty() && s.back() == '\n') s.pop_back();
    const auto nl = s.rfind('\n');
    return nl == std::string::npos ? s : s.substr(nl + 1);
}

bool HasControlCharacters(const std::string& text) {
    for (unsigned char c : text)
        if (c < 0x20 && c != '\n') return true;
    return false;
}

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string RealPath(const std::string& path) {
    char* real = realpath(path.c_str(), nullptr);
    if (real == nullptr) return path;
    std::string result = real;
    std::free(real);
    return result;
}

class FlashCli : public ::testing::Test {
protected:
    ScratchDir ports;
    std::optional<DeviceProcess> device;
    std::string com;

    void SetUp() override { setenv("PELMARK_PORT_DIR", ports.path().c_str(), 1); }

    void StartDevice(std::vector<std::string> args) {
        args.push_back("--com");
        args.push_back("auto");
        device.emplace(PELMARK_DEVSIM, std::move(args));
        com = device->ReadLine();
        ASSERT_EQ(com.rfind("COM", 0), 0u) << com;
    }

    Result Flash(std::vector<std::string> args, const std::function<void(pid_t)>& whileRunning = {}) {
        args.insert(args.begin(), PELMARK_FLASH);
        return RunProgram(std::move(args), whileRunning);
    }
};

TEST_F(FlashCli, BuildsSlot9ImageIntoAPic18F26K80) {
    StartDevice({"--chip", "0x48", "--bios", "5", "--board", "5", "--preparation", "0x04"});
    const Result r = Flash({"--port", com});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(LastLine(r.out), "Outcome: Program OK");
    EXPECT_FALSE(HasControlCharacters(r.out)) << "no control characters on a pipe";
    const ImageFile image{std::string(PELMARK_SAMPLE_FIRMWARE) + "/pic18f26k80_slot9.hex", "20EF00F0FFFFFFFF"};
    EXPECT_TRUE(device->Memory() == ExpectedMemory(0x48, 5, image));
}

TEST_F(FlashCli, BuildsSlot7ImageIntoAPlainPic24HJ128) {
    StartDevice({"--chip", "0xFD", "--bios", "5", "--plain"});
    const Result r = Flash({"--port", com, "--front-end", "main"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(LastLine(r.out), "Outcome: Program Ok");
    const ImageFile image{std::string(PELMARK_SAMPLE_FIRMWARE) + "/pic24hj128_slot7.hex", "0002040000000000"};
    EXPECT_TRUE(device->Memory() == ExpectedMemory(0xFD, 5, image));
}

TEST_F(FlashCli, FailureExitsWithOneAndNamesTheOutcome) {
    StartDevice({"--chip", "0x44"});  // this build carries no PIC18F2480 image
    const Result r = Flash({"--port", com, "--front-end", "main"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(LastLine(r.out), "Outcome: No Hex inside !!");
    EXPECT_TRUE(device->Memory().empty());
}

TEST_F(FlashCli, QuietPrintsOnlyTheOutcome) {
    StartDevice({"--chip", "0x48"});
    const Result r = Flash({"--port", com, "--quiet", "--front-end", "loader"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Outcome: Successfully updated\n");
}

TEST_F(FlashCli, BadUsageExitsWithTwo) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--port", "COM0"}, {"--port", "COM258"}, {"--no-such-option"},
          {"--front-end", "sideways"}}) {
        const Result r = Flash(args);
        EXPECT_EQ(r.status, 2) << args[0] << " " << r.err;
    }
}

TEST_F(FlashCli, EmptyPortIsBadUsageNotTheOnlyPortPresent) {
    StartDevice({"--chip", "0x48"});  // a port is present that a search would find
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--port", ""}, {"-p", ""}}) {
        const Result r = Flash(args);
        EXPECT_EQ(r.status, 2) << args[0] << " " << r.out << r.err;
        EXPECT_NE(r.err.find("empty"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_TRUE(device->Memory().empty());
}

TEST_F(FlashCli, PortMapFaultsAreReportedWithTheirPath) {
    const std::string upper = ports.path() + "/COM7";
    const std::string lower = ports.path() + "/com7";
    ASSERT_EQ(symlink("/dev/null", upper.c_str()), 0);
    ASSERT_EQ(symlink("/dev/null", lower.c_str()), 0);
    Result r = Flash({"--list-ports"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "pelmark-flash: warning: the port map entries " + upper + " and " + lower +
                         " both name COM7; " + upper + " is used\n");

    // A port map that is a file: said once, and the run goes on without it.
    const std::string file = ports.path() + "/a-file";
    ASSERT_EQ(symlink("/dev/null", file.c_str()), 0);
    setenv("PELMARK_PORT_DIR", file.c_str(), 1);
    r = Flash({"--port", "COM222", "--front-end", "main"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("pelmark-flash: warning: the port map " + file + " is not a readable folder", 0), 0u)
        << r.err;
}

TEST_F(FlashCli, PortThatDoesNotExistGivesInvalidPortComAndAHint) {
    const Result r = Flash({"--port", "COM222", "--front-end", "main"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(LastLine(r.out), "Outcome: Invalid Port Com");
    EXPECT_NE(r.err.find("hint:"), std::string::npos) << r.err;
}

// A device whose record text spells an outcome line and a terminal sequence,
// then falls silent: the text is shown on its own line, escaped, and the one
// outcome line is the real one.
TEST_F(FlashCli, DeviceRecordTextCannotForgeAnOutcome) {
    StartDevice({"--chip", "0x48", "--bios", "8", "--record-text", "SN\nOutcome: Program Ok\n\x1b", "--silent-frame",
                 "2"});
    const Result r = Flash({"--port", com, "--front-end", "main"});
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_EQ(LastLine(r.out), "Outcome: not Response");
    EXPECT_NE(r.out.find("\n[record] SN\\x0aOutcome: Program Ok\\x0a\\x1b\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("\nOutcome: Program Ok"), std::string::npos) << r.out;
    EXPECT_FALSE(HasControlCharacters(r.out)) << r.out;
}

// Ctrl+C, a service manager's SIGTERM and a closed terminal's SIGHUP all ask
// the engine to stop: it unwinds with its stop report, and the status tells
// which signal it was (128 + its number, as shells report it).
TEST_F(FlashCli, StopSignalsEndWithUserAbortAndTheirStatus) {
    struct Case {
        int signo;
        int status;
    } const cases[] = {{SIGINT, 130}, {SIGTERM, 143}, {SIGHUP, 129}};
    for (const Case& c : cases) {
        SCOPED_TRACE(strsignal(c.signo));
        StartDevice({"--chip", "0x48", "--search-bytes", "none"});
        const auto started = std::chrono::steady_clock::now();
        const Result r = Flash({"--port", com, "--front-end", "main"}, [&](pid_t pid) {
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
            kill(pid, c.signo);
        });
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(LastLine(r.out), "Outcome: User Abort !!") << "ended by the engine, not by the signal";
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5))
            << "the stop is seen within a slice, not after the search";
        device.reset();
    }
}


// A bootloader that sends "K" before it writes and loses what arrives while
// it writes. The default mode's slices leave it the time and it is updated;
// fast mode runs into its writes, and whatever suffers is refused and sent
// again, or the update ends with a failure text: no byte it holds is ever
// wrong. On the device's real time, as the benchmark runs it.
TEST_F(FlashCli, BootloaderBusyAfterItsKIsUpdatedByDefaultAndFastModeFailsSafe) {
    const ImageFile image{std::string(PELMARK_SAMPLE_FIRMWARE) + "/pic18f26k80_slot9.hex", "20EF00F0FFFFFFFF"};
    const hex::Memory expected = ExpectedMemory(0x48, 5, image);
    const char* const failures[] = {"Outcome: CHK Error !!", "Outcome: not Response"};
    for (const bool fast : {false, true}) {
        SCOPED_TRACE(fast ? "--fast" : "default mode");
        StartDevice({"--chip", "0x48", "--bios", "5", "--board", "5", "--preparation", "0x04", "--realtime",
                     "--busy-after-ack"});
        std::vector<std::string> args = {"--port", com, "--quiet"};
        if (fast) args.push_back("--fast");
        const Result r = Flash(args);
        const hex::Memory memory = device->Memory();
        long overruns = 0;
        for (const std::string& line : device->Log())
            if (line.find("N overrun") != std::string::npos) ++overruns;
        if (!fast) {
            EXPECT_EQ(r.status, 0) << r.out << r.err;
            EXPECT_TRUE(memory == expected);
            continue;
        }
        EXPECT_GT(overruns, 0) << "fast mode ran into the device's writes";
        for (const auto& [address, value] : memory) {
            const auto it = expected.find(address);
            ASSERT_TRUE(it != expected.end() && it->second == value) << std::hex << "wrong byte at 0x" << address;
        }
        if (r.status == 0) {
            EXPECT_TRUE(memory == expected) << "updated: all of it";
        } else {
            EXPECT_EQ(r.status, 1);
            EXPECT_NE(std::find(std::begin(failures), std::end(failures), LastLine(r.out)), std::end(failures))
                << r.out;
        }
    }
}

// One update with --trace and --record: the trace holds every byte in order
// (the search byte, the identity reply, and as many bytes as the record
// counts), the record line names the update.
TEST_F(FlashCli, TraceAndRecordOfAnUpdate) {
    StartDevice({"--chip", "0x48", "--bios", "5", "--board", "5", "--preparation", "0x04"});
    const std::string tracePath = ports.path() + "/trace.txt";
    const std::string recordPath = ports.path() + "/station.jsonl";
    const Result r = Flash({"--port", com, "--front-end", "main", "--trace", tracePath, "--record", recordPath});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");

    const std::vector<std::string> lines = SplitLines(FileText(tracePath));
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0].substr(11), " > c2") << lines[0];
    EXPECT_EQ(lines[1].substr(11), " < 56 05 48 05 04 4b") << lines[1];
    double last = 0;
    std::uint64_t sent = 0, received = 0;
    for (const std::string& line : lines) {
        ASSERT_GE(line.size(), 16u) << line;
        EXPECT_EQ(line.substr(4, 1), ".") << line;
        const double at = std::stod(line.substr(0, 11));
        EXPECT_GE(at, last) << "times never go backwards: " << line;
        last = at;
        const std::string direction = line.substr(11, 3);
        ASSERT_TRUE(direction == " > " || direction == " < ") << line;
        const std::size_t bytes = (line.size() - 13) / 3;
        ASSERT_EQ(line.size(), 13 + 3 * bytes) << line;
        (direction == " > " ? sent : received) += bytes;
    }

    const std::string record = FileText(recordPath);
    ASSERT_EQ(std::count(record.begin(), record.end(), '\n'), 1) << record;
    const nlohmann::json line = nlohmann::json::parse(record);
    EXPECT_EQ(line["port"], com);
    EXPECT_EQ(line["device"], RealPath(device->pty()));
    EXPECT_TRUE(line["adapter"].is_null()) << "a pseudo-terminal has no adapter";
    EXPECT_EQ(line["front_end"], "main");
    EXPECT_EQ(line["chip"], 0x48);
    EXPECT_EQ(line["chip_name"], "18F26k80");
    EXPECT_EQ(line["slot"], 9);
    EXPECT_EQ(line["image_sha256"].get<std::string>().size(), 64u);
    EXPECT_EQ(line["outcome"], "Program Ok");
    EXPECT_EQ(line["success"], true);
    EXPECT_EQ(line["bytes_sent"], sent) << "the trace holds every byte sent";
    EXPECT_EQ(line["bytes_received"], received) << "... and every byte received";
    EXPECT_GT(line["frames"].get<int>(), 100);
    EXPECT_GT(line["seconds"].get<double>(), 0.0);
    EXPECT_LE(line["seconds"].get<double>(), last + 1.0);
}

// A station must not count an update it did not record: the device was
// updated, yet the status is 1. A trace that cannot be opened stops the run
// before the device is touched.
TEST_F(FlashCli, RecordOrTraceThatCannotBeWritten) {
    const std::string missing = ports.path() + "/no-such-folder/file";
    StartDevice({"--chip", "0x48"});
    Result r = Flash({"--port", com, "--front-end", "main", "--record", missing});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(LastLine(r.out), "Outcome: Program Ok");
    EXPECT_EQ(r.err, "pelmark-flash: record: cannot open " + missing + ": No such file or directory\n");
    EXPECT_FALSE(device->Memory().empty());

    device.reset();
    StartDevice({"--chip", "0x48"});
    r = Flash({"--port", com, "--front-end", "main", "--trace", missing});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "pelmark-flash: trace: cannot open " + missing + ": No such file or directory\n");
    EXPECT_TRUE(device->Memory().empty());
}

}  // namespace
}  // namespace pelmark::test
