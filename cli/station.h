// The station: several ports updated at once, one pelmark-flash process per
// port (the engine keeps its state process-wide). Each child runs with
// --json; the station reads their event lines, keeps what it knows of every
// port, shows one live line per port on a terminal (one plain line per
// notable change elsewhere), and ends with a summary table.
//
// The pieces below the runner take event lines and give text, so they can be
// tried on crafted lines; the runner (POSIX only) starts the children, reads
// their pipes and forwards stop signals.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "cli/console_display.h"

namespace CLI {
class App;
}

namespace pelmark::cli {

// What the station knows of one port.
struct PortState {
    std::string label;       // "COM3", or the device's file name for a path no COM number names
    std::string devicePath;  // from the start event, "" unknown
    std::string chip;        // identity's chip name, "" unknown

    // The latest progress event.
    long position = 0;
    long min = 0;
    long max = 0;
    std::string progressState = "normal";  // "normal", "paused", "error"
    std::optional<double> rate;            // bytes a second
    // The last progress short of its start: the front end empties its bar
    // before it shows the outcome, the live line then shows how far it got.
    long reached = 0, reachedMin = 0, reachedMax = 0;

    std::string lastText;  // the latest text shown, trimmed and escaped
    std::string waiting;   // "device" or "removal" while the child waits, else ""
    bool portGone = false; // --loop: the adapter is unplugged

    // Outcome events: the latest one, and sums over every update.
    int updates = 0;
    bool success = false;
    std::string outcome;  // escaped
    double seconds = 0;
    long frames = 0;
    long resends = 0;
    int passed = 0;  // boards passed / failed (the child's running counts)
    int failed = 0;

    bool endSeen = false;  // the child's end event arrived
    bool exited = false;   // the child process has ended ...
    int exitStatus = -1;   // ... with this status (128 + signal when a signal ended it)

    // Thinning of flood texts ("Try n", "Program n (x)") on plain lines.
    Flood lastFlood = Flood::None;
    double lastFloodTime = -1;
    std::string lastPlainText;
};

// "COM3" for a COM name in any letter case or a path the port map names
// with a COM number; the file name for another path ("ttyUSB0").
std::string PortLabel(const std::string& argument);

// One line of a child's standard output applied to its port. Returns the
// plain lines it makes notable, each "COM3: <text>" (texts escaped). A line
// that is no event is shown as it is, escaped.
std::vector<std::string> ApplyEventLine(PortState& port, const std::string& line);

// The child ended with `exitStatus` (as a shell reports it); `killedBy` is
// the signal that ended it, 0 when it exited. A child that ends without an
// outcome counts as a failed board. Returns the plain lines.
std::vector<std::string> ApplyChildEnd(PortState& port, int exitStatus, int killedBy);

// The child could not be started.
std::vector<std::string> ApplyStartFailure(PortState& port, const std::string& why);

// Bytes to lines: lines may arrive split over several reads.
class LineSplitter {
public:
    // Appends `bytes` and returns every line completed (without "\n", a
    // trailing "\r" dropped).
    std::vector<std::string> Feed(const std::string& bytes);
    // The partial line left at the end of the stream, if any.
    std::optional<std::string> Finish();

private:
    std::string pending_;
};

// One live line per port, each at most `width` characters:
//   COM3  18F26k80  [######------]  52%  5120 B/s  passed 2 failed 0  Program 00123 (0007b)
// the counts only in loop mode.
std::vector<std::string> LiveLines(const std::vector<PortState>& ports, int width, bool loop);

// The terminal bytes that replace the `drawn` live lines on screen (the
// cursor below them) with `above` (printed once, scrolling up) followed by
// `lines`.
std::string LiveBlock(const std::vector<std::string>& lines, std::size_t drawn,
                      const std::vector<std::string>& above = {});

// The summary table: port, device, outcome, seconds, frames, resends (and
// passed, failed in loop mode), then one line with the count of ports updated.
std::vector<std::string> SummaryLines(const std::vector<PortState>& ports, bool loop);

// 0 when every child exited 0; else 128 + `stopSignal` when the station was
// stopped by that signal, else 1.
int StationExitStatus(const std::vector<PortState>& ports, int stopSignal);

// FILE with "-<label>" before its extension: trace.txt -> trace-COM3.txt,
// logs/run -> logs/run-COM3.
std::string PerPortPath(const std::string& path, const std::string& label);

struct StationOptions {
    std::vector<std::string> ports;  // --port arguments as given, or the COM names present
    // Forwarded to every child as they are: --front-end NAME, --fast, --wait,
    // --loop, --record FILE (the children append to one file under a lock).
    std::vector<std::string> forward;
    // Forwarded per port with the port's label in the file name: --trace FILE.
    std::vector<std::pair<std::string, std::string>> perPortFiles;  // option, FILE
    bool loop = false;   // the children update board after board
    bool quiet = false;  // only the summary on standard output
    std::string program; // the child program; "" for this program (/proc/self/exe)
};

// The station's options from the parsed command line: every forwarded
// option this build has that was given.
StationOptions StationOptionsFrom(const CLI::App& app, std::vector<std::string> ports, bool quiet);

// The arguments of the child for port `index`, program first.
std::vector<std::string> ChildArguments(const StationOptions& options, std::size_t index);

// Checks the ports (usable, none twice); "" when they are fine, else why not.
std::string StationPortError(const std::vector<std::string>& ports);

// Runs the station and returns its exit status. `terminal`: `out` is a
// terminal `width` wide, with live lines; else plain lines.
int RunStation(const StationOptions& options, std::ostream& out, std::ostream& err, bool terminal);

// The station as pelmark-flash runs it: --port given several times or
// --all-ports (`allPorts`); the ports present for --all-ports.
int RunStationCommand(const CLI::App& app, std::vector<std::string> ports, bool allPorts, bool quiet);

}  // namespace pelmark::cli
