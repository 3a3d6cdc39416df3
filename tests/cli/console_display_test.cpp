// The console display: what lands on standard output and standard error for
// each front end, flood thinning, the progress bar, and the verdict.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "bootloader/engine.h"
#include "cli/console_display.h"
#include "shell/panels.h"
#include "support/lines.h"

namespace pelmark::cli {
namespace {

using test::SplitLines;

bool HasControlCharacters(const std::string& text) {
    for (char c : text)
        if (c != '\n' && (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)) return true;
    return false;
}

// A console display on string streams with a clock the test moves.
class Console {
public:
    explicit Console(FrontEnd frontEnd, ConsoleOptions options = {})
        : display(frontEnd, out, err, options, [this] { return static_cast<double>(nowMs) / 1000.0; }) {
        ResetEngineState();
        if (frontEnd == FrontEnd::Upgrade) g_panels.device = 3;
    }
    ~Console() { ResetEngineState(); }

    std::vector<std::string> Lines() const { return SplitLines(out.str()); }
    void Message(const char* text) { display.Status().SetPanelText(g_panels.message, text); }

    std::ostringstream out;
    std::ostringstream err;
    long long nowMs = 0;
    ConsoleDisplay display;
};

TEST(ConsoleText, TrimmedDropsSurroundingSpacesOnly) {
    EXPECT_EQ(Trimmed(" Program Ok "), "Program Ok");
    EXPECT_EQ(Trimmed(" User Abort !! "), "User Abort !!");
    EXPECT_EQ(Trimmed("Try 0"), "Try 0");
    EXPECT_EQ(Trimmed(" "), "");
    EXPECT_EQ(Trimmed(nullptr), "");
}

TEST(ConsoleText, FloodKinds) {
    struct Case {
        const char* text;
        Flood kind;
    };
    const Case cases[] = {
        {"Try 0", Flood::Try},
        {"Try 99", Flood::Try},
        {"Program 00000 (00000)", Flood::ProgramRow},
        {"Program 32704 (07fc0)", Flood::ProgramRow},
        {"Program EEP 0", Flood::ProgramEeprom},
        {"Program EEP 255", Flood::ProgramEeprom},
        {"Program OK", Flood::None},
        {"Programming...", Flood::None},
        {"Try", Flood::None},
        {"Try again", Flood::None},
        {"Program 00064 (0004g)", Flood::None},
        {"Program 00064", Flood::None},
        {"Fix Program", Flood::None},
        {"Resend 1", Flood::None},
    };
    for (const Case& c : cases) EXPECT_EQ(FloodKind(c.text), c.kind) << c.text;
}

// One text, one line: every byte that is not printable ASCII shows as \xNN,
// a backslash as "\\", so the printed form always tells which bytes came.
TEST(ConsoleText, EscapedShowsEveryByteThatIsNotPrintable) {
    struct Case {
        std::string text;
        const char* shown;
    };
    const Case cases[] = {
        {"SN 2016-0512 ~!", "SN 2016-0512 ~!"},
        {"\nOutcome: Program Ok\n", "\\x0aOutcome: Program Ok\\x0a"},
        {"\x1b[2J\x1b]0;owned\x07", "\\x1b[2J\\x1b]0;owned\\x07"},
        {"a\tb\rc", "a\\x09b\\x0dc"},
        {"\x7f\x80\x9b\xff", "\\x7f\\x80\\x9b\\xff"},
        {"C:\\x1b", "C:\\\\x1b"},  // a text that spells an escape is not one
        {"\\", "\\\\"},
        {std::string("\x01\x1f ", 3), "\\x01\\x1f "},
    };
    for (const Case& c : cases) EXPECT_EQ(Escaped(c.text), c.shown) << c.shown;
}

// A search of 100 tries, 100 ms apart, ending without an answer, as the main
// updater window shows it.
void NoAnswerSearch(Console& c) {
    c.display.HideOutcomeLabel();
    c.display.Status().SetPanelText(g_panels.port, "COM9");
    c.display.ShowBusy();
    c.display.Progress().SetState(ProgressState::Paused);
    c.display.Progress().SetMax(100);
    for (int i = 0; i < 100; ++i) {
        c.Message(("Try " + std::to_string(i)).c_str());
        c.nowMs += 100;
    }
    c.display.Progress().SetState(ProgressState::Normal);
    c.display.Progress().SetPosition(0);
    c.Message("Device not Found");
    c.display.ShowIdle();
}

TEST(ConsoleDisplayPipe, SearchFloodIsThinnedToAboutOneTextASecond) {
    Console c(FrontEnd::Main);
    NoAnswerSearch(c);
    const Verdict v = c.display.Finish();

    const std::vector<std::string> lines = c.Lines();
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines.front(), "[port] COM9");
    EXPECT_EQ(lines[1], "[message] Try 0");
    // Ten seconds of tries: one text a second, then the last try before the
    // next text, never the hundred texts.
    EXPECT_LE(lines.size(), 16u);
    EXPECT_EQ(lines[lines.size() - 3], "[message] Try 99");
    EXPECT_EQ(lines[lines.size() - 2], "[message] Device not Found");
    EXPECT_EQ(lines.back(), "Outcome: Device not Found");
    EXPECT_FALSE(v.success);
    EXPECT_FALSE(HasControlCharacters(c.out.str()));
}

TEST(ConsoleDisplayPipe, FastFloodsPrintTheirFirstAndLastText) {
    Console c(FrontEnd::Main);
    for (int row = 0; row < 512; ++row) {
        char text[40];
        std::snprintf(text, sizeof text, "Program %05d (%05x)", row * 64, row * 64);
        c.Message(text);
        c.display.Progress().SetPosition(row * 64);
    }
    c.Message("Fix Program");
    for (int i = 0; i < 256; ++i) c.Message(("Program EEP " + std::to_string(i)).c_str());
    c.display.ShowOutcome(" Program Ok ", clGreen, kOutcomeSuccess);
    c.display.ShowIdle();
    c.display.Finish();

    const std::vector<std::string> expected = {
        "[message] Program 00000 (00000)", "[message] Program 32704 (07fc0)", "[message] Fix Program",
        "[message] Program EEP 0",         "[message] Program EEP 255",       "[outcome] Program Ok",
        "Outcome: Program Ok",
    };
    EXPECT_EQ(c.Lines(), expected);
    EXPECT_FALSE(HasControlCharacters(c.out.str()));
}

TEST(ConsoleDisplayPipe, FloodOfOneKindEndsWhereAnotherKindBegins) {
    Console c(FrontEnd::Main);
    c.display.ShowBusy();
    c.Message("Program 00000 (00000)");
    c.Message("Program 00064 (00040)");
    c.Message("Program EEP 0");
    c.Message("Program EEP 1");
    c.display.Finish();
    const std::vector<std::string> expected = {
        "[message] Program 00000 (00000)", "[message] Program 00064 (00040)",
        "[message] Program EEP 0",         "[message] Program EEP 1",
        "Outcome: failed (no outcome shown by the main updater front end)",
    };
    EXPECT_EQ(c.Lines(), expected);
}

TEST(ConsoleDisplayPipe, RepeatedTextIsPrintedOnce) {
    Console c(FrontEnd::Upgrade);
    c.display.ShowBusy();
    for (int i = 0; i < 100; ++i) {
        c.Message("Search Device");
        c.nowMs += 100;
    }
    c.Message("Device not Found");
    c.display.ShowIdle();
    c.display.Finish();
    const std::vector<std::string> expected = {"[message] Search Device", "[message] Device not Found",
                                               "Outcome: Device not Found"};
    EXPECT_EQ(c.Lines(), expected);
}

TEST(ConsoleDisplayPipe, ProgressBarWritesNothingOnAPipe) {
    Console c(FrontEnd::Main);
    c.display.Progress().SetMax(1000);
    for (int i = 0; i <= 1000; i += 10) {
        c.display.Progress().SetPosition(i);
        c.nowMs += 50;
    }
    c.display.Progress().SetState(ProgressState::Error);
    EXPECT_EQ(c.out.str(), "");
}

TEST(ConsoleDisplayPipe, EachFrontEndNamesItsOwnPlaces) {
    {
        Console c(FrontEnd::Main);
        c.display.Status().SetPanelText(g_panels.device, "Found 18F26k80");
        c.display.Status().SetPanelText(g_panels.info, "Loaded 65536 bytes (0000 TO FE40)");
        c.display.SetIdentityField(IdentityField::IdentityLine, "BIOS:05 - Board - Preparation04");
        c.display.SetIdentityField(IdentityField::DeviceText, "SN 1234");
        c.display.ShowStatus(" Programming... ", clBtnFace);
        c.display.ShowOutcome(" CHK Error !! ", clRed, kOutcomeFailure);
        const std::vector<std::string> expected = {
            "[device] Found 18F26k80", "[info] Loaded 65536 bytes (0000 TO FE40)",
            "[identity] BIOS:05 - Board - Preparation04", "[record] SN 1234", "[status] Programming...",
            "[outcome] CHK Error !!",
        };
        EXPECT_EQ(c.Lines(), expected);
        EXPECT_EQ(c.display.MainStatusBar(), &c.display.Status());
    }
    {
        Console c(FrontEnd::Upgrade);
        c.display.ShowBusy();
        c.display.Status().SetPanelText(g_panels.device, " ");  // the busy front end blanks the device panel
        c.display.Status().SetPanelText(3, "Found 2580");
        c.display.Status().SetPanelText(2, "never written by this front end");
        c.display.SetIdentityField(IdentityField::IdentityLine, "BIOS:05");
        c.display.ShowStatus(" Programming... ", clBtnFace);
        c.display.ShowOutcome(" not Response ", clRed, kOutcomeFailure);
        const std::vector<std::string> expected = {
            "[device] Found 2580",
            "[panel 2] never written by this front end",
            "[message] Programming...",
            "[message] not Response",
        };
        EXPECT_EQ(c.Lines(), expected);
        EXPECT_EQ(c.display.MainStatusBar(), nullptr);
    }
    {
        Console c(FrontEnd::Loader);
        c.display.ShowFirmwareLine("PX 2B 01.00");
        c.display.Status().SetPanelText(g_panels.message, "Device not Found");  // hidden status bar
        c.display.Status().SetPanelText(g_panels.device, "Found 18F26k80");
        c.display.SetIdentityField(IdentityField::Hardware, "Board - 0x04");
        c.display.SetIdentityField(IdentityField::Bootloader, "0x05");
        c.display.ShowStatus("Search Device", clBlack);
        c.display.ShowOutcome(" User Abort !! ", clRed, kOutcomeFailure);
        const std::vector<std::string> expected = {
            "FW : PX 2B 01.00",      "HW : Board - 0x04",      "BS : 0x05",
            "[status] Search Device", "[outcome] User Abort !!",
        };
        EXPECT_EQ(c.Lines(), expected);
        EXPECT_EQ(c.display.MainStatusBar(), nullptr);
    }
}

// What a device sends (its record text above all) is shown, never obeyed:
// no line of its own, no terminal sequence, no outcome line that is not one.
TEST(ConsoleDisplayPipe, DeviceTextsAreShownEscapedOnOneLine) {
    for (const bool terminal : {false, true}) {
        SCOPED_TRACE(terminal ? "terminal" : "pipe");
        ConsoleOptions options;
        options.terminal = terminal;
        Console c(FrontEnd::Main, options);
        c.display.SetIdentityField(IdentityField::DeviceText, "SN\nOutcome: Program Ok\n\x1b[2J\x1b[1A");
        c.display.Status().SetPanelText(g_panels.info, "\x1b]0;title\x07 info");
        c.display.ShowStatus("\rProgramming...", clBtnFace);
        c.display.MessageBox("Unable\nto\x1b[31m open", "Error");
        c.display.ShowOutcome(" not Response ", clRed, kOutcomeFailure);
        c.display.Finish();
        const std::vector<std::string> expected = {
            "[record] SN\\x0aOutcome: Program Ok\\x0a\\x1b[2J\\x1b[1A",
            "[info] \\x1b]0;title\\x07 info",
            "[status] \\x0dProgramming...",
            "[outcome] not Response",
            "Outcome: not Response",
        };
        EXPECT_EQ(c.Lines(), expected);
        EXPECT_EQ(c.err.str(), "Error: Unable\\x0ato\\x1b[31m open\n");
        if (!terminal) {
            EXPECT_FALSE(HasControlCharacters(c.out.str()));
        }
    }
}

TEST(ConsoleDisplayPipe, QuietPrintsOnlyTheOutcomeLine) {
    ConsoleOptions options;
    options.quiet = true;
    Console c(FrontEnd::Main, options);
    NoAnswerSearch(c);
    c.display.Finish();
    EXPECT_EQ(c.out.str(), "Outcome: Device not Found\n");
}

TEST(ConsoleDisplayPipe, MessageBoxGoesToStandardError) {
    Console c(FrontEnd::Main);
    c.display.MessageBox("Unable to configure the serial port", "Error");
    EXPECT_EQ(c.err.str(), "Error: Unable to configure the serial port\n");
    EXPECT_EQ(c.out.str(), "");
}

TEST(ConsoleDisplayPipe, InvalidPortAddsTheHintOnStandardError) {
    Console c(FrontEnd::Loader);
    int asked = 0;
    c.display.SetInvalidPortHint([&] {
        ++asked;
        return std::string("hint: COM9 (/dev/ttyUSB0) is not present");
    });
    c.display.ShowOutcome(" Program Ok ", clGreen, kOutcomeSuccess);
    EXPECT_EQ(asked, 0);
    c.display.ShowOutcome("Invalid Port Com", clRed, kOutcomeFailure);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(c.err.str(), "hint: COM9 (/dev/ttyUSB0) is not present\n");
}

TEST(ConsoleDisplayPipe, HeldFloodTextComesBeforeAnErrorOnStandardError) {
    // Both streams may be one file (2>&1): the held text must reach it first.
    std::ostringstream both;
    long long nowMs = 0;
    ConsoleDisplay d(FrontEnd::Main, both, both, {}, [&] { return static_cast<double>(nowMs) / 1000.0; });
    ResetEngineState();
    d.Status().SetPanelText(g_panels.message, "Try 0");
    d.Status().SetPanelText(g_panels.message, "Try 1");
    d.MessageBox("Unable to set the time-out parameters", "Error");
    EXPECT_EQ(both.str(), "[message] Try 0\n[message] Try 1\nError: Unable to set the time-out parameters\n");
}

// ---- verdicts ----------------------------------------------------------------

struct VerdictCase {
    const char* name;
    FrontEnd frontEnd;
    std::function<void(ConsoleDisplay&)> run;
    bool success;
    const char* outcome;
};

void Search(ConsoleDisplay& d) {
    d.HideOutcomeLabel();
    d.ShowBusy();
}

void Panel(ConsoleDisplay& d, const char* text) { d.Status().SetPanelText(g_panels.message, text); }

void PrintTo(const VerdictCase& c, std::ostream* os) { *os << c.name; }

class VerdictTest : public ::testing::TestWithParam<VerdictCase> {};

TEST_P(VerdictTest, JudgedFromWhatTheFrontEndShowed) {
    const VerdictCase& vc = GetParam();
    Console c(vc.frontEnd);
    vc.run(c.display);
    const Verdict v = c.display.Finish();
    EXPECT_EQ(v.success, vc.success);
    EXPECT_EQ(v.text, vc.outcome);
    EXPECT_EQ(c.Lines().back(), std::string("Outcome: ") + vc.outcome);
}

const VerdictCase kVerdictCases[] = {
    {"MainProgramOk", FrontEnd::Main,
     [](ConsoleDisplay& d) {
         Search(d);
         d.ShowStatus(" Programming... ", clBtnFace);
         d.ShowOutcome(" Program Ok ", clGreen, kOutcomeSuccess);
         d.ShowIdle();
     },
     true, "Program Ok"},
    {"MainChecksumError", FrontEnd::Main,
     [](ConsoleDisplay& d) {
         Search(d);
         d.ShowStatus(" Programming... ", clBtnFace);
         d.ShowOutcome(" CHK Error !! ", clRed, kOutcomeFailure);
     },
     false, "CHK Error !!"},
    {"MainInvalidPort", FrontEnd::Main,
     [](ConsoleDisplay& d) {
         d.HideOutcomeLabel();
         d.ShowOutcome("Invalid Port Com", clRed, kOutcomeFailure);
         d.ShowBusy();
         d.ShowIdle();
     },
     false, "Invalid Port Com"},
    {"MainStillProgrammingIsNoSuccess", FrontEnd::Main,
     [](ConsoleDisplay& d) {
         d.ShowOutcome(" Program Ok ", clGreen, kOutcomeSuccess);  // an earlier run's outcome
         Search(d);
         d.ShowStatus(" Programming... ", clBtnFace);
     },
     false, "failed (no outcome shown by the main updater front end)"},
    {"UpgradeProgramOk", FrontEnd::Upgrade,
     [](ConsoleDisplay& d) {
         Search(d);
         Panel(d, "Search Device");
         d.ShowStatus(" Programming... ", clBtnFace);
         Panel(d, "Program OK");
         d.ShowIdle();
     },
     true, "Program OK"},
    {"UpgradeSecondCycleStopped", FrontEnd::Upgrade,
     [](ConsoleDisplay& d) {
         Search(d);
         Panel(d, "Program OK");
         d.ShowIdle();
         Search(d);
         Panel(d, "Search Device");
         d.ShowOutcome(" User Abort !! ", clRed, kOutcomeFailure);
     },
     false, "User Abort !!"},
    {"UpgradeNoHexInsideLeavesItBusy", FrontEnd::Upgrade,
     [](ConsoleDisplay& d) {
         Search(d);
         Panel(d, "Search Device");
     },
     false, "failed (no outcome shown by the Upgrade front end)"},
    {"UpgradeDeviceNotFound", FrontEnd::Upgrade,
     [](ConsoleDisplay& d) {
         Search(d);
         Panel(d, "Search Device");
         Panel(d, "Device not Found");
         d.ShowIdle();
     },
     false, "Device not Found"},
    {"LoaderSuccessfullyUpdated", FrontEnd::Loader,
     [](ConsoleDisplay& d) {
         d.ResetLoaderMessage();
         Search(d);
         d.ShowStatus("Search Device", clBlack);
         d.ShowStatus(" Programming... ", clBtnFace);
         d.ShowStatus("Successfully updated", clGreen);
         d.ShowIdle();
     },
     true, "Successfully updated"},
    {"LoaderPortNotValid", FrontEnd::Loader,
     [](ConsoleDisplay& d) {
         d.ResetLoaderMessage();
         d.ShowOutcome("Invalid Port Com", clRed, kOutcomeFailure);
         d.ShowBusy();
         d.ShowIdle();
         d.ShowStatus("Port not valid. Select a new port.", clRed);
     },
     false, "Port not valid. Select a new port."},
    {"LoaderNotFound", FrontEnd::Loader,
     [](ConsoleDisplay& d) {
         d.ResetLoaderMessage();
         Search(d);
         d.ShowStatus("Search Device", clBlack);
         d.ShowIdle();
         d.ShowStatus("The device is not find.", clBlack);
     },
     false, "The device is not find."},
    {"LoaderFailureAfterSearch", FrontEnd::Loader,
     [](ConsoleDisplay& d) {
         d.ResetLoaderMessage();
         Search(d);
         d.ShowStatus(" Programming... ", clBtnFace);
         d.ShowOutcome(" Hex too Big !! ", clRed, kOutcomeFailure);
     },
     false, "Hex too Big !!"},
};

INSTANTIATE_TEST_SUITE_P(FrontEnds, VerdictTest, ::testing::ValuesIn(kVerdictCases),
                         [](const ::testing::TestParamInfo<VerdictCase>& p) { return p.param.name; });

// ---- terminal ----------------------------------------------------------------

TEST(ConsoleDisplayTerminal, BarIsRedrawnInPlaceAtMostTenTimesASecond) {
    ConsoleOptions options;
    options.terminal = true;
    Console c(FrontEnd::Main, options);
    c.display.SetStepBytes([] { return 2; });
    ProgressBar& bar = c.display.Progress();
    bar.SetPosition(0);
    bar.SetMax(10000);
    // One step a millisecond for two seconds.
    for (int i = 1; i <= 2000; ++i) {
        c.nowMs += 1;
        bar.SetPosition(i);
    }
    const std::string shown = c.out.str();
    int draws = 0;
    for (char ch : shown)
        if (ch == '\r') ++draws;
    EXPECT_GE(draws, 15);
    EXPECT_LE(draws, 25);
    // The last drawing: 20 % of the way, 2 bytes per step at 1000 steps a second.
    const std::string last = shown.substr(shown.rfind('\r'));
    EXPECT_NE(last.find(" 19%"), std::string::npos) << last;
    EXPECT_NE(last.find("2000 B/s"), std::string::npos) << last;
    EXPECT_EQ(shown.find('\n'), std::string::npos);
}

TEST(ConsoleDisplayTerminal, TextLineClearsTheBarAndTheBarComesBack) {
    ConsoleOptions options;
    options.terminal = true;
    Console c(FrontEnd::Upgrade, options);
    c.display.ShowBusy();
    ProgressBar& bar = c.display.Progress();
    bar.SetState(ProgressState::Paused);
    bar.SetMax(100);
    bar.SetPosition(100);
    c.out.str("");
    c.Message("Search Device");
    const std::string shown = c.out.str();
    EXPECT_EQ(shown.rfind("\r\033[K[message] Search Device\n", 0), 0u) << shown;
    EXPECT_NE(shown.find("searching", shown.find('\n')), std::string::npos) << shown;

    bar.SetPosition(0);  // the search ended: the bar goes away
    c.out.str("");
    c.display.Finish();
    EXPECT_EQ(c.out.str(), "Outcome: failed (no outcome shown by the Upgrade front end)\n");
}

}  // namespace
}  // namespace pelmark::cli
