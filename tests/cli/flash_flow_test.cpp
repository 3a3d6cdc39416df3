// The front-end flows of the console on an in-process port: creation flags,
// what a failed or stopped update prints, and the exit status.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <deque>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bootloader/engine.h"
#include "cli/flash_flow.h"
#include "cli/port_choice.h"
#include "cli/port_latency.h"
#include "cli/quiet_port.h"
#include "serial/backend.h"
#include "serial/port_link.h"
#include "shell/panels.h"
#include "support/lines.h"

namespace pelmark::cli {
namespace {

using test::SplitLines;

TEST(ExitStatus, FromVerdictAndStopSignal) {
    struct Case {
        bool success;
        int stopSignal;
        int status;
    };
    const Case cases[] = {
        {true, 0, 0},
        {false, 0, 1},
        {false, SIGINT, 130},
        {false, SIGTERM, 143},
        {false, 1, 129},  // SIGHUP
        {true, SIGINT, 0},  // the device was updated before the stop was seen
        {true, SIGTERM, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ExitStatusFor({c.success, "x"}, c.stopSignal), c.status) << c.stopSignal;
}

// The exit status follows the engine's record of how the search and the pass
// ended, not the texts shown.
TEST(DeviceUpdated, FromTheEnginesEndRecord) {
    struct Case {
        EndKind search;
        EndKind pass;
        bool updated;
    };
    const Case cases[] = {
        {EndKind::Success, EndKind::Success, true},
        {EndKind::None, EndKind::None, false},
        {EndKind::Failed, EndKind::None, false},
        {EndKind::Stopped, EndKind::None, false},
        {EndKind::Success, EndKind::Failed, false},
        {EndKind::Success, EndKind::Stopped, false},
        {EndKind::Success, EndKind::Skipped, false},
        // A multi-image run whose next search failed after a good pass.
        {EndKind::Failed, EndKind::Success, false},
    };
    for (const Case& c : cases) {
        ResetEngineState();
        g_searchEnd.kind = c.search;
        g_passEnd.kind = c.pass;
        EXPECT_EQ(DeviceUpdated(), c.updated) << static_cast<int>(c.search) << " " << static_cast<int>(c.pass);
    }
    ResetEngineState();
}

TEST(PortList, AnAdaptersOwnTextIsShownEscaped) {
    EXPECT_EQ(PortListLine("COM1", "ttyS0 (COM1)", -1), "COM1\tttyS0 (COM1)");
    EXPECT_EQ(PortListLine("COM9", "USB \x1b[2JSerial\n (COM9)", -1), "COM9\tUSB \\x1b[2JSerial\\x0a (COM9)");
    EXPECT_EQ(PortListLine("COM9", "a\tb", 16), "COM9\ta\\x09b\tlatency 16 ms");  // one tab only: the separator
}

TEST(FrontEndNames, NamedAndChosenByTag) {
    EXPECT_EQ(FrontEndNamed("main"), FrontEnd::Main);
    EXPECT_EQ(FrontEndNamed("upgrade"), FrontEnd::Upgrade);
    EXPECT_EQ(FrontEndNamed("loader"), FrontEnd::Loader);
    EXPECT_EQ(FrontEndNamed("Loader"), std::nullopt);
    EXPECT_EQ(FrontEndFor(ChooseFrontEnd("VRN 1C 01.04.03.00")), FrontEnd::Upgrade);
    EXPECT_EQ(FrontEndFor(ChooseFrontEnd("PX 2B")), FrontEnd::Loader);
    EXPECT_EQ(FrontEndFor(ChooseFrontEnd("PX500 2B")), FrontEnd::Main);
    for (FrontEnd fe : {FrontEnd::Main, FrontEnd::Upgrade, FrontEnd::Loader})
        EXPECT_EQ(FrontEndNamed(FrontEndName(fe)), fe);
}


// A bootloader that acknowledges every frame and answers the Upgrade search
// byte with the identity of the next chip of its list; once the list is used
// up it no longer answers the search.
class AnsweringDevice : public QuietPort {
public:
    std::vector<std::uint8_t> chips;
    std::size_t searchesAnswered = 0;
    std::deque<std::uint8_t> replies;

    bool Write(serial::Handle h, const std::uint8_t* bytes, std::uint32_t count) override {
        QuietPort::Write(h, bytes, count);
        if (count == 1 && bytes[0] == 0xC5) {
            if (searchesAnswered >= chips.size()) return true;
            const std::uint8_t chip = chips[searchesAnswered++];
            replies.insert(replies.end(), {'V', 5, chip, 5, 4, 'K'});  // bootloader 5, board 5, preparation 4
        } else if (!(count == 1 && (bytes[0] == 0xC2 || bytes[0] == 0xC6))) {
            replies.push_back('K');
        }
        return true;
    }
    bool Read(serial::Handle, std::uint8_t* buffer, std::uint32_t max, std::uint32_t* got) override {
        std::uint32_t n = 0;
        while (n < max && !replies.empty()) {
            buffer[n++] = replies.front();
            replies.pop_front();
        }
        *got = n;
        return true;
    }
};

// The engine's sleeps move the display's clock instead of taking time.
long long g_clockMs = 0;
void ClockSleep(int ms) { g_clockMs += ms; }

class Flow : public ::testing::Test {
protected:
    void SetUp() override {
        ResetEngineState();
        g_clockMs = 0;
        SetSleepFunction(ClockSleep);
        serial::SetBackend(&port);
    }
    void TearDown() override {
        ComPortCloseAll();
        SetDisplay(nullptr);
        serial::SetBackend(nullptr);
        SetSleepFunction(nullptr);
        ResetEngineState();
    }

    // Creates the front end on COM5 and runs one update.
    Verdict Run(FrontEnd frontEnd, const char* tag) {
        display = std::make_unique<ConsoleDisplay>(frontEnd, out, err, ConsoleOptions{},
                                                   [] { return static_cast<double>(g_clockMs) / 1000.0; });
        display->SetInvalidPortHint(SelectedPortOpenHint);
        SetDisplay(display.get());
        CreateFrontEnd(*display, tag);
        g_portIndex = 4;
        g_openPortIndex = 3;
        RunFrontEnd(*display);
        Verdict v = display->Finish();
        EXPECT_EQ(DeviceUpdated(), v.success) << "the engine's record and the texts shown disagree";
        return v;
    }

    int SearchBytes(std::uint8_t value) const {
        int n = 0;
        for (std::uint8_t b : port.written) n += b == value;
        return n;
    }

    AnsweringDevice port;  // answers nothing until given chips
    std::ostringstream out;
    std::ostringstream err;
    std::unique_ptr<ConsoleDisplay> display;
};

TEST_F(Flow, CreationSetsTheFrontEndsFlags) {
    struct Case {
        FrontEnd frontEnd;
        const char* tag;
        bool multiImage;
        bool alternateSearch;
        int devicePanel;
        const char* firstLine;
    };
    const Case cases[] = {
        {FrontEnd::Upgrade, "VRN YKP 1.0", true, false, 3, ""},
        {FrontEnd::Upgrade, "VRN 1C 01.04.03.00", false, false, 3, ""},
        {FrontEnd::Loader, "GNV 2 1.0", false, true, 2, "FW : GNV 2 1.0"},
        {FrontEnd::Loader, "MORIC DLM", false, true, 2, "FW : MORIC DLM"},
        {FrontEnd::Loader, "PX 2B 1.0", false, false, 2, "FW : PX 2B 1.0"},
        {FrontEnd::Main, "LUX15.4 00.04 YKP GNV", false, false, 2, ""},
    };
    for (const Case& c : cases) {
        std::ostringstream o;
        g_multiImage = true;  // left over from an earlier front end
        g_alternateSearch = true;
        ConsoleDisplay d(c.frontEnd, o, err, ConsoleOptions{});
        CreateFrontEnd(d, c.tag);
        EXPECT_EQ(g_multiImage, c.multiImage) << c.tag;
        EXPECT_EQ(g_alternateSearch, c.alternateSearch) << c.tag;
        EXPECT_EQ(g_panels.device, c.devicePanel) << c.tag;
        EXPECT_EQ(o.str(), *c.firstLine ? std::string(c.firstLine) + "\n" : "") << c.tag;
    }
}

TEST_F(Flow, MainWithNoDeviceThinsTheTriesAndEndsDeviceNotFound) {
    const Verdict v = Run(FrontEnd::Main, "LUX15.4 00.04");
    EXPECT_FALSE(v.success);
    EXPECT_EQ(SearchBytes(0xC2), 100);
    const std::vector<std::string> lines = SplitLines(out.str());
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[0], "[port] COM5");
    EXPECT_EQ(lines[1], "[message] Try 0");
    EXPECT_LE(lines.size(), 16u);  // ten seconds of tries: about one text a second
    EXPECT_EQ(lines[lines.size() - 3], "[message] Try 99");
    EXPECT_EQ(lines[lines.size() - 2], "[message] Device not Found");
    EXPECT_EQ(lines.back(), "Outcome: Device not Found");
    EXPECT_EQ(ExitStatusFor(v, 0), kExitFailure);
}

TEST_F(Flow, LoaderWithNoDeviceShowsItsOwnText) {
    const Verdict v = Run(FrontEnd::Loader, "GNV 2 1.0");
    EXPECT_FALSE(v.success);
    EXPECT_EQ(SearchBytes(0xC6), 100);  // the alternate search byte
    const std::vector<std::string> expected = {"FW : GNV 2 1.0", "[status] Search Device",
                                               "[status] The device is not find.",
                                               "Outcome: The device is not find."};
    EXPECT_EQ(SplitLines(out.str()), expected);
}

TEST_F(Flow, LoaderPortThatCannotBeOpenedGivesTheHint) {
    port.failOpen = true;
    const Verdict v = Run(FrontEnd::Loader, "PX 2B 1.0");
    EXPECT_FALSE(v.success);
    const std::vector<std::string> expected = {"FW : PX 2B 1.0", "[outcome] Invalid Port Com",
                                               "[status] Port not valid. Select a new port.",
                                               "Outcome: Port not valid. Select a new port."};
    EXPECT_EQ(SplitLines(out.str()), expected);
    const std::vector<std::string> errors = SplitLines(err.str());
    ASSERT_EQ(errors.size(), 1u) << err.str();
    EXPECT_NE(errors[0].find("COM5"), std::string::npos) << errors[0];
    EXPECT_NE(errors[0].find("Permission denied"), std::string::npos) << errors[0];
    // What follows depends on this machine's /dev/ttyS4 (its owner, group
    // and mode where it exists): the hint's own tests cover it.
    EXPECT_EQ(errors[0].rfind("hint: no permission to open COM5 (/dev/ttyS4): Permission denied", 0), 0u)
        << errors[0];
}

TEST_F(Flow, UpgradeLoopEndsWhenTheSearchFails) {
    const Verdict v = Run(FrontEnd::Upgrade, "VRN YKP 1.0");
    EXPECT_FALSE(v.success);
    EXPECT_EQ(port.written.size(), 100u);
    EXPECT_EQ(SearchBytes(0xC5), 100);
    const std::vector<std::string> expected = {"[port] COM5", "[message] Search Device",
                                               "[message] Device not Found", "Outcome: Device not Found"};
    EXPECT_EQ(SplitLines(out.str()), expected);
}

TEST_F(Flow, InterruptEndsTheUpdateWithUserAbortAndStatus130) {
    g_stopRequest = true;  // what the Ctrl+C handler stores
    const Verdict v = Run(FrontEnd::Upgrade, "VRN YKP 1.0");
    EXPECT_FALSE(v.success);
    EXPECT_EQ(port.written.size(), 1u);
    EXPECT_EQ(v.text, "User Abort !!");
    EXPECT_EQ(SplitLines(out.str()).back(), "Outcome: User Abort !!");
    EXPECT_EQ(ExitStatusFor(v, SIGINT), kExitInterrupted);
}

// The build carries a PIC18F26K80 image (slot 9) and a PIC24HJ128 image
// (slot 7): with several images the START loop programs one device after the
// other without being started again, and ends when none is pending.
TEST_F(Flow, UpgradeWithSeveralImagesProgramsUntilNoneIsPending) {
    port.chips = {0x48, 0xFD, 0x48};
    const Verdict v = Run(FrontEnd::Upgrade, "VRN YKP 1.0");
    EXPECT_EQ(port.searchesAnswered, 2u);
    EXPECT_TRUE(v.success) << out.str();
    EXPECT_EQ(v.text, "Program OK");
    int programOk = 0;
    for (const std::string& line : SplitLines(out.str())) programOk += line == "[message] Program OK";
    EXPECT_EQ(programOk, 2) << out.str();
}

TEST_F(Flow, UpgradeWithOneImageProgramsOnce) {
    port.chips = {0x48, 0xFD};
    const Verdict v = Run(FrontEnd::Upgrade, "VRN 1C 01.04.03.00");
    EXPECT_EQ(port.searchesAnswered, 1u);
    EXPECT_TRUE(v.success) << out.str();
    EXPECT_EQ(SplitLines(out.str()).back(), "Outcome: Program OK");
}

}  // namespace
}  // namespace pelmark::cli
