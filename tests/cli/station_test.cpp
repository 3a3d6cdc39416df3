// The station's pieces on crafted event lines: the port state they build,
// the plain lines, the live lines and the summary; then the runner with
// stand-in children (shell scripts that print event lines, crash, or wait
// for a stop).
#include <gtest/gtest.h>

#include <CLI/CLI.hpp>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/station.h"
#include "support/scratch.h"

namespace pelmark::cli {
namespace {

PortState Port(const std::string& label = "COM3") {
    PortState p;
    p.label = label;
    return p;
}

std::vector<std::string> Apply(PortState& port, const std::vector<std::string>& lines) {
    std::vector<std::string> plain;
    for (const std::string& line : lines)
        for (std::string& l : ApplyEventLine(port, line)) plain.push_back(std::move(l));
    return plain;
}

TEST(StationEvents, AWholeUpdateFillsThePortState) {
    PortState port = Port();
    const std::vector<std::string> plain = Apply(
        port,
        {R"({"event":"start","port":"COM3","time":0,"device":"/dev/pts/3","front_end":"main","tag":"T","version":"1","pid":42})",
         R"({"event":"text","port":"COM3","time":0.1,"panel":"port","text":"COM3"})",
         R"({"event":"text","port":"COM3","time":0.2,"panel":"device","text":" Found 18F26k80 "})",
         R"({"event":"identity","port":"COM3","time":0.2,"chip":72,"chip_name":"18F26k80","bios":5,"board":5,"board_name":"B","preparation":4})",
         R"({"event":"progress","port":"COM3","time":0.3,"position":52,"min":0,"max":100,"state":"normal","rate":5120})",
         R"({"event":"text","port":"COM3","time":0.4,"panel":"outcome","text":" CHK Error !! "})",
         R"({"event":"outcome","port":"COM3","time":0.5,"success":false,"outcome":"CHK Error !!","seconds":6.25,"frames":300,"resends":5,"refusals":5,"exit_status":1,"hint":null,"passed":0,"failed":1})",
         R"({"event":"end","port":"COM3","time":0.6,"exit_status":1,"passed":0,"failed":1})"});
    EXPECT_EQ(port.devicePath, "/dev/pts/3");
    EXPECT_EQ(port.chip, "18F26k80");
    EXPECT_EQ(port.position, 52);
    EXPECT_EQ(port.max, 100);
    EXPECT_FALSE(port.rate.has_value()) << "no rate once the update has ended";
    EXPECT_EQ(port.updates, 1);
    EXPECT_FALSE(port.success);
    EXPECT_EQ(port.outcome, "CHK Error !!");
    EXPECT_EQ(port.seconds, 6.25);
    EXPECT_EQ(port.frames, 300);
    EXPECT_EQ(port.resends, 5);
    EXPECT_EQ(port.failed, 1);
    EXPECT_TRUE(port.endSeen);
    EXPECT_EQ(port.lastText, "Outcome: CHK Error !!");
    // The port panel names the port again, the outcome text comes once.
    EXPECT_EQ(plain, (std::vector<std::string>{"COM3: Found 18F26k80", "COM3: Outcome: CHK Error !!"}));
}

// What a device sends reaches the screen escaped: the children write each
// byte as the code point of the same number.
TEST(StationEvents, TextsFromTheDeviceAreShownEscaped) {
    PortState port = Port();
    const auto plain = Apply(
        port, {R"({"event":"text","port":"COM3","time":0,"panel":"record","text":"SN\n\u001b[2J\u00e9\\"})",
               R"({"event":"identity","port":"COM3","time":0,"chip_name":"X\u001b[1m"})",
               R"({"event":"outcome","port":"COM3","time":0,"success":true,"outcome":"Program Ok\r\nOutcome: x"})"});
    ASSERT_EQ(plain.size(), 2u);
    EXPECT_EQ(plain[0], "COM3: SN\\x0a\\x1b[2J\\xe9\\\\");
    EXPECT_EQ(port.chip, "X\\x1b[1m");
    EXPECT_EQ(port.outcome, "Program Ok\\x0d\\x0aOutcome: x");
}

// A line that is no event (a stray print, a line cut short, an object
// without a name) is shown as it is, escaped, and changes nothing else.
TEST(StationEvents, LinesThatAreNoEventsAreShownAsText) {
    for (const std::string line : {"hello \x1b[31mworld", "{\"event\":\"outcome\",\"success\":tr", "[1,2]",
                                   "{\"port\":\"COM3\"}", "{\"event\":7}"}) {
        SCOPED_TRACE(line);
        PortState port = Port();
        const auto plain = ApplyEventLine(port, line);
        ASSERT_EQ(plain.size(), 1u);
        EXPECT_EQ(plain[0].find('\x1b'), std::string::npos);
        EXPECT_EQ(port.updates, 0);
        EXPECT_FALSE(port.success);
    }
}

TEST(StationEvents, FieldsOfTheWrongKindAreTakenAsMissing) {
    PortState port = Port();
    Apply(port, {R"({"event":"progress","position":"12","max":null,"rate":"fast","state":3})",
                 R"({"event":"outcome","success":"true","outcome":5,"seconds":"long","frames":-4,"passed":"x"})"});
    EXPECT_EQ(port.position, 0);
    EXPECT_FALSE(port.rate.has_value());
    EXPECT_EQ(port.progressState, "normal");
    EXPECT_FALSE(port.success) << "only a JSON true is a success";
    EXPECT_EQ(port.seconds, 0);
    EXPECT_EQ(port.frames, 0);
    EXPECT_EQ(port.failed, 1) << "counted from the outcome when the child gives no count";
}

// Runs of "Program EEP n" on plain lines: the first, then at most one a
// second (on the child's clock); a different text always.
TEST(StationEvents, FloodTextsAreThinnedOnPlainLines) {
    PortState port = Port();
    const auto text = [](double time, const std::string& t) {
        return R"({"event":"text","panel":"message","time":)" + std::to_string(time) + R"(,"text":")" + t + "\"}";
    };
    const auto plain = Apply(port, {text(0.0, "Program EEP 0"), text(0.5, "Program EEP 1"), text(0.9, "Program EEP 2"),
                                    text(1.1, "Program EEP 3"), text(1.2, "Fix Program"), text(1.3, "Fix Program"),
                                    text(1.4, "Program EEP 4")});
    EXPECT_EQ(plain, (std::vector<std::string>{"COM3: Program EEP 0", "COM3: Program EEP 3", "COM3: Fix Program",
                                               "COM3: Program EEP 4"}));
    EXPECT_EQ(port.lastText, "Program EEP 4") << "the live line shows every text";
}

TEST(StationEvents, WaitingAndPortEventsInLoopMode) {
    PortState port = Port();
    auto plain = Apply(port, {R"({"event":"waiting","for":"device"})", R"({"event":"port","state":"gone"})"});
    EXPECT_TRUE(port.portGone);
    plain = Apply(port, {R"({"event":"port","state":"back"})",
                         R"({"event":"outcome","success":true,"outcome":"Program OK","seconds":2,"frames":10,"passed":1,"failed":0})",
                         R"({"event":"waiting","for":"removal"})",
                         R"({"event":"outcome","success":false,"outcome":"not Response","seconds":1,"frames":3,"passed":1,"failed":1})"});
    EXPECT_FALSE(port.portGone);
    EXPECT_EQ(plain, (std::vector<std::string>{"COM3: port back", "COM3: Outcome: Program OK",
                                               "COM3: waiting for the board's removal",
                                               "COM3: Outcome: not Response"}));
    EXPECT_EQ(port.updates, 2);
    EXPECT_EQ(port.passed, 1);
    EXPECT_EQ(port.failed, 1);
    EXPECT_EQ(port.seconds, 3);
    EXPECT_EQ(port.frames, 13);
}

TEST(StationEvents, AChildThatEndsWithoutAnOutcomeFailed) {
    struct Case {
        int status, signal;
        const char* outcome;
    } const cases[] = {{137, SIGKILL, "failed (pelmark-flash ended without an outcome: SIGKILL)"},
                       {139, SIGSEGV, "failed (pelmark-flash ended without an outcome: SIGSEGV)"},
                       {2, 0, "failed (pelmark-flash ended without an outcome: exit status 2)"},
                       {0, 0, "failed (pelmark-flash ended without an outcome: exit status 0)"}};
    for (const Case& c : cases) {
        PortState port = Port();
        ApplyEventLine(port, R"({"event":"progress","position":5,"max":10})");
        const auto plain = ApplyChildEnd(port, c.status, c.signal);
        EXPECT_EQ(port.outcome, c.outcome);
        EXPECT_EQ(plain, std::vector<std::string>{std::string("COM3: Outcome: ") + c.outcome});
        EXPECT_EQ(port.failed, 1);
        EXPECT_FALSE(port.success);
        EXPECT_EQ(port.exitStatus, c.status);
    }
    // With its outcome told, the end changes only the status; without the
    // end event (a loop that broke off) it is said.
    PortState port = Port();
    ApplyEventLine(port, R"({"event":"outcome","success":true,"outcome":"Program OK","passed":1,"failed":0})");
    EXPECT_EQ(ApplyChildEnd(port, 137, SIGKILL),
              std::vector<std::string>{"COM3: pelmark-flash ended without its end event: SIGKILL"});
    ApplyEventLine(port, R"({"event":"end","exit_status":0,"passed":1,"failed":0})");
    EXPECT_TRUE(ApplyChildEnd(port, 0, 0).empty());
    EXPECT_EQ(port.outcome, "Program OK");
    EXPECT_EQ(port.failed, 0);
}

TEST(StationLines, SplitLinesAreJoined) {
    LineSplitter s;
    EXPECT_TRUE(s.Feed("{\"event\":").empty());
    EXPECT_EQ(s.Feed("\"start\"}\r\n{\"ev"), std::vector<std::string>{"{\"event\":\"start\"}"});
    EXPECT_EQ(s.Feed("ent\":\"end\"}\n\nlast"), (std::vector<std::string>{"{\"event\":\"end\"}", ""}));
    EXPECT_EQ(s.Finish(), std::optional<std::string>("last"));
    EXPECT_EQ(s.Finish(), std::nullopt);
}

TEST(StationRender, LiveLinesShowEveryPortInColumns) {
    PortState a = Port("COM3");
    Apply(a, {R"({"event":"identity","chip_name":"18F26k80"})",
              R"({"event":"progress","position":52,"min":0,"max":100,"rate":5120})",
              R"x({"event":"text","panel":"message","text":"Program 00123 (0007b)"})x"});
    PortState b = Port("COM12");
    Apply(b, {R"({"event":"progress","position":300,"min":200,"max":200,"state":"error"})"});
    const auto lines = LiveLines({a, b}, 200, false);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "COM3   18F26k80  [######------]  52%    5120 B/s  Program 00123 (0007b)");
    EXPECT_EQ(lines[1], "COM12  -         [------------]   0%              error");

    const auto loop = LiveLines({a}, 200, true);
    EXPECT_NE(loop[0].find("passed 0 failed 0  Program 00123"), std::string::npos) << loop[0];
    for (const int width : {80, 40, 10, 1}) {
        for (const std::string& line : LiveLines({a, b}, width, true))
            EXPECT_LT(line.size(), static_cast<std::size_t>(std::max(width, 1))) << width;
    }
    // A full bar at the end.
    Apply(a, {R"({"event":"progress","position":100,"min":0,"max":100})"});
    EXPECT_NE(LiveLines({a}, 200, false)[0].find("[############] 100%"), std::string::npos);
}

// The front end empties its bar before it shows the outcome: the live line
// keeps how far the update got, full for a success.
TEST(StationRender, TheBarAfterTheOutcomeShowsHowFarTheUpdateGot) {
    const auto ended = [](bool success) {
        PortState p = Port();
        Apply(p, {R"({"event":"progress","position":30,"min":0,"max":100,"rate":900})",
                  R"({"event":"progress","position":60,"min":0,"max":100,"rate":900})",
                  R"({"event":"progress","position":0,"min":0,"max":100,"rate":null})",
                  std::string(R"({"event":"outcome","success":)") + (success ? "true" : "false") +
                      R"(,"outcome":"X"})"});
        return LiveLines({p}, 200, false).front();
    };
    EXPECT_NE(ended(true).find("[############] 100%"), std::string::npos) << ended(true);
    EXPECT_NE(ended(false).find("[#######-----]  60%"), std::string::npos) << ended(false);
    EXPECT_EQ(ended(false).find("B/s"), std::string::npos) << "no rate once ended";

    // The next board's bar starts afresh.
    PortState p = Port();
    Apply(p, {R"({"event":"progress","position":60,"min":0,"max":100})", R"({"event":"outcome","success":true})",
              R"({"event":"progress","position":0,"min":0,"max":100})"});
    EXPECT_NE(LiveLines({p}, 200, false).front().find("   0%"), std::string::npos);
}

TEST(StationRender, TheLiveBlockIsRedrawnInPlace) {
    EXPECT_EQ(LiveBlock({"a", "b"}, 0), "\r\033[Ka\n\r\033[Kb\n");
    EXPECT_EQ(LiveBlock({"a", "b"}, 2, {"COM3: hint"}), "\033[2A\r\033[KCOM3: hint\n\r\033[Ka\n\r\033[Kb\n");
    EXPECT_EQ(LiveBlock({"a"}, 3), "\033[3A\r\033[Ka\n\033[J");
}

TEST(StationRender, SummaryTable) {
    PortState ok = Port("COM3");
    Apply(ok, {R"({"event":"identity","chip_name":"18F26k80"})",
               R"({"event":"outcome","success":true,"outcome":"Program OK","seconds":6.54,"frames":1148,"resends":0,"passed":1,"failed":0})"});
    ApplyChildEnd(ok, 0, 0);
    PortState bad = Port("COM104");
    ApplyChildEnd(bad, 137, SIGKILL);
    EXPECT_EQ(SummaryLines({ok, bad}, false),
              (std::vector<std::string>{
                  "PORT    DEVICE    OUTCOME                                                   SECONDS  FRAMES  RESENDS",
                  "COM3    18F26k80  Program OK                                                    6.5    1148        0",
                  "COM104  -         failed (pelmark-flash ended without an outcome: SIGKILL)      0.0       0        0",
                  "1 of 2 ports updated"}));
    const auto loop = SummaryLines({ok, bad}, true);
    EXPECT_NE(loop[0].find("RESENDS  PASSED  FAILED"), std::string::npos) << loop[0];
    EXPECT_EQ(loop.back(), "1 boards passed, 1 failed on 2 ports");
}

TEST(StationExit, StatusOfTheWholeRun) {
    const auto ended = [](int status) {
        PortState p = Port();
        p.exited = true;
        p.exitStatus = status;
        return p;
    };
    struct Case {
        std::vector<int> statuses;
        int stopSignal, expected;
    } const cases[] = {{{0, 0, 0}, 0, 0},   {{0, 1}, 0, 1},        {{0, 130}, SIGINT, 130},
                       {{0, 0}, SIGTERM, 0}, {{143, 143}, SIGTERM, 143}, {{1, 129}, SIGHUP, 129},
                       {{0, 2}, 0, 1}};
    for (const Case& c : cases) {
        std::vector<PortState> ports;
        for (const int s : c.statuses) ports.push_back(ended(s));
        EXPECT_EQ(StationExitStatus(ports, c.stopSignal), c.expected);
    }
    PortState running = Port();
    EXPECT_EQ(StationExitStatus({running}, 0), 1) << "a child that never ended did not succeed";
}

TEST(StationOptionsTest, PerPortFileNames) {
    const std::pair<const char*, const char*> cases[] = {
        {"trace.txt", "trace-COM3.txt"},   {"logs/run.d/trace", "logs/run.d/trace-COM3"},
        {"a.b.json", "a.b-COM3.json"},     {".trace", ".trace-COM3"},
        {"/tmp/x/.rec.csv", "/tmp/x/.rec-COM3.csv"}};
    for (const auto& [path, expected] : cases) EXPECT_EQ(PerPortPath(path, "COM3"), expected) << path;
}

TEST(StationOptionsTest, LabelsAndBadPorts) {
    EXPECT_EQ(PortLabel("com7"), "COM7");
    EXPECT_EQ(PortLabel("/dev/nothing-here/ttyXY9"), "ttyXY9");
    EXPECT_EQ(StationPortError({"COM3", "com4"}), "");
    EXPECT_NE(StationPortError({"COM3", "com3"}).find("named twice"), std::string::npos);
    EXPECT_NE(StationPortError({"COM3", ""}).find("empty"), std::string::npos);
    EXPECT_NE(StationPortError({"COM0", "COM3"}), "");
}

// The children get what the station was given, with --json; flags without
// a value, one record file for all, a trace file per port; --quiet and the
// ports stay with the station.
TEST(StationOptionsTest, ForwardedOptions) {
    CLI::App app;
    std::vector<std::string> ports;
    std::string frontEnd, record, trace;
    bool fast = false, loop = false, wait = false, quiet = false;
    app.add_option("-p,--port", ports)->allow_extra_args(false);
    app.add_option("--front-end", frontEnd);
    app.add_flag("--fast", fast);
    app.add_flag("--loop", loop);
    app.add_flag("--wait", wait);
    app.add_flag("-q,--quiet", quiet);
    app.add_option("--record", record);
    app.add_option("--trace", trace);
    const char* argv[] = {"pelmark-flash", "-p", "COM3", "--port", "/dev/nothing-here/ttyXY9", "--loop",
                          "--front-end", "loader", "--quiet", "--record", "boards.jsonl", "--trace", "out/trace.txt",
                          "--fast"};
    app.parse(static_cast<int>(std::size(argv)), const_cast<char**>(argv));

    StationOptions options = StationOptionsFrom(app, ports, quiet);
    options.program = "/bin/child";
    EXPECT_TRUE(options.loop);
    EXPECT_TRUE(options.quiet);
    EXPECT_EQ(ChildArguments(options, 0),
              (std::vector<std::string>{"/bin/child", "--port", "COM3", "--json", "--front-end", "loader", "--fast",
                                        "--loop", "--record", "boards.jsonl", "--trace", "out/trace-COM3.txt"}));
    EXPECT_EQ(ChildArguments(options, 1).back(), "out/trace-ttyXY9.txt");
}

// The runner with stand-in children: a shell script that gets the child's
// arguments ($2 is the port) and behaves as the script's case for that
// port says.
class StationRun : public ::testing::Test {
protected:
    test::ScratchDir dir{"pelmark-station"};

    std::string Script(const std::string& body) {
        const std::string path = dir / "child.sh";
        std::ofstream(path) << "#!/bin/sh\n" << body;
        chmod(path.c_str(), 0755);
        return path;
    }

    int Run(const std::string& program, const std::vector<std::string>& ports, std::string& out, std::string& err,
            const std::function<void()>& during = {}, bool terminal = false) {
        StationOptions options;
        options.ports = ports;
        options.program = program;
        std::ostringstream o, e;
        std::thread side;
        if (during) side = std::thread(during);
        const int status = RunStation(options, o, e, terminal);
        if (side.joinable()) side.join();
        out = o.str();
        err = e.str();
        return status;
    }
};

TEST_F(StationRun, EveryPortRunsToItsOwnEnd) {
    const std::string child = Script(R"(
case "$2" in
COM3)
  printf '{"event":"start","port":"COM3","time":0,"device":"/dev/pts/9"}\n{"event":"text","panel":"device",'
  sleep 0.2
  printf '"text":"Found 18F26k80"}\n'
  printf '{"event":"outcome","success":true,"outcome":"Program OK","seconds":1.5,"frames":12,"resends":2,"passed":1,"failed":0}\n'
  printf '{"event":"end","exit_status":0,"passed":1,"failed":0}'
  exit 0;;
COM4)
  echo 'cannot \033[2J open' >&2
  kill -9 $$;;
COM5)
  echo "$3 $4 $5" >&2
  exit 1;;
esac)");
    std::string out, err;
    const int status = Run(child, {"COM3", "COM4", "COM5"}, out, err);
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.find("COM3: Found 18F26k80\nCOM3: Outcome: Program OK\n"), std::string::npos) << out;
    EXPECT_NE(out.find("COM4: Outcome: failed (pelmark-flash ended without an outcome: SIGKILL)\n"),
              std::string::npos) << out;
    EXPECT_NE(out.find("COM3  -       Program OK"), std::string::npos) << out;
    EXPECT_NE(out.find("1.5      12        2"), std::string::npos) << out;
    EXPECT_NE(out.find("failed (pelmark-flash ended without an outcome: exit status 1)"), std::string::npos);
    EXPECT_NE(out.find("\n1 of 3 ports updated\n"), std::string::npos) << out;
    EXPECT_NE(err.find("COM4: cannot \\x1b[2J open\n"), std::string::npos) << err;
    EXPECT_NE(err.find("COM5: --json  \n"), std::string::npos) << "the child's own arguments: " << err;
    EXPECT_EQ(out.find('\x1b'), std::string::npos);
}

// A stop signal reaches every child once; each reports its stop and the
// station waits for all of them.
TEST_F(StationRun, AStopSignalIsForwardedOnceToEveryChild) {
    const std::string child = Script(R"(
stops=0
trap 'stops=$((stops+1))' INT
echo '{"event":"start"}'
while [ $stops -eq 0 ]; do sleep 0.05; done
sleep 0.3
echo "{\"event\":\"outcome\",\"success\":false,\"outcome\":\"User Abort !!\",\"stops\":$stops}"
echo "stopped $stops times" >&2
exit 130
)");
    std::string out, err;
    const auto started = std::chrono::steady_clock::now();
    const int status = Run(child, {"COM3", "COM4"}, out, err, [] {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        kill(getpid(), SIGINT);
    });
    EXPECT_EQ(status, 130);
    EXPECT_NE(out.find("COM3: Outcome: User Abort !!"), std::string::npos) << out;
    EXPECT_NE(out.find("COM4: Outcome: User Abort !!"), std::string::npos) << out;
    EXPECT_NE(err.find("COM3: stopped 1 times"), std::string::npos) << err;
    EXPECT_NE(err.find("COM4: stopped 1 times"), std::string::npos) << err;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

// A second signal ends children that do not stop.
TEST_F(StationRun, ASecondSignalEndsEveryChildAtOnce) {
    const std::string child = Script(R"(
trap '' INT TERM
echo '{"event":"start"}'
while true; do sleep 0.05; done
)");
    std::string out, err;
    const auto started = std::chrono::steady_clock::now();
    const int status = Run(child, {"COM3", "COM4"}, out, err, [] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        kill(getpid(), SIGTERM);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        kill(getpid(), SIGINT);
    });
    EXPECT_EQ(status, 143) << "the first signal decides";
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_NE(err.find("every port ended at once"), std::string::npos) << err;
}

// On a terminal: live lines redrawn in place, a child's standard error
// above them, the final lines and the summary below.
TEST_F(StationRun, OnATerminalLiveLinesAreRedrawn) {
    const std::string child = Script(R"(
printf '{"event":"identity","chip_name":"18F26k80"}\n{"event":"progress","position":1,"max":4}\n'
sleep 0.3
echo 'hint: slow' >&2
sleep 0.3
printf '{"event":"progress","position":4,"max":4}\n{"event":"outcome","success":true,"outcome":"Program OK"}\n'
)");
    std::string out, err;
    EXPECT_EQ(Run(child, {"COM3", "COM4"}, out, err, {}, true), 0);
    EXPECT_EQ(err, "");
    EXPECT_NE(out.find("\033[2A\r\033[KCOM"), std::string::npos) << "drawn again over the two lines";
    EXPECT_NE(out.find("\r\033[KCOM3: hint: slow\n"), std::string::npos) << out;
    const std::size_t summary = out.find("\nPORT ");
    ASSERT_NE(summary, std::string::npos) << out;
    const std::string last = "\r\033[KCOM4  18F26k80  [############] 100%              Outcome: Program OK\n";
    EXPECT_EQ(out.rfind(last), summary - last.size()) << out;
}

TEST_F(StationRun, AChildThatCannotStartFails) {
    std::string out, err;
    EXPECT_EQ(Run(dir / "no-such-program", {"COM3"}, out, err), 1);
    EXPECT_NE(out.find("COM3: Outcome: failed (pelmark-flash"), std::string::npos) << out;
}

}  // namespace
}  // namespace pelmark::cli
