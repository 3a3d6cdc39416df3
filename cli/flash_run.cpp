#include "cli/flash_run.h"

#include <ostream>

#include "bootloader/engine.h"
#include "cli/console_display.h"
#include "cli/flash_flow.h"
#include "cli/json_events.h"
#include "cli/port_choice.h"
#include "cli/port_latency.h"
#include "serial/com_name.h"
#include "serial/port_link.h"
#include "serial/port_map.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace pelmark::cli {

namespace {

constexpr int kPollMs = 250;       // a port that is gone is looked for again this often
constexpr int kUnusableMs = 1000;  // a port that is there but cannot be opened is tried again this late
constexpr int kProbeMs = 100;      // listening after one search byte
constexpr int kSilentProbes = 3;   // a board that answers none of this many in a row is off the fixture

// The display of the run, for the hint the port layer's hook gives once a
// run when the port is first opened (the Upgrade window's multi-image runs
// and the station open it again and again).
ConsoleDisplay* g_runDisplay = nullptr;
bool g_latencyHintShown = false;

void HintAtLatency() {
    if (g_latencyHintShown || g_runDisplay == nullptr) return;
    const std::string hint = SelectedPortLatencyHint();
    if (hint.empty()) return;
    g_latencyHintShown = true;
    g_runDisplay->ShowHint(hint);
}

// The station's state on its port between updates.
class StationRun {
public:
    StationRun(const FlashOptions& options, ConsoleDisplay& display, JsonEvents& events,
               const std::atomic<int>& stopSignal)
        : options_(options), display_(display), events_(events), stopSignal_(stopSignal),
          name_(serial::ComName(options.portIndex + 1)) {}

    // Until the search finds a device or is stopped: true then. False when a
    // stop came while no search ran.
    bool UntilDeviceFound();
    // Until the board stops answering: true; false when a stop came.
    bool UntilBoardRemoved();

private:
    bool Stopped() const { return stopSignal_.load() != 0; }
    // Waits `ms` unless a stop comes first: false then.
    bool Pause(int ms) const;
    void PortGone();
    void PortBack();

    const FlashOptions& options_;
    ConsoleDisplay& display_;
    JsonEvents& events_;
    const std::atomic<int>& stopSignal_;
    std::string name_;
    bool gone_ = false;
};

bool StationRun::Pause(int ms) const {
    for (int waited = 0; waited < ms; waited += 50) {
        if (Stopped()) return false;
        SleepMs(50);
    }
    return !Stopped();
}

void StationRun::PortGone() {
    if (gone_) return;
    gone_ = true;
    if (options_.json) events_.PortState(false);
    display_.Note("[station] " + name_ + " is gone: waiting for it to come back");
}

void StationRun::PortBack() {
    if (!gone_) return;
    gone_ = false;
    if (options_.json) events_.PortState(true);
    display_.Note("[station] " + name_ + " is back");
}

bool StationRun::UntilDeviceFound() {
    if (options_.json) events_.Waiting("device");
    display_.Note("[station] waiting for a device on " + name_);
    for (;;) {
        if (Stopped()) return false;
        if (!PortDevicePresent(options_.portIndex)) {
            PortGone();
            if (!Pause(kPollMs)) return false;
            continue;
        }
        PortBack();
        RunFrontEnd(display_);
        if (g_searchEnd.kind == EndKind::Success || g_searchEnd.kind == EndKind::Stopped) return true;
        if (g_searchEnd.code == kSearchPortUnusable) {
            // There, but it would not open (the adapter is still coming up,
            // or another program holds it): the front end has said why.
            PortGone();
            if (!Pause(kUnusableMs)) return false;
        }
        // Not found: the search goes round again.
    }
}

bool StationRun::UntilBoardRemoved() {
    if (options_.json) events_.Waiting("removal");
    display_.Note("[station] waiting for the board to be taken off " + name_);
    int silent = 0;
    for (;;) {
        if (Stopped()) return false;
        if (!PortDevicePresent(options_.portIndex)) return true;
        switch (ProbeDevice(kProbeMs)) {
            case Probe::Stopped:
                return false;
            case Probe::NoPort:
                return true;
            case Probe::Silent:
                if (++silent >= kSilentProbes) return true;
                break;
            case Probe::Answered:
                silent = 0;
                break;
        }
        if (!Pause(kPollMs)) return false;
    }
}

}  // namespace

bool PortDevicePresent(int portIndex) {
#ifdef _WIN32
    (void)portIndex;
    return true;
#else
    const std::string path = serial::ComDevicePath(portIndex + 1);
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0;
#endif
}

int RunFlash(const FlashOptions& options, std::ostream& out, std::ostream& err, const std::atomic<int>& stopSignal) {
    const std::string portName = serial::ComName(options.portIndex + 1);
    JsonEvents events(out, portName);
    ConsoleOptions consoleOptions;
    consoleOptions.terminal = options.terminal && !options.json;
    consoleOptions.quiet = options.quiet;
    consoleOptions.events = options.json ? &events : nullptr;
    ConsoleDisplay display(options.frontEnd, out, err, consoleOptions);
    display.SetStepBytes([] { return g_pass.addressUnit; });
    display.SetInvalidPortHint(SelectedPortOpenHint);
    if (options.pump) display.SetPumpHook(options.pump);
    SetDisplay(&display);

    CreateFrontEnd(display, DisplayTag());
    g_portIndex = static_cast<std::int16_t>(options.portIndex);
    g_openPortIndex = static_cast<std::int16_t>(options.portIndex - 1);  // the first search opens the port afresh
    SetFastVerdicts(options.fast);
    g_runDisplay = &display;
    g_latencyHintShown = false;
    SetPortOpenedHook(HintAtLatency);

    const std::string devicePath = serial::ComDevicePath(options.portIndex + 1);
    if (options.json) events.Start(devicePath, FrontEndName(options.frontEnd), DisplayTag(), options.version.c_str());

    StationRun station(options, display, events, stopSignal);
    const bool waits = options.wait || options.loop;
    int passed = 0;
    int failed = 0;
    int status = kExitFailure;
    bool stoppedInUpdate = false;
    for (int board = 0;; ++board) {
        if (board > 0) display.BeginUpdate();
        events.NewUpdate();
        const double began = SteadySeconds();
        if (waits) {
            if (!station.UntilDeviceFound()) break;  // stopped while no update ran
        } else {
            RunFrontEnd(display);
        }
        // The outcome line names the text the front end showed; whether the
        // device was updated is the engine's own record.
        Verdict verdict = display.Finish();
        verdict.success = DeviceUpdated();
        UpdateSummary summary =
            SummarizeUpdate(verdict.text, verdict.success, SteadySeconds() - began,
                            ExitStatusFor(verdict, stopSignal.load()));
        summary.port = portName;
        summary.devicePath = devicePath;
        summary.tag = DisplayTag();
        if (options.afterUpdate) summary.exitStatus = options.afterUpdate(summary);
        status = summary.exitStatus;

        const bool stopped = !summary.success && stopSignal.load() != 0;
        stoppedInUpdate = stopped;
        if (summary.exitStatus == kExitSuccess)
            ++passed;
        else if (!stopped)
            ++failed;
        const std::string hint = FailureHint(summary);
        display.ShowHint(hint);
        if (options.json) events.Outcome(summary, hint, passed, failed);
        if (options.loop)
            display.Note("[station] " + portName + ": passed " + std::to_string(passed) + " failed " +
                         std::to_string(failed));
        if (!options.loop || stopped || !station.UntilBoardRemoved()) break;
    }
    if (options.loop) {
        if (failed > 0)
            status = kExitFailure;
        else if (stoppedInUpdate)
            status = 128 + stopSignal.load();
        else
            status = kExitSuccess;
    } else if (waits && passed + failed == 0) {
        // Stopped before any device answered.
        status = 128 + stopSignal.load();
    }
    if (options.json) events.End(status, passed, failed);

    SetPortOpenedHook(nullptr);
    g_runDisplay = nullptr;
    ComPortCloseAll();
    SetDisplay(nullptr);
    return status;
}

}  // namespace pelmark::cli
