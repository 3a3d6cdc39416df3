// Start-up of the desktop program: the single-instance guard, the choice of
// the front end from the build tag, the windows in their fixed order, the
// message loop and the handler for errors that escape start-up.
#pragma once

#include <iosfwd>

class QWidget;

namespace pelmark {

// Creates the windows for `tag` (nullptr: a build without a tag): the chosen
// front end first (Upgrade or Loader window), then the main updater window,
// the port dialog and the version window. Returns the application's main
// window, the first one created; nothing is shown yet. Throws what window
// creation throws; windows already created stay (DestroyWindows frees them).
QWidget* CreateFrontEnds(const char* tag);

// Frees every window that exists and empties the references.
void DestroyWindows();

// The standard error box for an error that escaped start-up.
void ShowStartupError(const char* message);

class SingleInstanceGuard;

// Takes the single-instance guard. False: another instance is running (the
// caller shows "Already in progress"). A lock that cannot be taken for any
// other reason is reported on `err`, one line, and the program goes on
// without the guard: true.
bool TakeInstanceGuard(SingleInstanceGuard& guard, std::ostream& err);

// The whole program; returns the exit code (0).
int RunDesktopProgram(int argc, char** argv);

}  // namespace pelmark
