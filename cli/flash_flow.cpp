#include "cli/flash_flow.h"

#include <cstring>

#include "bootloader/engine.h"
#include "images/image_table.h"
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
    g_panels = PanelIndex{};
    g_multiImage = false;
    g_alternateSearch = false;
    switch (display.Showing()) {
        case FrontEnd::Upgrade:
            g_panels.device = 3;
            g_multiImage = std::strstr(tag, "YKP") != nullptr;
            break;
        case FrontEnd::Loader:
            display.ResetLoaderMessage();
            display.ShowFirmwareLine(tag);
            g_alternateSearch = std::strstr(tag, "DLM") != nullptr || std::strstr(tag, "GNV") != nullptr;
            break;
        case FrontEnd::Main:
            break;
    }
    InitImageTable();
}

void RunFrontEnd(ConsoleDisplay& display) {
    ProgressBar& progress = display.Progress();
    StatusBar& status = display.Status();
    switch (display.Showing()) {
        case FrontEnd::Main:
            if (SearchDevice(progress, status) == kSearchFound) PrgMode(progress, status);
            break;
        case FrontEnd::Loader: {
            display.ResetLoaderMessage();
            progress.SetPosition(0);
            const std::int16_t rc = SearchDevice(progress, status);
            if (rc == kSearchNotFound)
                display.ShowStatus("The device is not find.", clBlack);
            else if (rc == kSearchPortUnusable)
                display.ShowStatus("Port not valid. Select a new port.", clRed);
            else if (rc == kSearchFound)
                PrgMode(progress, status);
            break;
        }
        case FrontEnd::Upgrade: {
            MarkPending();
            // With several images the device is searched and programmed again
            // while images remain pending; a failure or a stop returns 0.
            int r = 0;
            do {
                r = 0;
                if (SearchDevice(progress, status) == kSearchFound)
                    r = static_cast<std::int8_t>(PrgMode(progress, status));
            } while (r != 0);
            break;
        }
    }
}

int ExitStatusFor(const Verdict& verdict, int stopSignal) {
    if (verdict.success) return kExitSuccess;
    return stopSignal > 0 ? 128 + stopSignal : kExitFailure;
}

}  // namespace pelmark::cli
