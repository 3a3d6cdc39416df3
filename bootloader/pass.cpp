#include <cstdio>

#include "bootloader/engine.h"
#include "serial/port_link.h"
#include "shell/display.h"
#include "shell/panels.h"
#include "shell/texts.h"

namespace pelmark {

bool g_multiImage = false;
EngineEnd g_searchEnd;
EngineEnd g_passEnd;

namespace {

constexpr std::uint8_t kEntryByte = 0xCC;
constexpr int kRecordWaitIterations = 251;
// Bootloader versions from this one on speak a protocol the engine does not.
constexpr std::uint8_t kFirstIncompatibleBios = 33;
// The slot whose image restarts the device: the pass waits for it.
constexpr std::int8_t kRestartingSlot = 9;

// Records how the pass ended and gives PrgMode's result.
int EndPass(EndKind kind, std::int16_t code, const char* shown, int result) {
    g_passEnd = EngineEnd{kind, code, shown};
    return result;
}

// The one failure exit: the failure's text is already shown.
int FailPass(std::int16_t code, const char* shown) {
    return EndPass(code == kStopped ? EndKind::Stopped : EndKind::Failed, code, shown, 0);
}

// Bootloaders with a device record send it after their identity.
void WaitForRecord() {
    ProtocolState& proto = g_protocol;
    if (!HasDeviceRecord(proto.identity.bios)) return;
    for (int i = 0; i < kRecordWaitIterations; ++i) {
        if (proto.record.complete) break;
        ParseReplies();
        PumpDelay(5);
    }
}

// A multi-image run meets a slot it has written already: the slot's
// follow-up action takes the place of writing it. False for a slot without
// one (it is written again).
bool RunFollowUp(std::int8_t slot) {
    switch (FollowUpAction(slot)) {
        case kFollowUpWait:
            SleepMs(1000);  // deliberately blocking: the device restarts meanwhile
            return true;
        case kFollowUpUnlock:
            SendUnlockFrame();
            PumpDelay(300);
            ComPortDiscard();
            SendCommand4();
            PumpDelay(300);
            ComPortDiscard();
            return true;
        case kFollowUpNone:
            break;
    }
    return false;
}

// The chip's facts, the image's codes and its suitability, with the
// identity shown in between.
bool PrepareTarget(Display* display, StatusBar& status, EngineEnd* failure) {
    g_pass.k80 = false;
    if (!IdentifyTarget(status, failure)) return false;
    ReadImageCodes();
    if (display) display->ShowImageKind(g_pass.image.plain != 0);
    ShowIdentity();
    return CheckSuitability(status, failure);
}

void ShowLoaded(StatusBar& status) {
    char line[64];
    std::snprintf(line, sizeof line, text::kLoadedPattern,
                  static_cast<int>(g_pass.image.programLength / g_pass.addressUnit), 0u,
                  static_cast<unsigned>(g_pass.transferLength / g_pass.addressUnit));
    status.SetPanelText(g_panels.info, line);
}

// Bootloaders from version 5 that sent a "V" record take the entry byte.
void EnterProgramming(StatusBar& status) {
    ProtocolState& proto = g_protocol;
    ForgetLastFrame();
    if (!proto.identityRecordSeen || proto.identity.bios < 5) return;
    status.SetPanelText(g_panels.message, text::kEntryInPrgMode);
    proto.acknowledged = false;
    proto.refused = false;
    std::uint8_t entry = kEntryByte;
    ComPortWrite(g_portIndex, &entry, 1);
    // The bootloader enters programming either way; an answer that has
    // not come yet may still come, and be taken for a frame's.
    if (WaitReply(2000) == kReplyTimeout) g_verdictsInDoubt = true;
}

// Program rows, the trailer row, the EEPROM, then the check that no
// verdict trails the last frame; the first failure's code, else kOk.
std::int16_t WriteImage(ProgressBar& progress, StatusBar& status) {
    std::int16_t r = TransferProgram(progress, status);
    if (r != kOk) return r;
    r = WriteTrailerRow(status);
    if (r != kOk) return r;
    if (g_pass.image.eepromCount > 0) {
        r = WriteEeprom(progress, status);
        if (r != kOk) return r;
    }
    // A verdict after the last frame belongs to no frame: the verdicts of
    // this pass may each have been taken for the frame after their own.
    return ConfirmLastFrame();
}

// Returns the success text shown.
const char* ShowSuccess(Display* display, FrontEnd fe, StatusBar& status) {
    switch (fe) {
        case FrontEnd::Loader:
            if (display) {
                display->ShowStatus(text::kLoaderUpdated, clGreen);
                display->ShowIdle();
            }
            return text::kLoaderUpdated;
        case FrontEnd::Upgrade:
            status.SetPanelText(g_panels.message, text::kUpgradeProgramOk);
            if (display) display->ShowIdle();
            return text::kUpgradeProgramOk;
        case FrontEnd::Main:
            if (display) {
                display->ShowOutcome(text::kProgramOk, clGreen, kOutcomeSuccess);
                display->ShowIdle();
            }
            return text::kProgramOk;
    }
    return nullptr;
}

// A multi-image pass gives the number of images still to write.
int FinishMultiImage(std::int8_t slot) {
    if (slot == kRestartingSlot) {
        PumpDelay(2000);
        ComPortDiscard();
    }
    return static_cast<std::int8_t>(g_pendingCount);
}

}  // namespace

int PrgMode(ProgressBar& progress, StatusBar& status) {
    Display* display = CurrentDisplay();
    const FrontEnd fe = ShowingFrontEnd();

    g_pass.rowSize = 64;
    progress.SetPosition(0);
    progress.SetSmooth(false);

    if (g_protocol.identity.bios >= kFirstIncompatibleBios) {
        ShowIdentity();
        return FailPass(kIncompatible, ShowPassError(kIncompatible));
    }
    WaitForRecord();
    if (!g_protocol.identityRecordSeen) g_protocol.identity.board = 2;

    const std::int8_t slot = SelectImage(g_protocol.identity.chip, g_protocol.identity.board);
    if (g_multiImage && PendingFlag(slot) == kPendingDone && RunFollowUp(slot))
        return EndPass(EndKind::Skipped, kOk, nullptr, 1);

    EngineEnd failure;
    if (!PrepareTarget(display, status, &failure)) return FailPass(failure.code, failure.text);
    if (fe == FrontEnd::Main) ShowLoaded(status);
    EnterProgramming(status);

    if (display) display->ShowStatus(text::kProgramming, clBtnFace);
    const std::int16_t r = WriteImage(progress, status);
    if (r != kOk) return FailPass(r, ShowPassError(r));

    progress.SetPosition(0);
    const char* shown = ShowSuccess(display, fe, status);
    MarkSlotDone(slot);
    const int result = g_multiImage ? FinishMultiImage(slot) : 0;
    return EndPass(EndKind::Success, kOk, shown, result);
}

void ResetEngineState() {
    g_protocol = ProtocolState{};
    g_pass = PassState{};
    g_wireCounts = WireCounts{};
    g_linkCounts = LinkCounts{};
    g_stopRequest = false;
    g_alternateSearch = false;
    g_multiImage = false;
    g_searchEnd = EngineEnd{};
    g_passEnd = EngineEnd{};
    SetFastVerdicts(false);
    g_framesRepeatable = true;
    ForgetLastFrame();
    g_panels = PanelIndex{};
}

}  // namespace pelmark
