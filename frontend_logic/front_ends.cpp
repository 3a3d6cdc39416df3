#include "frontend_logic/front_ends.h"

#include <cstdint>

#include "bootloader/engine.h"
#include "bootloader/wire.h"
#include "images/image_table.h"
#include "serial/port_link.h"
#include "shell/build_info.h"
#include "shell/panels.h"
#include "shell/settings_text.h"
#include "shell/texts.h"

namespace pelmark {

namespace {
// "<name> -   <tag>   - <build date>"
std::string DatedTitle(const char* name, const char* tag) {
    return std::string(name) + " -   " + (tag ? tag : "") + "   - " + BuildDate();
}
}  // namespace

bool ApplyPortSetting(FrontEnd frontEnd, const std::string& com) {
    if (frontEnd == FrontEnd::Loader) {
        if (!com.empty()) {
            g_portIndex = ParsePortSetting(com);
            g_openPortIndex = static_cast<std::int16_t>(g_portIndex + 1);
        } else {
            g_portIndex = 0;
            g_openPortIndex = -1;
        }
        return g_openPortIndex >= 0;
    }
    g_portIndex = com.empty() ? std::int16_t{0} : ParsePortSetting(com);
    g_openPortIndex = static_cast<std::int16_t>(g_portIndex - 1);
    return true;
}

FrontEndLook CreateFrontEnd(FrontEnd frontEnd, const char* tag, StatusBar* portPanel) {
    FrontEndLook look;
    switch (frontEnd) {
        case FrontEnd::Main:
            look.title = MainTitle();
            look.picture = !TagHidesPicture(tag);
            InitImageTable();
            if (portPanel) ShowPortName(*portPanel);
            break;
        case FrontEnd::Upgrade:
            look.title = DatedTitle(text::kUpgradeTitle, tag);
            InitImageTable();
            if (portPanel) ShowPortName(*portPanel);
            g_panels.device = 3;
            g_multiImage = TagHasImageSeries(tag);
            look.secondBar = g_multiImage;
            break;
        case FrontEnd::Loader:
            look.title = DatedTitle(text::kLoaderTitle, tag);
            if (TagUsesAlternateSearch(tag)) {
                g_alternateSearch = true;
                look.picture = false;
                look.title += text::kAlternateSearchMark;
            }
            InitImageTable();
            break;
    }
    return look;
}

void ResetLoader(ProgressBar& progress, const GuideShower& showGuide) {
    progress.SetPosition(0);
    if (showGuide) showGuide(text::kLoaderGuide);
}

void StartMain(ProgressBar& progress, StatusBar& status) {
    if (SearchDevice(progress, status) == kSearchFound) PrgMode(progress, status);
}

void StartUpgrade(ProgressBar& progress, StatusBar& status, ProgressBar* imagesBar,
                  const std::function<bool()>& closeAsked) {
    const int pending = static_cast<std::int8_t>(MarkPending());
    if (imagesBar) {
        imagesBar->SetMin(0);
        imagesBar->SetMax(pending + 1);
        imagesBar->SetPosition(0);
    }
    // PrgMode returns how many images remain pending; 0 after the last one,
    // after a failure and after a stop.
    int r = 0;
    do {
        r = 0;
        if (SearchDevice(progress, status) == kSearchFound) {
            r = static_cast<std::int8_t>(PrgMode(progress, status));
            if (imagesBar) imagesBar->SetPosition(imagesBar->Max() - r);
        }
    } while (r != 0 && !(closeAsked && closeAsked()));
}

void StartLoader(ProgressBar& progress, StatusBar& status, const GuideShower& showGuide) {
    ResetLoader(progress, showGuide);
    const std::int16_t rc = SearchDevice(progress, status);
    Display* d = CurrentDisplay();
    if (rc == kSearchNotFound) {
        if (d) d->ShowStatus(text::kLoaderNotFound, clBlack);
    } else if (rc == kSearchPortUnusable) {
        if (d) d->ShowStatus(text::kPortNotValid, clRed);
    } else if (rc == kSearchFound) {
        PrgMode(progress, status);
    }
}

void StopFrontEnd(FrontEnd frontEnd, ProgressBar* progress) {
    if (frontEnd != FrontEnd::Main)
        if (Display* d = CurrentDisplay()) d->ShowIdle();
    g_stopRequest = true;
    if (frontEnd == FrontEnd::Loader && progress) progress->SetState(ProgressState::Error);
}

bool CloseFrontEnd(bool busy, std::string& portSetting) {
    if (busy) {
        g_stopRequest = true;
        return false;
    }
    if (g_portIndex == g_openPortIndex) ComPortClose(g_portIndex);
    portSetting = FormatPortSetting(g_portIndex);
    return true;
}

}  // namespace pelmark
