#include "cli/flash_flow.h"

#include "bootloader/engine.h"
#include "frontend_logic/front_ends.h"
#include "shell/panels.h"

namespace pelmark::cli {

FrontEnd FrontEndFor(FrontEndChoice choice) {
    switch (choice) {
        case FrontEndChoice::Upgrade:
            return FrontEnd::Upgrade;
        case FrontEndChoice::Loader:
            return FrontEnd::Loader;
        case FrontEndChoice::Main:
            break;
    }
    return FrontEnd::Main;
}

std::optional<FrontEnd> FrontEndNamed(const std::string& name) {
    if (name == "main") return FrontEnd::Main;
    if (name == "upgrade") return FrontEnd::Upgrade;
    if (name == "loader") return FrontEnd::Loader;
    return std::nullopt;
}

const char* FrontEndName(FrontEnd frontEnd) {
    switch (frontEnd) {
        case FrontEnd::Upgrade:
            return "upgrade";
        case FrontEnd::Loader:
            return "loader";
        case FrontEnd::Main:
            break;
    }
    return "main";
}

void CreateFrontEnd(ConsoleDisplay& display, const char* tag) {
    // One process, one front end: its state starts afresh.
    g_panels = PanelIndex{};
    g_multiImage = false;
    g_alternateSearch = false;
    // The console has no port panel to fill at creation, no title and no picture.
    (void)pelmark::CreateFrontEnd(display.Showing(), tag, nullptr);
    if (display.Showing() == FrontEnd::Loader) {
        ResetLoader(display.Progress(), [&display](const char* guide) { display.ResetLoaderMessage(guide); });
        display.ShowFirmwareLine(tag);
    }
}

void RunFrontEnd(ConsoleDisplay& display) {
    ProgressBar& progress = display.Progress();
    StatusBar& status = display.Status();
    switch (display.Showing()) {
        case FrontEnd::Main:
            StartMain(progress, status);
            break;
        case FrontEnd::Loader:
            StartLoader(progress, status, [&display](const char* guide) { display.ResetLoaderMessage(guide); });
            break;
        case FrontEnd::Upgrade:
            // No second bar in the console, and no close to wait for.
            StartUpgrade(progress, status, nullptr, nullptr);
            break;
    }
}

bool DeviceUpdated() { return g_searchEnd.kind == EndKind::Success && g_passEnd.kind == EndKind::Success; }

int ExitStatusFor(const Verdict& verdict, int stopSignal) {
    if (verdict.success) return kExitSuccess;
    return stopSignal > 0 ? 128 + stopSignal : kExitFailure;
}

}  // namespace pelmark::cli
