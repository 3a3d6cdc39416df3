#include "images/image_table.h"

#include "images/mask.h"

namespace pelmark {

ImageTableEntry g_imageTable[kImageRows][kImageSlots];
std::uint8_t g_pendingCount = 0;

namespace {

// Slots without a carried image point at one-byte zero arrays of their own.
struct Placeholder {
    std::uint8_t trailer[1];
    std::uint8_t program[1];
    std::uint8_t eeprom[1];
};
Placeholder g_placeholders[kImageRows][kAssignedSlots];

const ImageDescriptor* FindImage(const CarriedImages& images, int row, int slot) {
    for (int i = 0; i < images.count; ++i)
        if (images.images[i].row == row && images.images[i].slot == slot) return &images.images[i];
    return nullptr;
}

// Fills trailer, program and EEPROM of one entry from its descriptor, or with
// a placeholder (counts 1; EEPROM count 0 for slot 8).
void FillData(ImageTableEntry& e, const ImageDescriptor* d, int row, int slot) {
    if (d != nullptr) {
        e.trailer = d->trailer;
        e.trailerCount = d->trailerCount;
        e.program = d->program;
        e.programLength = d->programLength;
        e.eeprom = d->eeprom;
        e.eepromCount = d->eepromCount;
        return;
    }
    Placeholder& p = g_placeholders[row][slot];
    p = Placeholder{};
    e.trailer = p.trailer;
    e.trailerCount = 1;
    e.program = p.program;
    e.programLength = 1;
    e.eeprom = p.eeprom;
    e.eepromCount = slot == 8 ? 0 : 1;
}

struct BoardEntry {
    int row;
    int slot;
};
constexpr BoardEntry kBoardEntries[] = {
    {2, 0}, {4, 0}, {5, 0}, {6, 0}, {2, 1}, {4, 1}, {5, 1}, {6, 1},
    {5, 6}, {6, 6}, {7, 6}, {8, 6}, {11, 6}, {16, 6}, {19, 6},
};

}  // namespace

void InitImageTable() { InitImageTable(BuildImages()); }

void InitImageTable(const CarriedImages& images) {
    for (auto& row : g_imageTable)
        for (auto& entry : row) entry.programLength = 0;

    for (int slot = 0; slot < kAssignedSlots; ++slot) {
        ImageTableEntry& e = g_imageTable[0][slot];
        const ImageDescriptor* d = FindImage(images, 0, slot);
        FillData(e, d, 0, slot);
        e.plain = (d != nullptr && IsPic24Slot(slot) && d->plain) ? 1 : 0;
        e.boardCode = (d != nullptr && slot == 6) ? d->board : 0;
        e.preparationCode = (d != nullptr && slot == 6) ? d->preparation : 0;
    }

    for (const BoardEntry& b : kBoardEntries) {
        ImageTableEntry& e = g_imageTable[b.row][b.slot];
        FillData(e, FindImage(images, b.row, b.slot), b.row, b.slot);
        e.plain = 0;
        e.boardCode = 0;
        e.preparationCode = 0;
    }
    // Boards 16 and 32 share one image.
    g_imageTable[32][6] = g_imageTable[16][6];

    MarkPending();
}

std::uint8_t MarkPending() {
    g_pendingCount = 0;
    for (int slot = 0; slot < kAssignedSlots; ++slot) {
        ImageTableEntry& e = g_imageTable[0][slot];
        e.pending = kPendingNoImage;
        if (e.programLength > 10) {
            e.pending = kPendingYes;
            ++g_pendingCount;
        }
    }
    g_imageTable[0][7].followUp = kFollowUpUnlock;
    g_imageTable[0][6].followUp = kFollowUpUnlock;
    g_imageTable[0][9].followUp = kFollowUpWait;
    return g_pendingCount;
}

std::uint8_t PendingFlag(std::int8_t slot) { return g_imageTable[0][slot].pending; }

FollowUp FollowUpAction(std::int8_t slot) { return g_imageTable[0][slot].followUp; }

bool ReadMaskedCodes(const ImageTableEntry& e, bool pic24, ImageCodes* codes) {
    const std::int32_t at = ImageCodeOffset(pic24);
    if (e.programLength <= at + 1) return false;
    codes->board = static_cast<std::uint8_t>(e.program[at] ^ Mask(0));
    codes->preparation = static_cast<std::uint8_t>(e.program[at + 1] ^ Mask(0));
    return true;
}

void MarkSlotDone(std::int8_t slot) {
    ImageTableEntry& e = g_imageTable[0][slot];
    if (e.pending == kPendingYes) --g_pendingCount;
    e.pending = kPendingDone;
}

}  // namespace pelmark
