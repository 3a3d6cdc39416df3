#include <cstdio>

#include "bootloader/engine.h"
#include "report/board_names.h"
#include "serial/port_link.h"
#include "shell/display.h"
#include "shell/panels.h"

namespace pelmark {

bool g_multiImage = false;
EngineEnd g_searchEnd;
EngineEnd g_passEnd;

namespace {

constexpr std::uint8_t kEntryByte = 0xCC;
constexpr int kRecordWaitIterations = 251;

bool InRecordRange(std::uint8_t bios) { return bios >= 8 && bios <= 31; }

}  // namespace

int PrgMode(ProgressBar& progress, StatusBar& status) {
    Display* display = CurrentDisplay();
    const FrontEnd fe = display ? display->Showing() : FrontEnd::Main;
    ProtocolState& proto = g_protocol;

    g_pass.rowSize = 64;
    progress.SetPosition(0);
    progress.SetSmooth(false);

    if (proto.identity.bios >= 33) {
        ShowIdentity();
        ShowPassError(kIncompatible);
        return 0;
    }

    // Bootloaders 8 to 31 follow their identity with a device record.
    if (InRecordRange(proto.identity.bios)) {
        for (int i = 0; i < kRecordWaitIterations; ++i) {
            if (proto.record.complete) break;
            ParseReplies();
            PumpDelay(5);
        }
    }

    if (!proto.identityRecordSeen) proto.identity.board = 2;

    const std::int8_t slot = SelectImage(proto.identity.chip, proto.identity.board);

    if (g_multiImage && PendingFlag(slot) == kPendingDone) {
        switch (FollowUpAction(slot)) {
            case 1:
                SleepMs(1000);  // deliberately blocking: the device restarts meanwhile
                return 1;
            case 2:
                SendUnlockFrame();
                PumpDelay(300);
                ComPortDiscard();
                SendCommand4();
                PumpDelay(300);
                ComPortDiscard();
                return 1;
            default:
                break;
        }
    }

    g_pass.k80 = false;
    if (!IdentifyTarget(status)) return 0;
    ReadImageCodes();
    if (display) display->ShowImageKind(g_pass.image.plain != 0);
    ShowIdentity();
    if (!CheckSuitability(status)) return 0;

    if (fe == FrontEnd::Main) {
        char text[64];
        std::snprintf(text, sizeof text, "Loaded %d bytes (%04X to %04X)",
                      static_cast<int>(g_pass.image.programLength / g_pass.addressUnit), 0u,
                      static_cast<unsigned>(g_pass.transferLength / g_pass.addressUnit));
        status.SetPanelText(g_panels.info, text);
    }

    ForgetLastFrame();
    if (proto.identityRecordSeen && proto.identity.bios >= 5) {
        status.SetPanelText(g_panels.message, "Entry in PrgMode");
        proto.acknowledged = false;
        proto.refused = false;
        std::uint8_t entry = kEntryByte;
        ComPortWrite(g_portIndex, &entry, 1);
        // The bootloader enters programming either way; an answer that has
        // not come yet may still come, and be taken for a frame's.
        if (WaitReply(2000) == kReplyTimeout) g_verdictsInDoubt = true;
    }

    if (display) display->ShowStatus(" Programming... ", clBtnFace);

    std::int16_t r = TransferProgram(progress, status);
    if (r != kOk) {
        ShowPassError(r);
        return 0;
    }
    r = WriteTrailerRow(status);
    if (r != kOk) {
        ShowPassError(r);
        return 0;
    }
    if (g_pass.image.eepromCount > 0) {
        r = WriteEeprom(progress, status);
        if (r != kOk) {
            ShowPassError(r);
            return 0;
        }
    }
    // A verdict after the last frame belongs to no frame: the verdicts of
    // this pass may each have been taken for the frame after their own.
    r = ConfirmLastFrame();
    if (r != kOk) {
        ShowPassError(r);
        return 0;
    }

    progress.SetPosition(0);
    switch (fe) {
        case FrontEnd::Loader:
            if (display) {
                display->ShowStatus("Successfully updated", clGreen);
                display->ShowIdle();
            }
            break;
        case FrontEnd::Upgrade:
            status.SetPanelText(g_panels.message, "Program OK");
            if (display) display->ShowIdle();
            break;
        case FrontEnd::Main:
            if (display) {
                display->ShowOutcome(" Program Ok ", clGreen, kOutcomeSuccess);
                display->ShowIdle();
            }
            break;
    }

    MarkSlotDone(slot);

    if (g_multiImage) {
        if (slot == 9) {
            PumpDelay(2000);
            ComPortDiscard();
        }
        return static_cast<std::int8_t>(g_pendingCount);
    }
    return 0;
}

void ResetEngineState() {
    g_protocol = ProtocolState{};
    g_pass = PassState{};
    g_stopRequest = false;
    g_alternateSearch = false;
    g_multiImage = false;
    g_searchEnd = EngineEnd{};
    g_passEnd = EngineEnd{};
    SetFastVerdicts(false);
    g_framesRepeatable = true;
    ForgetLastFrame();
}

}  // namespace pelmark
