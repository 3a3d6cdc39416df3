#include <cstdio>
#include <cstring>

#include "bootloader/engine.h"
#include "bootloader/chips.h"
#include "report/board_names.h"
#include "shell/display.h"
#include "shell/panels.h"
#include "shell/texts.h"

namespace pelmark {

PassState g_pass;

namespace {

void Outcome(const char* shown, Colour colour) {
    if (Display* d = CurrentDisplay()) d->ShowOutcome(shown, colour, kOutcomeFailure);
}

// Returns the outcome text shown; the Upgrade window shows none.
const char* ShowSizeMessage(StatusBar& status, const char* outcome) {
    switch (ShowingFrontEnd()) {
        case FrontEnd::Loader:
            Outcome(outcome, clRed);
            return outcome;
        case FrontEnd::Upgrade:
            return nullptr;
        case FrontEnd::Main:
            Outcome(outcome, clRed);
            status.SetPanelText(g_panels.device, text::kWarning);
            ShowIdentity();
            return outcome;
    }
    return nullptr;
}

bool Fail(EngineEnd* end, std::int16_t code, const char* shown) {
    if (end != nullptr) *end = EngineEnd{EndKind::Failed, code, shown};
    return false;
}

bool PreparationMatches(std::uint8_t d, std::uint8_t m) {
    if (d == m) return true;
    if (d == 3 && (m & 0x80)) return true;
    if ((d & 0x80) && (m & 0x80)) return true;
    bool mismatch = (d & 0x10) && !(m & 0x10);
    const std::uint8_t mm = m & 0x6F;
    const std::uint8_t n = d & 0x0F;
    bool accepted = false;
    switch (n) {
        case 1:
            accepted = mm == 1 || mm == 4;
            break;
        case 2:
            accepted = mm == 1 || mm == 2 || mm == 4;
            break;
        case 5:
            accepted = mm == 4 || mm == 5;
            break;
        default:
            accepted = mm == n;
            break;
    }
    if (!accepted) mismatch = true;
    return !mismatch;
}

}  // namespace

std::int8_t SelectImage(std::uint8_t chip, std::uint8_t board) {
    const ChipRow* c = FindChip(chip);
    const std::int8_t slot = c ? c->slot : 0;
    // Board code 255 has no row of its own: it takes the generic image.
    const int row = board < kImageRows ? board : 0;
    const ImageTableEntry* e = &g_imageTable[row][slot];
    g_pass.row = row;
    if (e->programLength <= 1) {
        e = &g_imageTable[0][slot];
        g_pass.row = 0;
    }
    g_pass.image = *e;
    g_pass.slot = slot;
    return slot;
}

bool IdentifyTarget(StatusBar& status, EngineEnd* end) {
    const DeviceIdentity& id = g_protocol.identity;
    g_pass.addressUnit = 1;
    const ChipRow* chip = FindChip(id.chip);
    if (chip == nullptr) {
        Outcome(text::kUnknownDeviceError, clRed);
        status.SetPanelText(g_panels.device, text::kUnknowDevice);
        return Fail(end, kUnknownChip, text::kUnknownDeviceError);
    }

    // Chips without a vector for old bootloaders keep the previous one.
    if (id.bios >= 5 || chip->hasOldResetVector) {
        std::memcpy(g_pass.resetVector, id.bios >= 5 ? chip->resetVector : chip->oldResetVector,
                    sizeof g_pass.resetVector);
        g_pass.resetVectorCount = chip->resetVectorCount;
    }
    g_pass.addressUnit = chip->addressUnit;
    g_pass.rowSize = chip->rowSize;

    if (chip->k80) {
        g_pass.k80 = true;
        ImageTableEntry& e = g_imageTable[0][chip->slot];
        for (std::int32_t j = 4; j < e.trailerCount; ++j) e.trailer[j] = 0;
    }

    g_pass.addressLimit = AddressLimit(*chip, id.bios);
    const std::int32_t length = g_pass.image.programLength;
    if (chip->family == ChipFamily::Pic18) {
        const auto limit = static_cast<std::int32_t>(g_pass.addressLimit);
        g_pass.transferLength = length < limit ? length : limit;
    } else {
        g_pass.transferLength = length;
    }

    if (chip->family == ChipFamily::Pic24 && 2 * static_cast<std::int64_t>(g_pass.addressLimit) < length) {
        return Fail(end, kImageTooBig, ShowImageTooBig(status));
    }
    if (length <= 1) {
        return Fail(end, kNoImage, ShowNoImage(status));
    }
    status.SetPanelText(g_panels.device, chip->found);
    return true;
}

void ReadImageCodes() {
    const DeviceIdentity& id = g_protocol.identity;
    const ChipRow* chip = FindChip(id.chip);
    if (chip == nullptr) return;
    ImageTableEntry& img = g_pass.image;
    if (img.plain == 0) {
        // The codes sit in the first row of a masked image; an image too short
        // to hold them keeps the codes of its table entry.
        ImageCodes codes;
        if (ReadMaskedCodes(img, chip->family == ChipFamily::Pic24, &codes)) {
            img.boardCode = codes.board;
            img.preparationCode = codes.preparation;
        }
    }
    if (chip->family == ChipFamily::Pic24 && HasDeviceRecord(id.bios)) {
        g_pass.skipStart = g_protocol.record.skipStart;
        g_pass.skipLength = g_protocol.record.skipLength;
    }
}

bool CheckSuitability(StatusBar& status, EngineEnd* end) {
    const ImageTableEntry& img = g_pass.image;
    if (img.boardCode == 0 || img.boardCode == 255 || !g_protocol.identityRecordSeen) return true;
    const DeviceIdentity& id = g_protocol.identity;
    bool mismatch = img.boardCode != id.board && !(img.boardCode == 0x20 && id.board == 0x10);
    if (!PreparationMatches(id.preparation, img.preparationCode)) mismatch = true;
    if (!mismatch) return true;
    // The text shown is made here; the end record points at it until the
    // next unsuitable image.
    static char outcome[64];
    std::snprintf(outcome, sizeof outcome, text::kUnsuitablePattern, BoardName(img.boardCode),
                  img.preparationCode);
    Outcome(outcome, clRed);
    status.SetPanelText(g_panels.device, text::kWarningBang);
    status.SetPanelText(g_panels.info, text::kNotSuitableApparatus);
    return Fail(end, kUnsuitable, outcome);
}

const char* ShowNoImage(StatusBar& status) { return ShowSizeMessage(status, text::kNoHexInside); }

const char* ShowImageTooBig(StatusBar& status) { return ShowSizeMessage(status, text::kHexTooBig); }

}  // namespace pelmark
