// The record file: the fields of one line, device texts that survive any
// byte, whole lines from processes appending at once, and the errors a
// station must hear about.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/flash_flow.h"
#include "cli/json_text.h"
#include "cli/record.h"
#include "support/lines.h"
#include "support/scratch.h"

namespace pelmark::cli {
namespace {

using nlohmann::json;

const std::uint8_t kProgram[] = {'a', 'b'};
const std::uint8_t kEeprom[] = {'c'};

// A PIC18F26K80 updated from slot 9, row 2, through an FTDI adapter.
UpdateSummary UpdatedDevice() {
    UpdateSummary s;
    s.port = "COM3";
    s.devicePath = "/dev/ttyUSB0";
    s.tag = "VRN 1C 01.04.03.00";
    s.found = true;
    s.identityKnown = true;
    s.identity = DeviceIdentity{0x48, 8, 5, 0x04};
    s.chipName = "18F26k80";
    s.boardName = "VRN";
    s.recordText = "SN 0042";
    s.slot = 9;
    s.row = 2;
    s.program = kProgram;
    s.programLength = sizeof kProgram;
    s.eeprom = kEeprom;
    s.eepromLength = sizeof kEeprom;
    s.wire = WireCounts{812, 3, 1};
    s.bytesSent = 40211;
    s.bytesReceived = 830;
    s.seconds = 12.3456789;
    s.outcome = "Program OK";
    s.success = true;
    return s;
}

RecordContext Station() {
    RecordContext c;
    c.host = "station-4";
    c.frontEnd = "loader";
    c.adapter = serial::AdapterFacts{"0403", "6001", "FTDI", "FT232R USB UART", "A50285BI"};
    c.time = "2026-12-10T16:40:05+01:00";
    return c;
}

std::vector<std::string> Keys(const nlohmann::ordered_json& object) {
    std::vector<std::string> keys;
    for (auto it = object.begin(); it != object.end(); ++it) keys.push_back(it.key());
    return keys;
}

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(RecordLine, HoldsEveryFieldOfAnUpdateInItsOrder) {
    const std::string line = RecordLine(UpdatedDevice(), Station());
    EXPECT_EQ(line.find('\n'), std::string::npos);
    const json r = json::parse(line);
    const std::vector<std::string> expectedKeys = {
        "time", "host", "port", "device", "adapter", "tag", "front_end", "slot", "row", "image_sha256",
        "chip", "chip_name", "bios", "board", "board_name", "preparation", "record_text", "frames", "resends",
        "refusals", "bytes_sent", "bytes_received", "seconds", "outcome", "success"};
    // The order of the keys is the written one, not json's sorted one.
    EXPECT_EQ(Keys(nlohmann::ordered_json::parse(line)), expectedKeys);

    EXPECT_EQ(r["time"], "2026-12-10T16:40:05+01:00");
    EXPECT_EQ(r["host"], "station-4");
    EXPECT_EQ(r["port"], "COM3");
    EXPECT_EQ(r["device"], "/dev/ttyUSB0");
    EXPECT_EQ(r["adapter"], (json{{"vendor_id", "0403"}, {"product_id", "6001"}, {"vendor", "FTDI"},
                                  {"product", "FT232R USB UART"}, {"serial", "A50285BI"}}));
    EXPECT_EQ(r["tag"], "VRN 1C 01.04.03.00");
    EXPECT_EQ(r["front_end"], "loader");
    EXPECT_EQ(r["slot"], 9);
    EXPECT_EQ(r["row"], 2);
    // Program bytes then EEPROM bytes: "ab" + "c".
    EXPECT_EQ(r["image_sha256"], "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(r["chip"], 0x48);
    EXPECT_EQ(r["chip_name"], "18F26k80");
    EXPECT_EQ(r["bios"], 8);
    EXPECT_EQ(r["board"], 5);
    EXPECT_EQ(r["board_name"], "VRN");
    EXPECT_EQ(r["preparation"], 4);
    EXPECT_EQ(r["record_text"], "SN 0042");
    EXPECT_EQ(r["frames"], 812);
    EXPECT_EQ(r["resends"], 3);
    EXPECT_EQ(r["refusals"], 1);
    EXPECT_EQ(r["bytes_sent"], 40211);
    EXPECT_EQ(r["bytes_received"], 830);
    EXPECT_EQ(r["seconds"], 12.346);
    EXPECT_NE(line.find("\"seconds\":12.346,"), std::string::npos) << line;
    EXPECT_EQ(r["outcome"], "Program OK");
    EXPECT_EQ(r["success"], true);
}

TEST(RecordLine, WhatIsNotKnownIsNull) {
    // No device answered on a pseudo-terminal: no adapter, identity or image.
    UpdateSummary s;
    s.port = "COM40";
    s.outcome = "Device not Found";
    s.exitStatus = kExitFailure;
    RecordContext c = Station();
    c.adapter.reset();
    json r = json::parse(RecordLine(s, c));
    for (const char* key : {"device", "adapter", "slot", "row", "image_sha256", "chip", "chip_name", "bios", "board",
                            "board_name", "preparation", "record_text"})
        EXPECT_TRUE(r[key].is_null()) << key << ": " << r[key];
    EXPECT_EQ(r["success"], false);
    EXPECT_EQ(r["frames"], 0);

    // A device found whose chip has no name, and an adapter that tells only
    // its ids; an image of program bytes alone.
    s = UpdatedDevice();
    s.chipName.clear();
    s.recordText.clear();
    s.eeprom = nullptr;
    s.eepromLength = 0;
    c.adapter = serial::AdapterFacts{"10c4", "ea60", "", "", ""};
    r = json::parse(RecordLine(s, c));
    EXPECT_EQ(r["chip"], 0x48);
    EXPECT_TRUE(r["chip_name"].is_null());
    EXPECT_TRUE(r["record_text"].is_null());
    EXPECT_EQ(r["adapter"], (json{{"vendor_id", "10c4"}, {"product_id", "ea60"}, {"vendor", nullptr},
                                  {"product", nullptr}, {"serial", nullptr}}));
    // SHA-256 of "ab".
    EXPECT_EQ(r["image_sha256"], "fb8e20fc2e4c3f248c60c39bd652f3c1347298bb977b8b4d5903b85055620603");
}

TEST(RecordLine, DeviceTextsKeepEveryByte) {
    std::string bytes;
    for (int b = 0; b < 0x20; ++b) bytes += static_cast<char>(b);
    for (int b = 0x7F; b < 0x100; ++b) bytes += static_cast<char>(b);
    UpdateSummary s = UpdatedDevice();
    s.recordText = bytes;
    s.chipName = "\xff" "18F\n";
    RecordContext c = Station();
    c.adapter->product = "Caf\xe9\r\n";
    const std::string line = RecordLine(s, c);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(line.find('\r'), std::string::npos);
    const json r = json::parse(line);  // valid UTF-8, or parse would throw
    struct Field {
        std::string text;
        std::string bytes;
    } const fields[] = {{r["record_text"].get<std::string>(), bytes},
                        {r["chip_name"].get<std::string>(), s.chipName},
                        {r["adapter"]["product"].get<std::string>(), c.adapter->product}};
    for (const Field& f : fields) {
        std::string back;
        ASSERT_TRUE(JsonTextAsBytes(f.text, &back));
        EXPECT_EQ(back, f.bytes);
    }
}

TEST(IsoLocalTime, NamesTheOffsetOfTheZone) {
    const char* saved = std::getenv("TZ");
    const std::string savedTz = saved != nullptr ? saved : "";
    struct Case {
        const char* tz;
        const char* expected;
    } const cases[] = {
        {"UTC0", "2026-12-10T15:40:05+00:00"},
        {"CET-1CEST,M3.5.0,M10.5.0/3", "2026-12-10T16:40:05+01:00"},
        {"<-0330>3:30", "2026-12-10T12:10:05-03:30"},
        {"<+0545>-5:45", "2026-12-10T21:25:05+05:45"},
    };
    const std::time_t when = 1796917205;  // 2026-12-10 15:40:05 UTC
    for (const Case& c : cases) {
        setenv("TZ", c.tz, 1);
        tzset();
        EXPECT_EQ(IsoLocalTime(when), c.expected) << c.tz;
    }
    // Summer time: the offset of that date, not of today.
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    EXPECT_EQ(IsoLocalTime(1781192405), "2026-06-11T17:40:05+02:00");
    if (saved != nullptr) setenv("TZ", savedTz.c_str(), 1); else unsetenv("TZ");
    tzset();
}

TEST(AppendRecord, LinesFromProcessesAppendingAtOnceStayWhole) {
    test::ScratchDir dir;
    const std::string path = dir.path() + "/station.jsonl";
    constexpr int kLines = 200;
    std::vector<pid_t> children;
    for (const char fill : {'a', 'b'}) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int i = 0; i < kLines; ++i) {
                // Lines of a few bytes up to beyond a page.
                const std::string line =
                    json{{"writer", std::string(1, fill)}, {"i", i}, {"pad", std::string(i * 37 % 6000, fill)}}.dump();
                std::string error;
                if (!AppendRecord(path, line, &error)) _exit(1);
            }
            _exit(0);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const std::string text = FileText(path);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    int count[2] = {0, 0};
    for (const std::string& line : test::SplitLines(text)) {
        const json r = json::parse(line);  // a torn line would not parse
        const std::string writer = r["writer"];
        EXPECT_EQ(r["pad"].get<std::string>().find_first_not_of(writer), std::string::npos);
        ++count[writer == "a" ? 0 : 1];
    }
    EXPECT_EQ(count[0], kLines);
    EXPECT_EQ(count[1], kLines);
}

// A disk that fills up half way through a line: the part written is cut off
// again, so the file holds whole lines only.
TEST(AppendRecord, AShortWriteLeavesNoHalfLine) {
    test::ScratchDir dir;
    const std::string path = dir.path() + "/station.jsonl";
    std::string error;
    ASSERT_TRUE(AppendRecord(path, "{\"first\":1}", &error)) << error;
    const std::string before = FileText(path);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{static_cast<rlim_t>(before.size() + 10), static_cast<rlim_t>(before.size() + 10)};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(3);
        std::string childError;
        if (AppendRecord(path, "{\"second\":\"" + std::string(100, 'x') + "\"}", &childError)) _exit(1);
        _exit(childError.find("short write") != std::string::npos ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(FileText(path), before);
}

TEST(AppendRecord, AFileThatCannotBeOpenedIsReported) {
    test::ScratchDir dir;
    const std::string path = dir.path() + "/no-such-folder/station.jsonl";
    std::string error;
    EXPECT_FALSE(AppendRecord(path, "{}", &error));
    EXPECT_EQ(error, "cannot open " + path + ": No such file or directory");

    // The update's exit status: a success not recorded is a failure, any
    // other status stays.
    UpdateSummary s = UpdatedDevice();
    std::ostringstream err;
    EXPECT_EQ(RecordUpdate(path, s, FrontEnd::Main, err), kExitFailure);
    EXPECT_EQ(err.str(), "pelmark-flash: record: cannot open " + path + ": No such file or directory\n");
    s.exitStatus = kExitInterrupted;
    EXPECT_EQ(RecordUpdate(path, s, FrontEnd::Main, err), kExitInterrupted);
    s.exitStatus = kExitSuccess;
    err.str("");
    EXPECT_EQ(RecordUpdate("", s, FrontEnd::Main, err), kExitSuccess);
    EXPECT_EQ(RecordUpdate(dir.path() + "/station.jsonl", s, FrontEnd::Main, err), kExitSuccess);
    EXPECT_EQ(err.str(), "");
    const json r = json::parse(FileText(dir.path() + "/station.jsonl"));
    EXPECT_EQ(r["front_end"], "main");
    EXPECT_EQ(r["host"], HostName());
}

}  // namespace
}  // namespace pelmark::cli
