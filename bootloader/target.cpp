#include <cstdio>
#include <cstring>

#include "bootloader/engine.h"
#include "images/mask.h"
#include "report/board_names.h"
#include "shell/display.h"
#include "shell/panels.h"

namespace pelmark {

PassState g_pass;

namespace {

enum class Family { Pic18, Pic24 };

struct ChipRow {
    std::uint8_t code;
    const char* found;
    std::int8_t slot;
    Family family;
};

constexpr ChipRow kChips[] = {
    {0x42, "Found 258", 0, Family::Pic18},
    {0x43, "Found 2580", 1, Family::Pic18},
    {0x44, "Found 2480", 2, Family::Pic18},
    {0x45, "Found 248", 3, Family::Pic18},
    {0x46, "Found 2320", 4, Family::Pic18},
    {0x47, "Found 18F25k80", 8, Family::Pic18},
    {0x48, "Found 18F26k80", 9, Family::Pic18},
    {0xC7, "Found 24j10", 5, Family::Pic18},
    {0xFC, "Found 33FJ64", 6, Family::Pic24},
    {0xFE, "Found 24HJ64", 6, Family::Pic24},
    {0xFD, "Found 33FJ128 - 24HJ128", 7, Family::Pic24},
};

const ChipRow* FindChip(std::uint8_t code) {
    for (const ChipRow& c : kChips)
        if (c.code == code) return &c;
    return nullptr;
}

// Jump to the bootloader's entry, as stored in the image (little-endian
// instruction words), by chip code and bootloader version.
struct ResetVector {
    std::uint8_t code;
    bool hasOld;  // an entry for bootloader versions below 5
    std::uint8_t old[8];
    std::uint8_t current[8];
    int count;
};

constexpr ResetVector kResetVectors[] = {
    {0x42, true, {0x80, 0xEF, 0x3F, 0xF0}, {0x40, 0xEF, 0x3F, 0xF0}, 4},
    {0x43, true, {0x80, 0xEF, 0x3F, 0xF0}, {0x40, 0xEF, 0x3F, 0xF0}, 4},
    {0x44, true, {0x80, 0xEF, 0x1F, 0xF0}, {0x40, 0xEF, 0x1F, 0xF0}, 4},
    {0x45, true, {0x80, 0xEF, 0x1F, 0xF0}, {0x40, 0xEF, 0x1F, 0xF0}, 4},
    {0x46, true, {0x80, 0xEF, 0x0F, 0xF0}, {0x80, 0xEF, 0x0F, 0xF0}, 4},
    {0x47, false, {}, {0x40, 0xEF, 0x3F, 0xF0}, 4},
    {0x48, false, {}, {0x40, 0xEF, 0x7F, 0xF0}, 4},
    {0xC7, true, {0x00, 0xEF, 0x1E, 0xF0}, {0x00, 0xEF, 0x1E, 0xF0}, 4},
    {0xFC, true, {0x00, 0xA8, 0x04, 0x00, 0, 0, 0, 0}, {0x00, 0xA8, 0x04, 0x00, 0, 0, 0, 0}, 8},
    {0xFE, true, {0x00, 0xA8, 0x04, 0x00, 0, 0, 0, 0}, {0x00, 0xA8, 0x04, 0x00, 0, 0, 0, 0}, 8},
    {0xFD, true, {0x00, 0x54, 0x04, 0x00, 0x01, 0, 0, 0}, {0x00, 0x54, 0x04, 0x00, 0x01, 0, 0, 0}, 8},
};

std::uint32_t AddressLimit(std::uint8_t code, std::uint32_t reserved) {
    switch (code) {
        case 0x42:
        case 0x43:
        case 0x47:
            return 0x8000 - reserved;
        case 0x44:
        case 0x45:
            return 0x4000 - reserved;
        case 0x46:
            return 0x2000 - reserved;
        case 0x48:
            return 0x10000 - reserved;
        case 0xC7:
            return 0x4000 - 0x440;
        case 0xFC:
        case 0xFE:
            return 0xA800 - 128;
        case 0xFD:
            return 0x15400 - 128;
        default:
            return 0;
    }
}

void Outcome(const char* text, Colour colour) {
    if (Display* d = CurrentDisplay()) d->ShowOutcome(text, colour, kOutcomeFailure);
}

FrontEnd Showing() {
    Display* d = CurrentDisplay();
    return d ? d->Showing() : FrontEnd::Main;
}

void ShowSizeMessage(StatusBar& status, const char* text) {
    switch (Showing()) {
        case FrontEnd::Loader:
            Outcome(text, clRed);
            break;
        case FrontEnd::Upgrade:
            break;
        case FrontEnd::Main:
            Outcome(text, clRed);
            status.SetPanelText(g_panels.device, "Warning");
            ShowIdentity();
            break;
    }
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
    if (e->programLength <= 1) e = &g_imageTable[0][slot];
    g_pass.image = *e;
    g_pass.slot = slot;
    return slot;
}

bool IdentifyTarget(StatusBar& status) {
    const DeviceIdentity& id = g_protocol.identity;
    g_pass.addressUnit = 1;
    const std::uint32_t reserved = id.bios < 5 ? 0x140 : 0x1C0;
    const ChipRow* chip = FindChip(id.chip);
    if (chip == nullptr) {
        Outcome(" Error !! ", clRed);
        status.SetPanelText(g_panels.device, "Unknow Device");
        return false;
    }

    for (const ResetVector& rv : kResetVectors) {
        if (rv.code != id.chip) continue;
        // Chips without a vector for old bootloaders keep the previous one.
        if (id.bios >= 5 || rv.hasOld) {
            std::memcpy(g_pass.resetVector, id.bios >= 5 ? rv.current : rv.old, sizeof g_pass.resetVector);
            g_pass.resetVectorCount = rv.count;
        }
    }
    if (chip->family == Family::Pic24) {
        g_pass.addressUnit = 2;
        g_pass.rowSize = 128 * g_pass.addressUnit;
    }

    if (id.chip == 0x47 || id.chip == 0x48) {
        g_pass.k80 = true;
        ImageTableEntry& e = g_imageTable[0][id.chip == 0x47 ? 8 : 9];
        for (std::int32_t j = 4; j < e.trailerCount; ++j) e.trailer[j] = 0;
    }

    g_pass.addressLimit = AddressLimit(id.chip, reserved);
    const std::int32_t length = g_pass.image.programLength;
    if (chip->family == Family::Pic18) {
        const auto limit = static_cast<std::int32_t>(g_pass.addressLimit);
        g_pass.transferLength = length < limit ? length : limit;
    } else {
        g_pass.transferLength = length;
    }

    if (chip->family == Family::Pic24 && 2 * static_cast<std::int64_t>(g_pass.addressLimit) < length) {
        ShowImageTooBig(status);
        return false;
    }
    if (length <= 1) {
        ShowNoImage(status);
        return false;
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
        const std::int32_t at = chip->family == Family::Pic18 ? 14 : 0x400;
        if (img.programLength > at + 1) {
            img.boardCode = img.program[at] ^ Mask(0);
            img.preparationCode = img.program[at + 1] ^ Mask(0);
        }
    }
    if (chip->family == Family::Pic24 && id.bios >= 8 && id.bios <= 31) {
        g_pass.skipStart = g_protocol.record.skipStart;
        g_pass.skipLength = g_protocol.record.skipLength;
    }
}

bool CheckSuitability(StatusBar& status) {
    const ImageTableEntry& img = g_pass.image;
    if (img.boardCode == 0 || img.boardCode == 255 || !g_protocol.identityRecordSeen) return true;
    const DeviceIdentity& id = g_protocol.identity;
    bool mismatch = img.boardCode != id.board && !(img.boardCode == 0x20 && id.board == 0x10);
    if (!PreparationMatches(id.preparation, img.preparationCode)) mismatch = true;
    if (!mismatch) return true;
    char text[64];
    std::snprintf(text, sizeof text, "%s - Preparation %x", BoardName(img.boardCode), img.preparationCode);
    Outcome(text, clRed);
    status.SetPanelText(g_panels.device, "Warning!!");
    status.SetPanelText(g_panels.info, "not suitable apparatus");
    return false;
}

void ShowNoImage(StatusBar& status) { ShowSizeMessage(status, " No Hex inside !! "); }

void ShowImageTooBig(StatusBar& status) { ShowSizeMessage(status, " Hex too Big !! "); }

}  // namespace pelmark
