#include <cstdio>

#include "bootloader/engine.h"
#include "serial/port_link.h"
#include "shell/display.h"
#include "shell/panels.h"
#include "shell/texts.h"

namespace pelmark {

bool g_alternateSearch = false;

namespace {

constexpr std::uint8_t kSearchMain = 0xC2;
constexpr std::uint8_t kSearchUpgrade = 0xC5;
constexpr std::uint8_t kSearchAlternate = 0xC6;
constexpr int kSearchTries = 100;

std::uint8_t SearchByte(FrontEnd fe) {
    if (fe == FrontEnd::Upgrade) return kSearchUpgrade;
    if (fe == FrontEnd::Loader && g_alternateSearch) return kSearchAlternate;
    return kSearchMain;
}

// Records how the search ended and returns its result.
std::int16_t EndSearch(EndKind kind, std::int16_t result, const char* shown) {
    g_searchEnd = EngineEnd{kind, result, shown};
    return result;
}

}  // namespace

std::int16_t SearchDevice(ProgressBar& progress, StatusBar& status) {
    Display* display = CurrentDisplay();
    // A new update: no end of its own yet.
    g_searchEnd = EngineEnd{};
    g_passEnd = EngineEnd{};
    g_openPortIndex = -1;
    if (display) display->HideOutcomeLabel();
    progress.SetPosition(0);
    progress.SetSmooth(true);
    ComPortOpen();
    ShowPortName(status);
    if (display) display->ShowBusy();
    if (static_cast<std::int16_t>(ComPortStatus(g_portIndex)) < 0) {
        if (display) display->ShowIdle();
        // The port layer showed that the port is invalid when it opened it.
        return EndSearch(EndKind::Failed, kSearchPortUnusable, text::kInvalidPortCom);
    }

    ResetReplyParser();
    // ... and its own counts.
    g_wireCounts = WireCounts{};
    g_linkCounts = LinkCounts{};
    g_pass.row = -1;
    g_pass.skipStart = 0;
    g_pass.skipLength = 0;
    ClearIdentity();

    const FrontEnd fe = ShowingFrontEnd();
    std::uint8_t searchByte = SearchByte(fe);
    progress.SetState(ProgressState::Paused);
    progress.SetMax(kSearchTries);

    bool found = false;
    for (int i = 0; i < kSearchTries; ++i) {
        ComPortDrain();
        ClearIdentity();
        if (fe == FrontEnd::Loader) {
            if (display) display->ShowStatus(text::kSearchDevice, clBlack);
            progress.SetPosition(kSearchTries - i);
        } else if (fe == FrontEnd::Upgrade) {
            progress.SetPosition(kSearchTries - i);
            status.SetPanelText(g_panels.message, text::kSearchDevice);
        } else {
            char tryText[24];
            std::snprintf(tryText, sizeof tryText, text::kTryPattern, i);
            status.SetPanelText(g_panels.message, tryText);
        }
        g_protocol.acknowledged = false;
        g_protocol.refused = false;
        ComPortWrite(g_portIndex, &searchByte, 1);
        const std::int16_t r = WaitReply(100);
        if (r == kReplyStop) {
            const char* shown = ShowPassError(kStopped);
            progress.SetPosition(0);
            return EndSearch(EndKind::Stopped, kSearchStopped, shown);
        }
        if (r == kReplyAck) {
            found = true;
            break;
        }
    }
    progress.SetState(ProgressState::Normal);
    progress.SetPosition(0);
    if (!found) {
        status.SetPanelText(g_panels.message, text::kDeviceNotFound);
        if (display) display->ShowIdle();
        return EndSearch(EndKind::Failed, kSearchNotFound, text::kDeviceNotFound);
    }
    return EndSearch(EndKind::Success, kSearchFound, nullptr);
}

Probe ProbeDevice(int ms) {
    if (g_portIndex < 0 || g_portIndex != g_openPortIndex) return Probe::NoPort;
    ComPortDrain();
    const std::uint64_t before = g_linkCounts.received;
    const std::uint8_t searchByte = SearchByte(ShowingFrontEnd());
    if (ComPortWrite(g_portIndex, &searchByte, 1) == 0) return Probe::NoPort;
    g_protocol.acknowledged = false;
    g_protocol.refused = false;
    if (WaitReply(ms) == kReplyStop) return Probe::Stopped;
    return g_linkCounts.received > before ? Probe::Answered : Probe::Silent;
}

}  // namespace pelmark
