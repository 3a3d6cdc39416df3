#include "cli/station.h"

#include <CLI/CLI.hpp>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/port_choice.h"
#include "serial/port_map.h"

extern char** environ;

namespace pelmark::cli {

namespace {

using nlohmann::json;

// The children write every byte of a text as the code point of the same
// number; this gives the bytes back. Other code points stay as their UTF-8.
std::string TextBytes(const std::string& utf8) {
    std::string bytes;
    bytes.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const auto next = i + 1 < utf8.size() ? static_cast<unsigned char>(utf8[i + 1]) : 0;
        if ((lead == 0xC2 || lead == 0xC3) && (next & 0xC0) == 0x80) {
            bytes += static_cast<char>(((lead & 0x03) << 6) | (next & 0x3F));
            ++i;
        } else {
            bytes += utf8[i];
        }
    }
    return bytes;
}

std::string Str(const json& j, const char* key) {
    const auto it = j.find(key);
    return it != j.end() && it->is_string() ? TextBytes(it->get<std::string>()) : std::string();
}

std::optional<double> Number(const json& j, const char* key) {
    const auto it = j.find(key);
    if (it == j.end() || !it->is_number()) return std::nullopt;
    return it->get<double>();
}

long Whole(const json& j, const char* key, long otherwise = 0) {
    const std::optional<double> n = Number(j, key);
    return n && std::isfinite(*n) && std::fabs(*n) < 1e15 ? static_cast<long>(*n) : otherwise;
}

// Spaces around a text are the front end's layout, not its content.
std::string Shown(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const std::size_t last = text.find_last_not_of(" \t");
    return Escaped(text.substr(first, last - first + 1));
}

std::string PlainLine(const PortState& port, const std::string& text) { return port.label + ": " + text; }

std::string SignalName(int signo) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 32)
    if (const char* abbrev = sigabbrev_np(signo)) return std::string("SIG") + abbrev;
#endif
    return "signal " + std::to_string(signo);
}

std::string Padded(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

std::string RightAligned(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string Fixed(double value, int decimals) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

}  // namespace

std::string PortLabel(const std::string& argument) {
    if (const std::optional<int> index = ParseComName(argument)) return "COM" + std::to_string(*index + 1);
    if (argument.find('/') != std::string::npos) {
        const int number = serial::ComNumberForPath(argument);
        if (number >= 1) return "COM" + std::to_string(number);
        std::string name = argument;
        while (name.size() > 1 && name.back() == '/') name.pop_back();
        const std::size_t slash = name.find_last_of('/');
        if (slash != std::string::npos && slash + 1 < name.size()) name.erase(0, slash + 1);
        return Escaped(name);
    }
    return Escaped(argument);
}

std::vector<std::string> ApplyEventLine(PortState& port, const std::string& line) {
    std::vector<std::string> plain;
    const json event = json::parse(line, nullptr, false);
    const std::string kind = event.is_object() ? Str(event, "event") : std::string();
    if (kind.empty()) {
        // Not an event: whatever the child printed, shown and never obeyed.
        const std::string shown = Shown(line);
        if (!shown.empty()) {
            port.lastText = shown;
            plain.push_back(PlainLine(port, shown));
        }
        return plain;
    }
    const double time = Number(event, "time").value_or(0);

    if (kind == "start") {
        port.devicePath = Escaped(Str(event, "device"));
    } else if (kind == "text") {
        const std::string panel = Str(event, "panel");
        const std::string shown = Shown(Str(event, "text"));
        if (panel == "port" || shown.empty()) return plain;  // the port panel names the port again
        port.lastText = shown;
        port.waiting.clear();
        if (panel == "outcome") return plain;  // the outcome event tells it
        const Flood flood = FloodKind(shown);
        if (shown == port.lastPlainText) return plain;
        if (flood != Flood::None && flood == port.lastFlood && time - port.lastFloodTime < 1.0) return plain;
        port.lastPlainText = shown;
        port.lastFlood = flood;
        if (flood != Flood::None) port.lastFloodTime = time;
        plain.push_back(PlainLine(port, shown));
    } else if (kind == "progress") {
        port.position = Whole(event, "position");
        port.min = Whole(event, "min");
        port.max = Whole(event, "max");
        const std::string state = Str(event, "state");
        port.progressState = state.empty() ? "normal" : Escaped(state);
        port.rate = Number(event, "rate");
        if (port.position > port.min) {
            port.reached = port.position;
            port.reachedMin = port.min;
            port.reachedMax = port.max;
        }
    } else if (kind == "identity") {
        port.chip = Escaped(Str(event, "chip_name"));
    } else if (kind == "waiting") {
        port.waiting = Str(event, "for") == "removal" ? "removal" : "device";
        port.lastText = port.waiting == "removal" ? "waiting for the board's removal" : "waiting for a device";
        port.lastPlainText = port.lastText;
        port.lastFlood = Flood::None;
        plain.push_back(PlainLine(port, port.lastText));
    } else if (kind == "port") {
        port.portGone = Str(event, "state") == "gone";
        port.lastText = port.portGone ? "port gone" : "port back";
        port.lastPlainText = port.lastText;
        plain.push_back(PlainLine(port, port.lastText));
    } else if (kind == "outcome") {
        ++port.updates;
        const auto success = event.find("success");
        port.success = success != event.end() && success->is_boolean() && success->get<bool>();
        port.outcome = Shown(Str(event, "outcome"));
        port.seconds += std::max(0.0, Number(event, "seconds").value_or(0));
        port.frames += std::max(0L, Whole(event, "frames"));
        port.resends += std::max(0L, Whole(event, "resends"));
        port.passed = static_cast<int>(Whole(event, "passed", port.passed + (port.success ? 1 : 0)));
        port.failed = static_cast<int>(Whole(event, "failed", port.failed + (port.success ? 0 : 1)));
        port.waiting.clear();
        if (port.position <= port.min && port.reached > port.reachedMin) {
            port.position = port.success ? port.reachedMax : port.reached;
            port.min = port.reachedMin;
            port.max = port.reachedMax;
        }
        port.reached = port.reachedMin = port.reachedMax = 0;
        port.rate.reset();
        port.lastText = "Outcome: " + port.outcome;
        port.lastPlainText = port.lastText;
        port.lastFlood = Flood::None;
        plain.push_back(PlainLine(port, port.lastText));
    } else if (kind == "end") {
        port.endSeen = true;
        port.passed = static_cast<int>(Whole(event, "passed", port.passed));
        port.failed = static_cast<int>(Whole(event, "failed", port.failed));
    }
    return plain;
}

std::vector<std::string> ApplyChildEnd(PortState& port, int exitStatus, int killedBy) {
    port.exited = true;
    port.exitStatus = exitStatus;
    port.waiting.clear();
    const std::string how = killedBy > 0 ? SignalName(killedBy) : "exit status " + std::to_string(exitStatus);
    if (port.updates > 0) {
        // Board after board: the updates told their outcomes, but the run
        // itself broke off.
        if (port.endSeen) return {};
        return {PlainLine(port, "pelmark-flash ended without its end event: " + how)};
    }
    port.success = false;
    port.outcome = "failed (pelmark-flash ended without an outcome: " + how + ")";
    ++port.failed;
    port.lastText = "Outcome: " + port.outcome;
    return {PlainLine(port, port.lastText)};
}

std::vector<std::string> ApplyStartFailure(PortState& port, const std::string& why) {
    port.exited = true;
    port.exitStatus = 127;
    port.success = false;
    port.outcome = "failed (pelmark-flash could not be started: " + Escaped(why) + ")";
    ++port.failed;
    port.lastText = "Outcome: " + port.outcome;
    return {PlainLine(port, port.lastText)};
}

std::vector<std::string> LineSplitter::Feed(const std::string& bytes) {
    pending_ += bytes;
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t nl; (nl = pending_.find('\n', start)) != std::string::npos; start = nl + 1) {
        std::string line = pending_.substr(start, nl - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
    }
    pending_.erase(0, start);
    return lines;
}

std::optional<std::string> LineSplitter::Finish() {
    if (pending_.empty()) return std::nullopt;
    std::string line = std::move(pending_);
    pending_.clear();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

std::vector<std::string> LiveLines(const std::vector<PortState>& ports, int width, bool loop) {
    constexpr int kBarCells = 12;
    std::size_t labelWidth = 0;
    std::size_t chipWidth = 1;
    for (const PortState& p : ports) {
        labelWidth = std::max(labelWidth, p.label.size());
        chipWidth = std::max(chipWidth, p.chip.size());
    }
    // One column spare: a line that fills the terminal's last column would
    // leave the cursor waiting to wrap.
    const std::size_t limit = width > 1 ? static_cast<std::size_t>(width - 1) : 0;
    std::vector<std::string> lines;
    for (const PortState& p : ports) {
        const long span = p.max - p.min;
        const long done = std::clamp(p.position - p.min, 0L, std::max(span, 0L));
        const int percent = span > 0 ? static_cast<int>(done * 100 / span) : 0;
        const int filled = span > 0 ? static_cast<int>(done * kBarCells / span) : 0;
        std::string line = Padded(p.label, labelWidth) + "  " + Padded(p.chip.empty() ? "-" : p.chip, chipWidth) +
                           "  [" + std::string(static_cast<std::size_t>(filled), '#') +
                           std::string(static_cast<std::size_t>(kBarCells - filled), '-') + "] " +
                           RightAligned(std::to_string(percent) + "%", 4) + "  " +
                           RightAligned(p.rate ? Fixed(*p.rate, 0) + " B/s" : "", 10);
        if (p.progressState != "normal") line += "  " + p.progressState;
        if (loop) line += "  passed " + std::to_string(p.passed) + " failed " + std::to_string(p.failed);
        line += "  " + p.lastText;
        while (!line.empty() && line.back() == ' ') line.pop_back();
        if (line.size() > limit) line.resize(limit);
        lines.push_back(std::move(line));
    }
    return lines;
}

std::string LiveBlock(const std::vector<std::string>& lines, std::size_t drawn,
                      const std::vector<std::string>& above) {
    std::string bytes;
    if (drawn > 0) bytes += "\033[" + std::to_string(drawn) + "A";
    for (const std::string& line : above) bytes += "\r\033[K" + line + "\n";
    for (const std::string& line : lines) bytes += "\r\033[K" + line + "\n";
    if (above.size() + lines.size() < drawn) bytes += "\033[J";  // what is left of the old block
    return bytes;
}

std::vector<std::string> SummaryLines(const std::vector<PortState>& ports, bool loop) {
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"PORT", "DEVICE", "OUTCOME", "SECONDS", "FRAMES", "RESENDS"});
    if (loop) rows.front().insert(rows.front().end(), {"PASSED", "FAILED"});
    int updated = 0;
    int passed = 0;
    int failed = 0;
    for (const PortState& p : ports) {
        if (p.exited && p.exitStatus == 0) ++updated;
        passed += p.passed;
        failed += p.failed;
        std::vector<std::string> row = {p.label,
                                        p.chip.empty() ? "-" : p.chip,
                                        p.outcome.empty() ? "-" : p.outcome,
                                        Fixed(p.seconds, 1),
                                        std::to_string(p.frames),
                                        std::to_string(p.resends)};
        if (loop) row.insert(row.end(), {std::to_string(p.passed), std::to_string(p.failed)});
        rows.push_back(std::move(row));
    }
    std::vector<std::size_t> widths(rows.front().size(), 0);
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
    std::vector<std::string> lines;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            if (c > 0) line += "  ";
            line += c < 3 ? Padded(row[c], widths[c]) : RightAligned(row[c], widths[c]);  // numbers to the right
        }
        lines.push_back(std::move(line));
    }
    const std::string count = std::to_string(ports.size()) + (ports.size() == 1 ? " port" : " ports");
    if (loop)
        lines.push_back(std::to_string(passed) + " boards passed, " + std::to_string(failed) + " failed on " + count);
    else
        lines.push_back(std::to_string(updated) + " of " + count + " updated");
    return lines;
}

int StationExitStatus(const std::vector<PortState>& ports, int stopSignal) {
    const bool allUpdated = !ports.empty() && std::all_of(ports.begin(), ports.end(), [](const PortState& p) {
        return p.exited && p.exitStatus == 0;
    });
    if (allUpdated) return 0;
    return stopSignal > 0 ? 128 + stopSignal : 1;
}

std::string PerPortPath(const std::string& path, const std::string& label) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = path.find_last_of('.');
    // A dot that opens the file name (".trace") starts no extension.
    const std::size_t at = dot != std::string::npos && dot > nameStart ? dot : path.size();
    return path.substr(0, at) + "-" + label + path.substr(at);
}

StationOptions StationOptionsFrom(const CLI::App& app, std::vector<std::string> ports, bool quiet) {
    StationOptions options;
    options.ports = std::move(ports);
    options.quiet = quiet;
    // One record file for the whole station (each child appends its lines
    // under a lock); a trace file per port.
    for (const char* name : {"--front-end", "--fast", "--wait", "--loop", "--record"}) {
        const CLI::Option* option = app.get_option_no_throw(name);
        if (option == nullptr || option->count() == 0) continue;
        if (option->get_expected_max() == 0) {  // a flag
            options.forward.emplace_back(name);
        } else {
            for (const std::string& value : option->results()) options.forward.insert(options.forward.end(), {name, value});
        }
        if (std::strcmp(name, "--loop") == 0) options.loop = true;
    }
    for (const char* name : {"--trace"}) {
        const CLI::Option* option = app.get_option_no_throw(name);
        if (option == nullptr || option->count() == 0 || option->results().empty()) continue;
        options.perPortFiles.emplace_back(name, option->results().back());
    }
    return options;
}

std::vector<std::string> ChildArguments(const StationOptions& options, std::size_t index) {
    const std::string& port = options.ports.at(index);
    std::vector<std::string> args = {options.program, "--port", port, "--json"};
    args.insert(args.end(), options.forward.begin(), options.forward.end());
    for (const auto& [option, file] : options.perPortFiles)
        args.insert(args.end(), {option, PerPortPath(file, PortLabel(port))});
    return args;
}

std::string StationPortError(const std::vector<std::string>& ports) {
    std::vector<std::string> labels;
    for (const std::string& port : ports) {
        const PortChoice choice = PortFromArgument(port);
        if (choice.index < 0) return choice.error;
        const std::string label = PortLabel(port);
        if (std::find(labels.begin(), labels.end(), label) != labels.end())
            return "the port " + label + " is named twice; one update per port";
        labels.push_back(label);
    }
    return {};
}

namespace {

// Stop signals reach the station's loop through this pipe.
int g_signalPipe[2] = {-1, -1};

extern "C" void OnStationSignal(int signo) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signo);
    if (write(g_signalPipe[1], &byte, 1) < 0) {
        // The pipe is full of signals already; the loop sees them.
    }
    errno = saved;
}

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The station's signal handling for the time of the run, put back after.
class SignalGuard {
public:
    SignalGuard() {
        if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) g_signalPipe[0] = g_signalPipe[1] = -1;
        struct sigaction action {};
        action.sa_handler = OnStationSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (std::size_t i = 0; i < 3; ++i) sigaction(kStopSignals[i], &action, &old_[i]);
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGPIPE, &ignore, &oldPipe_);  // a reader that goes away must not end the station
    }
    ~SignalGuard() {
        for (std::size_t i = 0; i < 3; ++i) sigaction(kStopSignals[i], &old_[i], nullptr);
        sigaction(SIGPIPE, &oldPipe_, nullptr);
        for (int& fd : g_signalPipe) {
            if (fd >= 0) close(fd);
            fd = -1;
        }
    }
    SignalGuard(const SignalGuard&) = delete;
    SignalGuard& operator=(const SignalGuard&) = delete;

private:
    struct sigaction old_[3] {};
    struct sigaction oldPipe_ {};
};

struct Running {
    pid_t pid = -1;
    int out = -1;  // the child's standard output and error
    int err = -1;
    LineSplitter outLines, errLines;
    bool reaped = false;
    int exitStatus = -1;
    int killedBy = 0;
    bool ended = false;  // reaped and both pipes read to their end
};

// Starts one child with its standard output and error on pipes; "" when it
// runs, else why not.
std::string Spawn(const std::vector<std::string>& args, Running& child) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) return std::strerror(errno);
    if (pipe2(err, O_CLOEXEC) != 0) {
        const int e = errno;
        close(out[0]);
        close(out[1]);
        return std::strerror(e);
    }
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    // Its own process group: Ctrl+C on the terminal reaches the station
    // alone, which forwards it once; the child's second Ctrl+C would end it
    // at once.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t none, defaults;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    sigemptyset(&defaults);
    for (const int signo : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&defaults, signo);
    posix_spawnattr_setsigdefault(&attributes, &defaults);

    const int rc = posix_spawn(&child.pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    if (rc != 0) {
        close(out[0]);
        close(err[0]);
        child.pid = -1;
        return std::strerror(rc);
    }
    child.out = out[0];
    child.err = err[0];
    return {};
}

int TerminalWidth() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

int TerminalRows() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0) return size.ws_row;
    return 24;
}

double Now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::string ThisProgram() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "pelmark-flash";
    return std::string(path, static_cast<std::size_t>(n));
}

}  // namespace

int RunStation(const StationOptions& givenOptions, std::ostream& out, std::ostream& err, bool terminal) {
    StationOptions options = givenOptions;
    if (options.program.empty()) options.program = ThisProgram();
    const bool live = terminal && !options.quiet;

    std::vector<PortState> ports(options.ports.size());
    std::vector<Running> children(options.ports.size());
    std::size_t drawn = 0;
    std::vector<std::string> above;  // lines to print above the live lines at the next draw
    bool dirty = true;
    double lastDraw = -1;

    auto plain = [&](const std::vector<std::string>& lines) {
        if (live) {
            dirty = dirty || !lines.empty();
            return;
        }
        if (options.quiet) return;
        for (const std::string& line : lines) out << line << '\n';
        if (!lines.empty()) out.flush();
    };
    auto aside = [&](const std::string& line) {  // stderr lines and the station's own notes
        if (live) {
            above.push_back(line);
        } else {
            err << line << '\n' << std::flush;
        }
    };
    auto draw = [&](bool force) {
        if (!live) return;
        const double now = Now();
        if (!dirty && above.empty()) return;
        if (!force && now - lastDraw < 0.1) return;  // at most ten times a second
        std::vector<std::string> clipped;
        for (std::string line : above) {
            const auto width = static_cast<std::size_t>(std::max(TerminalWidth() - 1, 1));
            if (line.size() > width) line.resize(width);
            clipped.push_back(std::move(line));
        }
        std::vector<std::string> lines = LiveLines(ports, TerminalWidth(), options.loop);
        // The cursor cannot go up past the top of the screen: a block taller
        // than the screen shows its first lines.
        const auto rows = static_cast<std::size_t>(std::max(TerminalRows() - 1, 2));
        if (lines.size() > rows) {
            const std::size_t hidden = lines.size() - (rows - 1);
            lines.resize(rows - 1);
            lines.push_back("(" + std::to_string(hidden) + " more ports below the screen's height)");
        }
        out << LiveBlock(lines, drawn, clipped) << std::flush;
        drawn = lines.size();
        above.clear();
        dirty = false;
        lastDraw = now;
    };

    SignalGuard guard;
    for (std::size_t i = 0; i < options.ports.size(); ++i) {
        ports[i].label = PortLabel(options.ports[i]);
        const std::string why = Spawn(ChildArguments(options, i), children[i]);
        if (!why.empty()) {
            plain(ApplyStartFailure(ports[i], why));
            children[i].reaped = children[i].ended = true;
        }
    }

    int stopSignal = 0;
    auto readPipe = [&](std::size_t i, int& fd, bool isOut) {
        char buffer[4096];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
        Running& child = children[i];
        LineSplitter& splitter = isOut ? child.outLines : child.errLines;
        std::vector<std::string> lines;
        if (n > 0) {
            lines = splitter.Feed(std::string(buffer, static_cast<std::size_t>(n)));
        } else {
            close(fd);
            fd = -1;
            if (std::optional<std::string> rest = splitter.Finish()) lines.push_back(*rest);
        }
        for (const std::string& line : lines) {
            if (isOut) {
                plain(ApplyEventLine(ports[i], line));
                dirty = true;
            } else {
                aside(ports[i].label + ": " + Escaped(line));
            }
        }
    };

    while (std::any_of(children.begin(), children.end(), [](const Running& c) { return !c.ended; })) {
        std::vector<pollfd> fds;
        std::vector<std::pair<std::size_t, bool>> owners;  // child, standard output
        if (g_signalPipe[0] >= 0) fds.push_back({g_signalPipe[0], POLLIN, 0});
        for (std::size_t i = 0; i < children.size(); ++i) {
            if (children[i].out >= 0) {
                fds.push_back({children[i].out, POLLIN, 0});
                owners.emplace_back(i, true);
            }
            if (children[i].err >= 0) {
                fds.push_back({children[i].err, POLLIN, 0});
                owners.emplace_back(i, false);
            }
        }
        const int ready = poll(fds.data(), fds.size(), 100);
        if (ready < 0 && errno != EINTR) break;

        const std::size_t first = g_signalPipe[0] >= 0 ? 1 : 0;
        if (first == 1 && ready > 0 && (fds[0].revents & POLLIN) != 0) {
            unsigned char signals[16];
            const ssize_t n = read(g_signalPipe[0], signals, sizeof signals);
            for (ssize_t s = 0; s < n; ++s) {
                if (stopSignal == 0) {
                    // Every child stops its update and reports; the station
                    // reads on until all have ended.
                    stopSignal = signals[s];
                    for (const Running& c : children)
                        if (!c.reaped && c.pid > 0) kill(c.pid, stopSignal);
                    aside("pelmark-flash: stopping the update on every port (" + SignalName(stopSignal) +
                          "); a second one ends at once");
                    continue;
                }
                for (const Running& c : children)
                    if (!c.reaped && c.pid > 0) kill(c.pid, SIGKILL);
                for (Running& c : children) {
                    if (!c.reaped && c.pid > 0) waitpid(c.pid, nullptr, 0);
                    if (c.out >= 0) close(c.out);
                    if (c.err >= 0) close(c.err);
                }
                draw(true);
                out.flush();
                err << "pelmark-flash: " << SignalName(signals[s]) << " again: every port ended at once\n" << std::flush;
                return 128 + stopSignal;
            }
        }
        for (std::size_t f = first; ready > 0 && f < fds.size(); ++f) {
            if ((fds[f].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
            const auto [i, isOut] = owners[f - first];
            readPipe(i, isOut ? children[i].out : children[i].err, isOut);
        }
        for (std::size_t i = 0; i < children.size(); ++i) {
            Running& c = children[i];
            if (!c.reaped) {
                int status = 0;
                if (waitpid(c.pid, &status, WNOHANG) == c.pid) {
                    c.reaped = true;
                    c.killedBy = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
                    c.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + c.killedBy;
                }
            }
            if (c.reaped && !c.ended && c.out < 0 && c.err < 0) {
                c.ended = true;
                plain(ApplyChildEnd(ports[i], c.exitStatus, c.killedBy));
                dirty = true;
            }
        }
        draw(false);
    }
    dirty = true;
    draw(true);

    const std::vector<std::string> summary = SummaryLines(ports, options.loop);
    if (!options.quiet || terminal) out << '\n';
    for (const std::string& line : summary) out << line << '\n';
    out.flush();
    return StationExitStatus(ports, stopSignal);
}

int RunStationCommand(const CLI::App& app, std::vector<std::string> ports, bool allPorts, bool quiet) {
    if (allPorts) {
        ports.clear();
        for (const auto& [name, friendly] : PresentPorts()) ports.push_back(name);
        if (ports.empty()) {
            std::cerr << "pelmark-flash: --all-ports: no serial port is present\n";
            return 2;
        }
    }
    const CLI::Option* json = app.get_option_no_throw("--json");
    if (json != nullptr && json->count() > 0) {
        std::cerr << "pelmark-flash: --json takes one port; the station prints its own lines\n";
        return 2;
    }
    const std::string error = StationPortError(ports);
    if (!error.empty()) {
        std::cerr << "pelmark-flash: " << error << '\n';
        return 2;
    }
    const char* term = std::getenv("TERM");
    const bool terminal = isatty(STDOUT_FILENO) && (term == nullptr || std::strcmp(term, "dumb") != 0);
    return RunStation(StationOptionsFrom(app, std::move(ports), quiet), std::cout, std::cerr, terminal);
}

}  // namespace pelmark::cli
