#include "cli/update_summary.h"

#include <cstring>

#include "bootloader/chips.h"
#include "report/board_names.h"
#include "serial/port_link.h"

namespace pelmark::cli {

const char* EndKindName(EndKind kind) {
    switch (kind) {
        case EndKind::Success:
            return "success";
        case EndKind::Failed:
            return "failed";
        case EndKind::Stopped:
            return "stopped";
        case EndKind::Skipped:
            return "skipped";
        case EndKind::None:
            break;
    }
    return "none";
}

std::string FailureHint(const UpdateSummary& s) {
    if (s.success) return {};
    if (s.search.kind == EndKind::Failed && s.search.code == kSearchNotFound) {
        if (s.bytesReceived == 0)
            return "hint: no byte came back in 100 tries: the device is not in its bootloader, or this is not "
                   "its port";
        return "hint: bytes came back but never an identity: the device talks at another baud rate, or it is "
               "not a bootloader";
    }
    if (s.pass.kind != EndKind::Failed) return {};
    if (s.pass.code == kRefused && s.wire.refusedFrames >= 2)
        return "hint: the device refused " + std::to_string(s.wire.refusedFrames) +
               " rows: line noise; check the cable, its ground and the adapter";
    if (s.pass.code == kNoReply && s.wire.frames > 0)
        return "hint: the device went silent after " + std::to_string(s.wire.frames) +
               " frames: it reset or lost power";
    return {};
}

UpdateSummary SummarizeUpdate(const std::string& outcome, bool success, double seconds, int exitStatus) {
    UpdateSummary s;
    s.found = g_searchEnd.kind == EndKind::Success;
    s.search = g_searchEnd;
    s.pass = g_passEnd;
    s.outcome = outcome;
    s.success = success;
    s.seconds = seconds;
    s.exitStatus = exitStatus;
    s.wire = g_wireCounts;
    s.bytesSent = g_linkCounts.sent;
    s.bytesReceived = g_linkCounts.received;

    if (s.found) {
        s.identityKnown = true;
        s.identity = g_protocol.identity;
        if (const ChipRow* chip = FindChip(s.identity.chip)) {
            constexpr char kFoundPrefix[] = "Found ";
            const char* name = chip->found;
            if (std::strncmp(name, kFoundPrefix, sizeof kFoundPrefix - 1) == 0) name += sizeof kFoundPrefix - 1;
            s.chipName = name;
        }
        if (const char* board = BoardName(s.identity.board)) s.boardName = board;
        if (HasDeviceRecord(s.identity.bios)) s.recordText = g_protocol.record.text;
    }
    // The pass chose an image for this device (the search of this update
    // began after the pass before, so a row set now is this update's).
    if (s.found && g_passEnd.kind != EndKind::None && g_pass.row >= 0) {
        s.slot = g_pass.slot;
        s.row = g_pass.row;
        if (g_pass.image.programLength > 1) {
            s.program = g_pass.image.program;
            s.programLength = static_cast<std::size_t>(g_pass.image.programLength);
        }
        if (g_pass.image.eepromCount > 0) {
            s.eeprom = g_pass.image.eeprom;
            s.eepromLength = static_cast<std::size_t>(g_pass.image.eepromCount);
        }
    }
    return s;
}

}  // namespace pelmark::cli
