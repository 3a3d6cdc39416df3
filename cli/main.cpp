// pelmark-flash: the console front end for scripts, service benches and
// production lines. It drives the same engine as the desktop program and
// behaves like the front end the build tag selects.
#include <CLI/CLI.hpp>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "bootloader/engine.h"
#include "cli/console_display.h"
#include "cli/flash_flow.h"
#include "cli/flash_run.h"
#include "cli/port_choice.h"
#include "cli/port_latency.h"
#include "cli/record.h"
#include "cli/trace.h"
#ifndef _WIN32
#include "cli/station.h"
#endif
#include "images/image_table.h"
#include "pelmark_version.h"  // generated: PELMARK_VERSION
#include "report/board_names.h"
#include "serial/port_link.h"
#include "shell/build_info.h"

// After the program's own headers: windows.h defines MessageBox and friends
// as macros.
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

using namespace pelmark;
using namespace pelmark::cli;

// The signal that asked the engine to stop, 0 while none has; the first one
// counts.
std::atomic<int> g_stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");

void NoteStopSignal(int signo) {
    int none = 0;
    g_stopSignal.compare_exchange_strong(none, signo);
}

// Ctrl+C asks the engine to stop at its next wait; it then unwinds with its
// stop report. A second Ctrl+C ends the program at once.
#ifdef _WIN32
// The console calls this on a thread of its own.
BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    if (g_stopSignal.load() != 0) return FALSE;  // the second one: the default, which ends the program
    NoteStopSignal(SIGINT);
    g_stopRequest.store(true);
    return TRUE;
}

void InstallInterruptHandler() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

// A console that understands terminal sequences (Windows 10 and later, once
// asked to); the progress bar needs them.
bool StdoutIsTerminal() {
    if (!_isatty(_fileno(stdout))) return false;
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out == INVALID_HANDLE_VALUE || !GetConsoleMode(out, &mode)) return false;
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}
#else
// SIGTERM (a service manager, kill) and SIGHUP (the terminal went away) stop
// the update the same way. Installed with SA_RESETHAND: the same signal a
// second time meets the default action.
extern "C" void OnStopSignal(int signo) {
    NoteStopSignal(signo);
    g_stopRequest.store(true);
}

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    for (const int signo : {SIGINT, SIGTERM, SIGHUP}) sigaction(signo, &action, nullptr);
    // A reader that goes away must not end an update half way.
    std::signal(SIGPIPE, SIG_IGN);
}

bool StdoutIsTerminal() {
    if (!isatty(STDOUT_FILENO)) return false;
    const char* term = std::getenv("TERM");
    return term == nullptr || std::strcmp(term, "dumb") != 0;
}
#endif

constexpr const char* kFooter = R"TXT(
Output: every text the front end shows, one line each, in order:
  [port] [message] [device] [info]   status-bar panels
  [status] [outcome]                 outcome label (main) or message line (loader)
  [identity] [record]                identity lines (main)
  FW : / HW : / BS :                 firmware, hardware and bootloader lines (loader)
Texts lose their surrounding spaces; floods of "Try n", "Program n (x)" and
"Program EEP n" are thinned out. Bytes that are not printable ASCII show as
\xNN and a backslash as \\, so each text is one line. The last line is
"Outcome: <text>", e.g. "Outcome: Program Ok". A progress bar is drawn only
on a terminal.

Exit status: 0 device updated, 1 update failed, 2 bad usage or no port chosen,
130 stopped by Ctrl+C, 143 by SIGTERM, 129 by SIGHUP.

Several --port options or --all-ports: the station updates those ports at
once, one pelmark-flash per port; a live line per port on a terminal, else
"COM3: <text>" lines, then a summary; exit 0 only when every port was updated.)TXT";

int ListPorts() {
    for (const auto& [name, friendly] : PresentPorts()) {
        const std::optional<int> index = ParseComName(name);
        std::cout << PortListLine(name, friendly, index ? serial::AdapterLatencyTimerMs(*index + 1) : -1) << '\n';
    }
    return kExitSuccess;
}

int Report() {
    InitImageTable();
    for (const std::string& line : VersionReportLines()) std::cout << line << '\n';
    return kExitSuccess;
}

int Version() {
    std::cout << "pelmark-flash " << PELMARK_VERSION << '\n'
              << DisplayTag() << '\n' << "built " << BuildDate() << ' ' << BuildTime() << '\n';
    return kExitSuccess;
}

int Flash(FlashOptions options, const std::string& recordPath, const std::string& tracePath) {
    options.terminal = StdoutIsTerminal();
    options.version = PELMARK_VERSION;
    std::string traceError;
    if (!tracePath.empty()) {
        if (!StartTrace(tracePath, &traceError)) {
            std::cerr << "pelmark-flash: trace: " << traceError << '\n';
            return kExitUsage;
        }
        options.pump = FlushTrace;
    }
    if (!recordPath.empty()) {
        options.afterUpdate = [&recordPath, frontEnd = options.frontEnd](const UpdateSummary& summary) {
            return RecordUpdate(recordPath, summary, frontEnd, std::cerr);
        };
    }
    InstallInterruptHandler();
    const int status = RunFlash(options, std::cout, std::cerr, g_stopSignal);
    if (!StopTrace(&traceError)) std::cerr << "pelmark-flash: trace: " << traceError << '\n';
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Updates the firmware of a PIC18, PIC24 or dsPIC33 device through its serial bootloader.",
                 "pelmark-flash"};
    app.footer(kFooter);

    std::vector<std::string> ports;
    bool allPorts = false;
    std::string frontEndName;
    bool listPorts = false;
    bool report = false;
    bool version = false;
    bool quiet = false;

    CLI::Option* portOpt = app.add_option("-p,--port", ports,
                   "Port of the device: a COM name (COM9, com9) or a device path (/dev/ttyUSB0); "
                   "default: the only serial port present. Given several times: update those ports at once, "
                   "one process each")->allow_extra_args(false);
    CLI::Option* allPortsOpt = app.add_flag("--all-ports", allPorts,
                   "Update every serial port present at once, one process each")->excludes(portOpt);
    app.add_option("--front-end", frontEndName,
                   std::string("Behave like this front end instead of the one the build tag selects (") +
                       FrontEndName(FrontEndFor(ChooseFrontEnd(BuildTag()))) + ")")
        ->check(CLI::IsMember({"main", "upgrade", "loader"}));
    CLI::Option* listOpt = app.add_flag("--list-ports", listPorts, "List the serial ports present: COM name, tab, friendly name (then, tab, the adapter's latency where "
                                         "the system tells it)");
    CLI::Option* reportOpt = app.add_flag("--report", report, "Print the version report of the firmware this build carries");
    CLI::Option* versionOpt = app.add_flag("--version", version, "Print the version, the build tag, build date and time");
    app.add_flag("-q,--quiet", quiet, "Print only the outcome line");
    FlashOptions run;
    app.add_flag("--json", run.json,
                 "One JSON object per line on standard output in place of the text lines: every text with its "
                 "panel, the progress, the identity and the outcome (see the README)");
    app.add_flag("--wait", run.wait,
                 "Search until a device answers instead of giving up after 100 tries (Ctrl+C ends it)");
    app.add_flag("--loop", run.loop,
                 "Board after board: after each outcome wait until the board stops answering, then for the next "
                 "one; Ctrl+C ends the run");
    bool fast = false;
    app.add_flag("--fast", fast,
                 "Take every reply as soon as it arrives instead of at the end of the engine's 5 ms slice; "
                 "only for a bootloader that has finished writing before it answers (see the README)");
    std::string recordPath;
    app.add_option("--record", recordPath,
                   "Append one JSON line per update to FILE (created when missing), under a lock; "
                   "status 1 when it cannot be written")
        ->type_name("FILE");
    std::string tracePath;
    app.add_option("--trace", tracePath, "Write every byte sent and received, with its time, to FILE")
        ->type_name("FILE");
    listOpt->excludes(reportOpt)->excludes(versionOpt)->excludes(allPortsOpt);
    reportOpt->excludes(versionOpt);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int rc = app.exit(e);
        return rc == 0 ? kExitSuccess : kExitUsage;
    }

    if (version) return Version();
    if (report) return Report();
    PrintPortMapWarnings(std::cerr);
    if (listPorts) return ListPorts();

    const FrontEnd frontEnd =
        frontEndName.empty() ? FrontEndFor(ChooseFrontEnd(BuildTag())) : FrontEndNamed(frontEndName).value();

    if (allPorts || ports.size() > 1) {
#ifdef _WIN32
        std::cerr << "pelmark-flash: several ports at once are not available on this system\n";
        return kExitUsage;
#else
        return RunStationCommand(app, ports, allPorts, quiet);
#endif
    }
    const PortChoice choice = portOpt->count() == 0 ? PortFromPresent(PresentPorts()) : PortFromArgument(ports.front());
    if (choice.index < 0) {
        std::cerr << "pelmark-flash: " << choice.error << '\n';
        return kExitUsage;
    }
    run.frontEnd = frontEnd;
    run.portIndex = choice.index;
    run.quiet = quiet;
    run.fast = fast;
    return Flash(run, recordPath, tracePath);
}
