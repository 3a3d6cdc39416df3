// One update as the station reports it: who the device was, what it got and
// how it ended, gathered from the engine's record once the front end's start
// control has returned. The JSON outcome event, the record file and the
// failure hint are all written from this.
#pragma once

#include <cstdint>
#include <string>

#include "bootloader/engine.h"

namespace pelmark::cli {

struct UpdateSummary {
    std::string port;        // "COM3"
    std::string devicePath;  // the device the port opened, "" when unknown
    std::string tag;         // the build tag

    bool found = false;            // the search found the device
    bool identityKnown = false;    // ... and the identity below is its own
    DeviceIdentity identity;       // chip, bootloader version, board, preparation
    std::string chipName;          // "18F26k80" (the device panel's text without "Found "), "" unknown
    std::string boardName;         // the board name of the identity, "" unknown
    std::string recordText;        // the device record text (bootloaders 8 to 31), raw bytes

    int slot = -1;  // image table column and row the pass used, -1 when none was chosen
    int row = -1;
    // The image bytes the pass sent from the build's table: program, then
    // EEPROM (nullptr / 0 when no image was chosen).
    const std::uint8_t* program = nullptr;
    std::size_t programLength = 0;
    const std::uint8_t* eeprom = nullptr;
    std::size_t eepromLength = 0;

    WireCounts wire;            // frames written, resends, refusals
    std::uint64_t bytesSent = 0;
    std::uint64_t bytesReceived = 0;
    double seconds = 0;         // from the press of the start control to the outcome

    EngineEnd search;           // how the search and the pass ended
    EngineEnd pass;
    std::string outcome;        // the outcome text, without surrounding spaces
    bool success = false;       // the device was updated
    int exitStatus = 0;         // what pelmark-flash exits with for this update alone
};

// The engine's state after an update, `outcome`, `success`, `seconds` and
// `exitStatus` as given; port, device path and tag are left to the caller.
UpdateSummary SummarizeUpdate(const std::string& outcome, bool success, double seconds, int exitStatus);

// One plain line for the operator on why the update failed, where what the
// line carried says it clearly; empty otherwise (and for an update that did
// not fail, or was stopped):
//   no byte came back to any of the search's tries,
//   bytes came back but never an identity,
//   refusals on several rows,
//   the device went silent after frames had been written.
std::string FailureHint(const UpdateSummary& summary);

// "success", "failed", "stopped", "skipped", "none".
const char* EndKindName(EndKind kind);

}  // namespace pelmark::cli
