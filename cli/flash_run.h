// One run of pelmark-flash on one port: a single update, or with --wait and
// --loop the station's run on that port, board after board.
#pragma once

#include <atomic>
#include <functional>
#include <iosfwd>
#include <string>

#include "cli/update_summary.h"
#include "shell/display.h"

namespace pelmark::cli {

struct FlashOptions {
    FrontEnd frontEnd = FrontEnd::Main;
    int portIndex = -1;     // 0 = COM1
    bool terminal = false;  // standard output is a terminal
    bool quiet = false;
    bool fast = false;
    bool json = false;  // JSON events in place of the text lines
    // Search until a device answers instead of giving up after the search's
    // tries (the front end's search, again and again; a stop ends it).
    bool wait = false;
    // After each outcome wait until the board stops answering, then for the
    // next one; only a stop ends the run.
    bool loop = false;
    std::string version;  // of the program, for the start event
    // Called after every update with its summary (port, device and tag filled
    // in); returns the update's exit status, which it may turn from 0 to 1
    // (a record that could not be written). Empty: the status stands.
    std::function<int(const UpdateSummary&)> afterUpdate;
    // Called in every slice of the engine's waits (the byte trace writes out
    // what it has collected). Empty: nothing.
    std::function<void()> pump;
};

// Runs the updates; `stopSignal` is the signal that asked the engine to stop,
// 0 while none has. Returns the exit status: for one update ExitStatusFor's;
// for a loop 1 when any board failed, else 128 plus the signal when the stop
// came during an update, else 0.
int RunFlash(const FlashOptions& options, std::ostream& out, std::ostream& err, const std::atomic<int>& stopSignal);

// Whether the device behind COM<portIndex+1> is there (its device file
// exists; on Windows the port is taken to be there and opening it tells).
bool PortDevicePresent(int portIndex);

}  // namespace pelmark::cli
