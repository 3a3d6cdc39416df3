#include "cli/console_display.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ostream>

#include "shell/panels.h"
#include "shell/texts.h"

namespace pelmark::cli {

namespace {

constexpr double kFloodInterval = 1.0;  // seconds between two texts of one flood
constexpr double kBarInterval = 0.1;    // the bar is redrawn at most ten times a second
constexpr int kBarWidth = 30;
constexpr const char* kEraseLine = "\r\033[K";

bool AllDigits(const std::string& s, std::size_t from, std::size_t to) {
    if (from >= to) return false;
    for (std::size_t i = from; i < to; ++i)
        if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
    return true;
}

bool AllHexDigits(const std::string& s, std::size_t from, std::size_t to) {
    if (from >= to) return false;
    for (std::size_t i = from; i < to; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(s[i]))) return false;
    return true;
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

double SteadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::string Trimmed(const char* text) {
    if (text == nullptr) return {};
    std::string s(text);
    const std::size_t first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const std::size_t last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

std::string Escaped(const std::string& text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(text.size());
    for (const char ch : text) {
        const auto b = static_cast<unsigned char>(ch);
        if (b == '\\') {
            shown += "\\\\";
        } else if (b >= 0x20 && b < 0x7F) {
            shown += ch;
        } else {
            shown += "\\x";
            shown += kHex[b >> 4];
            shown += kHex[b & 0x0F];
        }
    }
    return shown;
}

Flood FloodKind(const std::string& text) {
    if (StartsWith(text, "Try ") && AllDigits(text, 4, text.size())) return Flood::Try;
    if (StartsWith(text, "Program EEP ") && AllDigits(text, 12, text.size())) return Flood::ProgramEeprom;
    if (StartsWith(text, "Program ")) {
        // "Program 00123 (0007b)"
        const std::size_t open = text.find(" (", 8);
        if (open != std::string::npos && text.back() == ')' && AllDigits(text, 8, open) &&
            AllHexDigits(text, open + 2, text.size() - 1))
            return Flood::ProgramRow;
    }
    return Flood::None;
}

// ---- progress bar and status bar adapters -----------------------------------------

void ConsoleProgressBar::SetMin(int value) {
    min_ = value;
    display_.ProgressChanged(true);
}

void ConsoleProgressBar::SetMax(int value) {
    max_ = value;
    display_.ProgressChanged(true);
}

void ConsoleProgressBar::SetPosition(int value) {
    position_ = value;
    display_.ProgressChanged(value <= min_);
}

void ConsoleProgressBar::SetState(ProgressState state) {
    state_ = state;
    display_.ProgressChanged(true);
}

void ConsoleStatusBar::SetPanelText(int panel, const char* text) { display_.PanelText(panel, text); }

// ---- the display ---------------------------------------------------------------

ConsoleDisplay::ConsoleDisplay(FrontEnd frontEnd, std::ostream& out, std::ostream& err, ConsoleOptions options,
                               Clock clock)
    : frontEnd_(frontEnd),
      out_(out),
      err_(err),
      options_(options),
      clock_(std::move(clock)),
      progress_(*this),
      status_(*this),
      stepBytes_([] { return 1; }) {}

ConsoleDisplay::~ConsoleDisplay() { EraseBar(); }

std::string ConsoleDisplay::PanelName(int panel) const {
    if (panel == g_panels.port) return "port";
    if (panel == g_panels.message) return "message";
    if (panel == g_panels.device) return "device";
    if (panel == g_panels.info) return "info";
    return "panel " + std::to_string(panel);
}

void ConsoleDisplay::PanelText(int panel, const char* text) {
    if (panel == g_panels.message) messageText_ = text ? text : "";
    // The Loader window's status bar is hidden: its texts are never seen.
    if (frontEnd_ == FrontEnd::Loader) return;
    const std::string name = PanelName(panel);
    const std::string shown = Trimmed(text);
    Show(name.c_str(), text, shown.empty() ? std::string() : "[" + name + "] " + shown, FloodKind(shown));
}

void ConsoleDisplay::Show(const char* panel, const char* text, const std::string& line, Flood flood) {
    if (options_.events != nullptr) {
        if (!finished_) options_.events->Text(panel, text ? text : "");
        return;
    }
    if (!line.empty()) Emit(line, flood);  // empty: a blanked panel
}

void ConsoleDisplay::ShowHint(const std::string& hint) {
    if (hint.empty()) return;
    if (options_.events != nullptr) {
        options_.events->Text("hint", hint);
        return;
    }
    FlushHeld();
    EraseBar();
    out_.flush();
    err_ << Escaped(hint) << '\n' << std::flush;
}

void ConsoleDisplay::ShowOutcome(const char* text, Colour colour, std::uint8_t code) {
    busy_ = false;
    const std::string shown = Trimmed(text);
    switch (frontEnd_) {
        case FrontEnd::Loader:
            lineText_ = text;
            lineColour_ = colour;
            lineIsStatus_ = false;
            Show("outcome", text, shown.empty() ? shown : "[outcome] " + shown, Flood::None);
            break;
        case FrontEnd::Upgrade:
            messageText_ = text;
            Show("message", text, shown.empty() ? shown : "[message] " + shown, Flood::None);
            break;
        case FrontEnd::Main:
            outcomeShown_ = true;
            outcomeText_ = text;
            outcomeCode_ = code;
            Show("outcome", text, shown.empty() ? shown : "[outcome] " + shown, Flood::None);
            break;
    }
    if (std::strcmp(text, text::kInvalidPortCom) == 0 && invalidPortHint_) ShowHint(invalidPortHint_());
}

void ConsoleDisplay::ShowStatus(const char* text, Colour colour) {
    const std::string shown = Trimmed(text);
    switch (frontEnd_) {
        case FrontEnd::Loader:
            lineText_ = text;
            lineColour_ = colour == clBtnFace ? clBlack : colour;
            lineIsStatus_ = true;
            Show("status", text, shown.empty() ? shown : "[status] " + shown, FloodKind(shown));
            break;
        case FrontEnd::Upgrade:
            messageText_ = text;
            Show("message", text, shown.empty() ? shown : "[message] " + shown, FloodKind(shown));
            break;
        case FrontEnd::Main:
            // The outcome label now carries a running status, not an outcome.
            outcomeShown_ = false;
            Show("status", text, shown.empty() ? shown : "[status] " + shown, FloodKind(shown));
            break;
    }
}

void ConsoleDisplay::ShowBusy() { busy_ = true; }

void ConsoleDisplay::ShowIdle() { busy_ = false; }

void ConsoleDisplay::HideOutcomeLabel() { outcomeShown_ = false; }

StatusBar* ConsoleDisplay::MainStatusBar() {
    // The main updater window's status bar is seen only when that window leads.
    return frontEnd_ == FrontEnd::Main ? &status_ : nullptr;
}

void ConsoleDisplay::SetIdentityField(IdentityField field, const char* text) {
    const std::string shown = Trimmed(text);
    const auto line = [&shown](const char* prefix) { return shown.empty() ? shown : prefix + shown; };
    switch (frontEnd_) {
        case FrontEnd::Loader:
            if (field == IdentityField::Hardware) Show("hardware", text, line("HW : "), Flood::None);
            if (field == IdentityField::Bootloader) Show("bootloader", text, line("BS : "), Flood::None);
            break;
        case FrontEnd::Upgrade:
            break;  // the Upgrade window has no identity lines
        case FrontEnd::Main:
            if (field == IdentityField::IdentityLine) Show("identity", text, line("[identity] "), Flood::None);
            if (field == IdentityField::DeviceText) Show("record", text, line("[record] "), Flood::None);
            break;
    }
}

void ConsoleDisplay::MessageBox(const char* text, const char*) {
    if (options_.events != nullptr) {
        options_.events->Text("error", text ? text : "");
        return;
    }
    FlushHeld();
    EraseBar();
    out_.flush();
    err_ << "Error: " << Escaped(text) << '\n' << std::flush;
}

void ConsoleDisplay::ShowFirmwareLine(const char* tag) { Show("firmware", tag, "FW : " + Trimmed(tag), Flood::None); }

void ConsoleDisplay::ResetLoaderMessage(const char* guide) {
    lineText_ = guide;
    lineColour_ = clBlack;
    lineIsStatus_ = false;
}

void ConsoleDisplay::Note(const std::string& line) {
    if (options_.quiet || options_.events != nullptr) return;
    FlushHeld();
    lastFlood_ = Flood::None;
    WriteLine(line);
}

void ConsoleDisplay::BeginUpdate() {
    EraseBar();
    lastLine_.clear();
    lastFlood_ = Flood::None;
    heldLine_.clear();
    lastEventProgress_ = -1;
    busy_ = false;
    outcomeShown_ = false;
    outcomeText_.clear();
    outcomeCode_ = kOutcomeFailure;
    messageText_.clear();
    lineText_.clear();
    lineColour_ = clBlack;
    lineIsStatus_ = false;
    finished_ = false;
}

Verdict ConsoleDisplay::Judge() const {
    switch (frontEnd_) {
        case FrontEnd::Loader:
            if (busy_ || lineText_.empty()) return {false, "failed (no outcome shown by the Loader front end)"};
            return {lineIsStatus_ && lineColour_ == clGreen && lineText_ == text::kLoaderUpdated, Trimmed(lineText_.c_str())};
        case FrontEnd::Upgrade:
            // " No Hex inside !! " and " Hex too Big !! " are shown nowhere in
            // this front end: the window stays busy.
            if (busy_ || messageText_.empty()) return {false, "failed (no outcome shown by the Upgrade front end)"};
            return {messageText_ == text::kUpgradeProgramOk, Trimmed(messageText_.c_str())};
        case FrontEnd::Main:
            if (outcomeShown_) return {outcomeCode_ == kOutcomeSuccess, Trimmed(outcomeText_.c_str())};
            if (!busy_ && !messageText_.empty()) return {false, Trimmed(messageText_.c_str())};
            return {false, "failed (no outcome shown by the main updater front end)"};
    }
    return {false, "failed"};
}

Verdict ConsoleDisplay::Finish() {
    FlushHeld();
    EraseBar();
    finished_ = true;
    Verdict v = Judge();
    if (v.text.empty()) v.text = v.success ? "done" : "failed";
    if (options_.events == nullptr) out_ << "Outcome: " << Escaped(v.text) << '\n' << std::flush;
    return v;
}

// ---- output ------------------------------------------------------------------

void ConsoleDisplay::Emit(const std::string& line, Flood flood) {
    if (options_.quiet || finished_) return;
    const double now = clock_();
    if (flood != Flood::None && flood == lastFlood_) {
        if (now - lastFloodPrint_ >= kFloodInterval) {
            heldLine_.clear();
            WriteLine(line);
            lastFloodPrint_ = now;
        } else {
            heldLine_ = line;
        }
        return;
    }
    FlushHeld();
    lastFlood_ = flood;
    if (flood != Flood::None) lastFloodPrint_ = now;
    if (line == lastLine_) return;  // the same text again shows nothing new
    WriteLine(line);
}

void ConsoleDisplay::FlushHeld() {
    if (heldLine_.empty()) return;
    std::string line;
    line.swap(heldLine_);
    WriteLine(line);
}

void ConsoleDisplay::WriteLine(const std::string& line) {
    EraseBar();
    // The texts may come from the device (its record text): shown, never
    // obeyed, and never more than the one line.
    out_ << Escaped(line) << '\n' << std::flush;
    lastLine_ = line;
    DrawBar(true);
}

void ConsoleDisplay::EraseBar() {
    if (!barDrawn_) return;
    out_ << kEraseLine << std::flush;
    barDrawn_ = false;
}

void ConsoleDisplay::ProgressChanged(bool phaseStart) {
    if (finished_) return;
    if (options_.events == nullptr && (!options_.terminal || options_.quiet)) return;
    const double now = clock_();
    if (phaseStart) {
        phaseStartPosition_ = progress_.Position();
        phaseStartTime_ = now;
    }
    if (options_.events == nullptr) {
        DrawBar(phaseStart);
        return;
    }
    // Every phase start and the bar's end; the rest at most ten times a second.
    const bool last = progress_.Position() >= progress_.Max();
    if (!phaseStart && !last && lastEventProgress_ >= 0 && now - lastEventProgress_ < kBarInterval) return;
    lastEventProgress_ = now;
    options_.events->Progress(progress_.Position(), progress_.Min(), progress_.Max(), progress_.State(),
                              PhaseRate(now));
}

double ConsoleDisplay::PhaseRate(double now) const {
    const double elapsed = now - phaseStartTime_;
    const int steps = progress_.Position() - phaseStartPosition_;
    if (elapsed < 0.2 || steps <= 0) return -1;
    return static_cast<double>(steps) * stepBytes_() / elapsed;
}

void ConsoleDisplay::DrawBar(bool force) {
    if (!options_.terminal || options_.quiet || finished_) return;
    const int min = progress_.Min();
    const int max = progress_.Max();
    const int pos = progress_.Position();
    if (max <= min || pos <= min) {
        EraseBar();
        return;
    }
    const double now = clock_();
    if (!force && barDrawn_ && now - lastBarDraw_ < kBarInterval) return;

    const double fraction = std::clamp(static_cast<double>(pos - min) / static_cast<double>(max - min), 0.0, 1.0);
    const int filled = static_cast<int>(fraction * kBarWidth + 0.5);
    std::string bar = "[";
    bar.append(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kBarWidth - filled), '-');
    bar += "]";

    char tail[64] = "";
    switch (progress_.State()) {
        case ProgressState::Paused:
            std::snprintf(tail, sizeof tail, " searching");
            break;
        case ProgressState::Error:
            std::snprintf(tail, sizeof tail, " %3d%% stopped", static_cast<int>(fraction * 100.0));
            break;
        case ProgressState::Normal: {
            const double rate = PhaseRate(now);
            if (rate >= 0) {
                std::snprintf(tail, sizeof tail, " %3d%% %8.0f B/s", static_cast<int>(fraction * 100.0), rate);
            } else {
                std::snprintf(tail, sizeof tail, " %3d%%", static_cast<int>(fraction * 100.0));
            }
            break;
        }
    }
    out_ << '\r' << bar << tail << "\033[K" << std::flush;
    barDrawn_ = true;
    lastBarDraw_ = now;
}

}  // namespace pelmark::cli
