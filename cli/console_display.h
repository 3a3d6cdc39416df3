// The console front end's display: every text the engine shows, printed one
// line each in the order shown, the way the chosen front end would show it.
//
//   main     [status] / [outcome] for the outcome label, [port] [message]
//            [device] [info] for the status-bar panels, [identity] and
//            [record] for the identity lines.
//   upgrade  everything lands in the status bar: [message] (outcomes too),
//            [port], [device] (the device panel is panel 3).
//   loader   [status] / [outcome] for the message line, "HW : " and "BS : "
//            for the hardware and bootloader lines; its status bar is hidden,
//            so panel texts are not printed.
//
// Texts are printed without their surrounding spaces. Runs of "Try %d",
// "Program %05d (%05x)" and "Program EEP %d" print their first text, then at
// most one a second, and the last one before a different text; a text that
// repeats the line just printed is not printed again. The last line is
// "Outcome: <text>". On a terminal a one-line progress bar is redrawn in place
// below the texts; elsewhere no control characters are written.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>

#include "shell/display.h"
#include "shell/texts.h"

namespace pelmark::cli {

class ConsoleDisplay;

// Seconds on a monotonic clock.
using Clock = std::function<double()>;
double SteadySeconds();

class ConsoleProgressBar : public ProgressBar {
public:
    explicit ConsoleProgressBar(ConsoleDisplay& display) : display_(display) {}
    void SetMin(int value) override;
    void SetMax(int value) override;
    void SetPosition(int value) override;
    int Position() const override { return position_; }
    int Max() const override { return max_; }
    void SetSmooth(bool smooth) override { smooth_ = smooth; }
    void SetState(ProgressState state) override;

    int Min() const { return min_; }
    ProgressState State() const { return state_; }

private:
    ConsoleDisplay& display_;
    int min_ = 0;
    int max_ = 100;
    int position_ = 0;
    bool smooth_ = false;
    ProgressState state_ = ProgressState::Normal;
};

class ConsoleStatusBar : public StatusBar {
public:
    explicit ConsoleStatusBar(ConsoleDisplay& display) : display_(display) {}
    void SetPanelText(int panel, const char* text) override;
    void Repaint() override {}

private:
    ConsoleDisplay& display_;
};

// Where the texts go instead of the text lines (pelmark-flash --json): every
// text the front end shows, with its panel and its exact bytes, and the
// progress bar's changes.
class EventSink {
public:
    virtual ~EventSink() = default;
    // `panel`: "port", "message", "device", "info", "status", "outcome",
    // "identity", "record", "firmware", "hardware", "bootloader", "error",
    // "hint".
    virtual void Text(const char* panel, const std::string& text) = 0;
    // `rate`: bytes a second since the phase began, negative while unknown.
    virtual void Progress(int position, int min, int max, ProgressState state, double rate) = 0;
};

struct ConsoleOptions {
    bool terminal = false;  // standard output is a terminal: draw the progress bar
    bool quiet = false;     // standard output carries the outcome line only
    // Set: every text and progress change goes here, and nothing to standard
    // output (no text lines, no bar, no outcome line).
    EventSink* events = nullptr;
};

// What the run came to, judged from what the front end showed.
struct Verdict {
    bool success = false;
    std::string text;  // without surrounding spaces
};

// Kinds of running texts that come in floods.
enum class Flood { None, Try, ProgramRow, ProgramEeprom };
Flood FloodKind(const std::string& text);

// The text without leading and trailing spaces.
std::string Trimmed(const char* text);

// The text as the console prints it: printable ASCII as it is, a backslash
// as "\\", every other byte (control characters, DEL, bytes from 0x80 on)
// as "\xNN" with two lower-case hex digits.
std::string Escaped(const std::string& text);

class ConsoleDisplay : public Display {
public:
    ConsoleDisplay(FrontEnd frontEnd, std::ostream& out, std::ostream& err, ConsoleOptions options,
                   Clock clock = SteadySeconds);
    ~ConsoleDisplay() override;
    ConsoleDisplay(const ConsoleDisplay&) = delete;
    ConsoleDisplay& operator=(const ConsoleDisplay&) = delete;

    // The front end's own progress bar and status bar, handed to the engine.
    ConsoleProgressBar& Progress() { return progress_; }
    ConsoleStatusBar& Status() { return status_; }

    FrontEnd Showing() const override { return frontEnd_; }
    void ShowOutcome(const char* text, Colour colour, std::uint8_t code) override;
    void ShowStatus(const char* text, Colour colour) override;
    void ShowBusy() override;
    void ShowIdle() override;
    void ShowImageKind(bool) override {}
    void HideOutcomeLabel() override;
    StatusBar* MainStatusBar() override;
    void SetIdentityField(IdentityField field, const char* text) override;
    void HideIdentityField(IdentityField) override {}
    void MessageBox(const char* text, const char* caption) override;
    void PumpEvents() override {
        if (pump_) pump_();
    }
    // Called in every slice of the engine's waits (nullptr: nothing).
    void SetPumpHook(std::function<void()> pump) { pump_ = std::move(pump); }
    // A hint line for the operator: standard error, or an event.
    void ShowHint(const std::string& hint);

    // The Loader window's firmware line, set once at creation.
    void ShowFirmwareLine(const char* tag);
    // The Loader window's reset before every update: message line back to
    // its guiding text (not printed), hardware and bootloader lines emptied.
    void ResetLoaderMessage(const char* guide = text::kLoaderGuide);

    // Called with "Invalid Port Com" shown; returns the hint line (empty: none)
    // printed on the error stream.
    void SetInvalidPortHint(std::function<std::string()> hint) { invalidPortHint_ = std::move(hint); }
    // Bytes per progress step for the rate on the terminal's progress bar.
    void SetStepBytes(std::function<int()> stepBytes) { stepBytes_ = std::move(stepBytes); }

    // A line of the station's own (waiting, a port gone): printed like a
    // text, also after Finish; nothing with --quiet or events.
    void Note(const std::string& line);
    // The next update of a station run begins: what the last one showed is
    // forgotten, and texts print again.
    void BeginUpdate();

    Verdict Judge() const;
    // Prints what is still held back, clears the progress bar and prints the
    // outcome line; returns the verdict.
    Verdict Finish();

    // Called by the progress bar on every change.
    void ProgressChanged(bool phaseStart);
    // Called by the status bar.
    void PanelText(int panel, const char* text);

private:
    // One text the front end shows on `panel`; `line` is its text line.
    void Show(const char* panel, const char* text, const std::string& line, Flood flood);
    // The rate of the current phase, bytes a second; negative while unknown.
    double PhaseRate(double now) const;
    void Emit(const std::string& line, Flood flood);
    void WriteLine(const std::string& line);
    void FlushHeld();
    void EraseBar();
    void DrawBar(bool force);
    std::string PanelName(int panel) const;

    FrontEnd frontEnd_;
    std::ostream& out_;
    std::ostream& err_;
    ConsoleOptions options_;
    Clock clock_;
    ConsoleProgressBar progress_;
    ConsoleStatusBar status_;
    std::function<std::string()> invalidPortHint_;
    std::function<int()> stepBytes_;
    std::function<void()> pump_;
    double lastEventProgress_ = -1;

    // Output state.
    std::string lastLine_;
    Flood lastFlood_ = Flood::None;
    double lastFloodPrint_ = 0;
    std::string heldLine_;  // the latest flood text not yet printed
    bool barDrawn_ = false;
    double lastBarDraw_ = -1;
    int phaseStartPosition_ = 0;
    double phaseStartTime_ = 0;

    // What the front end shows, for the verdict.
    bool busy_ = false;
    bool outcomeShown_ = false;  // main: outcome label showing an outcome
    std::string outcomeText_;
    std::uint8_t outcomeCode_ = kOutcomeFailure;
    std::string messageText_;  // main and Upgrade: message panel
    std::string lineText_;     // Loader: message line
    Colour lineColour_ = clBlack;
    bool lineIsStatus_ = false;
    bool finished_ = false;
};

}  // namespace pelmark::cli
