// What the console front end does in place of a window: the creation steps
// and one press of the front end's start control.
#pragma once

#include <optional>
#include <string>

#include "cli/console_display.h"
#include "shell/build_info.h"

namespace pelmark::cli {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;  // 128 + SIGINT, as shells report it

FrontEnd FrontEndFor(FrontEndChoice choice);
// "main", "upgrade" or "loader".
std::optional<FrontEnd> FrontEndNamed(const std::string& name);
const char* FrontEndName(FrontEnd frontEnd);

// The creation steps of the front end's window: image table, panel indices,
// the multi-image and alternate-search flags from the tag, and the Loader
// window's firmware line.
void CreateFrontEnd(ConsoleDisplay& display, const char* tag);

// One update as the front end's start control runs it ("&Update", "START"
// with its multi-image loop, or "Update FW").
void RunFrontEnd(ConsoleDisplay& display);

// Whether the run updated the device, from the engine's record of how the
// last search and the last pass ended (never from the texts shown): the search
// found the device and the pass after it wrote the image whole. In a
// multi-image run the last pass decides, since a failed one ends the run.
bool DeviceUpdated();

// Exit status of a run; `stopSignal` is the signal that asked the engine to
// stop (SIGINT, SIGTERM, SIGHUP), 0 for none: 128 plus its number, as shells
// report a program the signal ended. A device that was updated counts even
// when the signal came too late to stop it.
int ExitStatusFor(const Verdict& verdict, int stopSignal);

}  // namespace pelmark::cli
