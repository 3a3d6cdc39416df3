// What each front end does, written once over the display seam: the creation
// steps of its window, its start control, its stop control and its close. The
// desktop windows call these from their handlers and keep only their layout;
// the console front end calls the same ones in place of the windows.
//
// A step gets what it needs of the front end as the seam's objects (its
// progress bars, its status bar, the current display) or as plain values (the
// stored port setting, whether an update runs); what it changes in the window
// comes back as plain values.
#pragma once

#include <functional>
#include <string>

#include "shell/display.h"

namespace pelmark {

// ---- Creation -------------------------------------------------------------------

// The port setting read at creation: `com` is the text stored under "com" in
// the front end's settings ("" when there is none). The main updater window and
// the Upgrade window open the port afresh on the first search; the Loader
// window's port counts as open unless there is no setting. Returns false where
// the Loader is left without a valid port (it then shows text::kPortNotValid).
bool ApplyPortSetting(FrontEnd frontEnd, const std::string& com);

// What the creation steps change in the window.
struct FrontEndLook {
    std::string title;        // the window title
    bool picture = true;      // the picture is shown
    bool secondBar = false;   // Upgrade: the second progress bar is shown beside the first
};

// The creation steps: the tag's rules (image series, alternate search), the
// panel table (the Upgrade window has its device panel at 3), the image table,
// and the port name in `portPanel` (main and Upgrade; nullptr: not shown).
FrontEndLook CreateFrontEnd(FrontEnd frontEnd, const char* tag, StatusBar* portPanel);

// ---- The start control ------------------------------------------------------------

// The Loader window's reset before an update, after a port change and at
// creation: bar back to 0, then `showGuide` puts the message line back to its
// guiding text (text::kLoaderGuide) and empties the hardware and bootloader
// lines.
using GuideShower = std::function<void(const char* guide)>;
void ResetLoader(ProgressBar& progress, const GuideShower& showGuide);

// "&Update" of the main updater window: search the device, program it when found.
void StartMain(ProgressBar& progress, StatusBar& status);

// "START" of the Upgrade window: search and program again while images remain
// pending (a failure or a stop ends the run). `imagesBar` (nullptr: none)
// counts the images programmed; `closeAsked` ends the run after the current
// pass (nullptr: never).
void StartUpgrade(ProgressBar& progress, StatusBar& status, ProgressBar* imagesBar,
                  const std::function<bool()>& closeAsked);

// "Update FW" of the Loader window: its reset, then search and program; the
// search results it shows itself ("The device is not find.", "Port not valid.
// Select a new port.").
void StartLoader(ProgressBar& progress, StatusBar& status, const GuideShower& showGuide);

// ---- Stop and close -----------------------------------------------------------------

// The stop control: asks the engine to stop. The Upgrade and Loader windows
// show idle at once; the Loader's bar (`progress`, may be nullptr) turns to
// its error state. The main updater window hides its stop button itself.
void StopFrontEnd(FrontEnd frontEnd, ProgressBar* progress);

// The close of a window. While an update runs (`busy`) it only asks the engine
// to stop and returns false: the caller closes once the update has unwound.
// Otherwise it releases the port, sets `portSetting` to the text to store
// under "com", and returns true.
bool CloseFrontEnd(bool busy, std::string& portSetting);

}  // namespace pelmark
