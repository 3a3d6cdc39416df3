// The station as a user runs it: pelmark-flash with several --port options
// against as many virtual devices on real time, each on its own COM name of
// the port map. The children are this build's pelmark-flash --json.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <signal.h>

#include <algorithm>
#include <fstream>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "device_process.h"
#include "expected_memory.h"
#include "support/child_process.h"
#include "support/scratch.h"

namespace pelmark::test {
namespace {

const std::vector<std::string> kK80 = {"--chip", "0x48", "--bios", "5", "--board", "5", "--preparation", "0x04",
                                       "--realtime"};

// The summary row of `port`: "COM3  18F26k80  Program OK ...".
std::string SummaryRow(const RunResult& r, const std::string& port) {
    for (const std::string& line : r.out)
        if (line.rfind(port + " ", 0) == 0 && line.find(':') == std::string::npos) return line;
    return {};
}

class Station : public ::testing::Test {
protected:
    ScratchDir portDir{"pelmark-station-ports"};
    std::vector<std::unique_ptr<DeviceProcess>> devices;
    std::vector<std::string> coms;

    void SetUp() override { setenv("PELMARK_PORT_DIR", portDir.path().c_str(), 1); }

    void StartDevice(std::vector<std::string> args) {
        args.insert(args.end(), {"--com", "auto"});
        devices.push_back(std::make_unique<DeviceProcess>(PELMARK_DEVSIM, std::move(args)));
        coms.push_back(devices.back()->ReadLine());
        ASSERT_EQ(coms.back().rfind("COM", 0), 0u) << coms.back();
    }

    // The Upgrade front end ("Programming...", "Program OK") whatever the
    // build's tag.
    std::vector<std::string> PortArguments() const {
        std::vector<std::string> args = {"--front-end", "upgrade"};
        for (const std::string& com : coms) args.insert(args.end(), {"--port", com});
        return args;
    }
};

// Three boards are updated while the fourth refuses a row five times and
// fails; one port's failure stops no other.
TEST_F(Station, FourPortsAtOnceOneRefusingARow) {
    for (int i = 0; i < 4; ++i) {
        std::vector<std::string> args = kK80;
        if (i == 2) args.insert(args.end(), {"--nak-frame", "40", "--nak-count", "5"});
        StartDevice(args);
    }
    ScratchDir files{"pelmark-station-files"};
    const std::string record = files / "boards.jsonl";
    std::vector<std::string> args = PortArguments();
    args.insert(args.end(), {"--record", record, "--trace", files / "trace.txt"});
    Child station(PELMARK_FLASH, args);
    const RunResult r = station.Finish(std::chrono::seconds(100));
    ASSERT_FALSE(r.timedOut) << r.outText << r.err;
    EXPECT_EQ(r.status, 1) << r.outText << r.err;

    const ImageFile image{std::string(PELMARK_SAMPLE_FIRMWARE) + "/pic18f26k80_slot9.hex", "20EF00F0FFFFFFFF"};
    const hex::Memory expected = ExpectedMemory(0x48, 5, image);
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(coms[i]);
        const std::string row = SummaryRow(r, coms[i]);
        EXPECT_NE(row.find("18F26k80"), std::string::npos) << r.outText;
        const hex::Memory memory = devices[i]->Memory();
        if (i == 2) {
            EXPECT_TRUE(r.HasLine(coms[i] + ": Outcome: CHK Error !!")) << r.outText;
            EXPECT_NE(row.find("CHK Error !!"), std::string::npos) << row;
            EXPECT_FALSE(memory == expected);
        } else {
            EXPECT_TRUE(r.HasLine(coms[i] + ": Outcome: Program OK")) << r.outText;
            EXPECT_NE(row.find("Program OK"), std::string::npos) << row;
            EXPECT_NE(row.find(" 1148 "), std::string::npos) << "frames of the update: " << row;
            EXPECT_TRUE(memory == expected) << "the device holds the image exactly";
        }
    }
    EXPECT_EQ(r.LastLine(), "3 of 4 ports updated");

    // One record file, one whole line per port in the order the updates
    // ended; a trace file per port.
    std::ifstream in(record);
    std::vector<nlohmann::json> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(lines.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(coms[i]);
        const auto it = std::find_if(lines.begin(), lines.end(), [&](const nlohmann::json& l) {
            return l.value("port", "") == coms[i];
        });
        ASSERT_NE(it, lines.end());
        const nlohmann::json& line = *it;
        EXPECT_EQ(line["device"], devices[i]->pty());
        EXPECT_EQ(line["chip_name"], "18F26k80");
        EXPECT_EQ(line["slot"], 9);
        EXPECT_EQ(line["success"], i != 2);
        EXPECT_EQ(line["outcome"], i == 2 ? "CHK Error !!" : "Program OK");
        if (i == 2) {
            EXPECT_EQ(line["refusals"], 5);
        } else {
            EXPECT_EQ(line["frames"], 1148);
            EXPECT_EQ(line["resends"], 0);
        }
        std::ifstream trace(files / ("trace-" + coms[i] + ".txt"));
        std::string first;
        EXPECT_TRUE(std::getline(trace, first) && first.find(" > ") != std::string::npos) << first;
    }
    for (const std::string& line : r.out)
        EXPECT_EQ(std::count(line.begin(), line.end(), '\x1b'), 0) << "no control characters on a pipe";
}

// Ctrl+C reaches the station alone (the children have process groups of
// their own); it stops both updates, which end with their stop report.
TEST_F(Station, CtrlCStopsEveryPort) {
    StartDevice(kK80);
    StartDevice(kK80);
    Child station(PELMARK_FLASH, PortArguments());
    ASSERT_TRUE(station.WaitForOutput(coms[0] + ": Programming", std::chrono::seconds(20)));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto stopped = Clock::now();
    station.Signal(SIGINT);
    const RunResult r = station.Finish(std::chrono::seconds(60));
    EXPECT_EQ(r.status, 130) << r.outText << r.err;
    EXPECT_LT(MsSince(stopped), 5000) << "stopped within the engine's waits";
    for (const std::string& com : coms) {
        EXPECT_TRUE(r.HasLine(com + ": Outcome: User Abort !!")) << r.outText;
        EXPECT_NE(SummaryRow(r, com).find("User Abort !!"), std::string::npos) << r.outText;
    }
    EXPECT_EQ(r.LastLine(), "0 of 2 ports updated");
}

// Board after board: each child updates its board, then waits for the next;
// Ctrl+C while they wait ends the run with every board counted.
TEST_F(Station, LoopCountsTheBoardsOfEveryPort) {
    const std::vector<std::string> fast(kK80.begin(), kK80.end() - 1);  // not on real time
    StartDevice(fast);
    StartDevice(fast);
    std::vector<std::string> args = PortArguments();
    args.push_back("--loop");
    Child station(PELMARK_FLASH, args);
    for (const std::string& com : coms)
        ASSERT_TRUE(station.WaitForOutput(com + ": waiting for the board's removal", std::chrono::seconds(60)));
    station.Signal(SIGINT);
    const RunResult r = station.Finish(std::chrono::seconds(30));
    EXPECT_EQ(r.status, 0) << "every child ended without a failed board: " << r.outText << r.err;
    for (std::size_t i = 0; i < coms.size(); ++i) {
        EXPECT_TRUE(r.HasLine(coms[i] + ": Outcome: Program OK")) << r.outText;
        const std::string row = SummaryRow(r, coms[i]);
        EXPECT_EQ(row.substr(row.size() - 16), "       1       0") << "passed, failed: " << row;
    }
    EXPECT_EQ(r.LastLine(), "2 boards passed, 0 failed on 2 ports");
}

TEST_F(Station, BadPortListsAreBadUsage) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--port", "COM3", "--port", "com3"}, {"--port", "COM3", "--port", ""},
          {"--port", "COM3", "--port", "COM4", "--json"}, {"--port", "COM3", "--all-ports"}}) {
        Child station(PELMARK_FLASH, args);
        const RunResult r = station.Finish(std::chrono::seconds(20));
        EXPECT_EQ(r.status, 2) << args[3] << " " << r.err;
        EXPECT_EQ(r.outText, "");
    }
}

}  // namespace
}  // namespace pelmark::test
