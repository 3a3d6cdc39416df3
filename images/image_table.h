// The image table: 255 board rows by 47 slot columns, indexing the firmware
// the build carries, with the pending marks of a multi-image run.
#pragma once

#include <cstdint>

#include "images/carried_images.h"

namespace pelmark {

constexpr int kImageRows = 255;
constexpr int kImageSlots = 47;
constexpr int kAssignedSlots = 10;

constexpr std::uint8_t kPendingNoImage = 255;
constexpr std::uint8_t kPendingYes = 1;
constexpr std::uint8_t kPendingDone = 0;

// What a multi-image pass does instead of writing a slot already written:
// the device restarts on its own (wait for it), or it is unlocked and told
// to restart.
enum FollowUp : std::uint8_t { kFollowUpNone = 0, kFollowUpWait = 1, kFollowUpUnlock = 2 };

struct ImageTableEntry {
    std::uint8_t* trailer;
    std::int32_t trailerCount;
    std::uint8_t* program;
    std::int32_t programLength;  // 1 or less: no image
    std::uint8_t* eeprom;
    std::int32_t eepromCount;
    std::int8_t plain;  // 0: program data stored masked
    std::uint8_t boardCode;
    std::uint8_t preparationCode;
    std::uint8_t pending;   // row 0 only
    FollowUp followUp;      // row 0 only
};

extern ImageTableEntry g_imageTable[kImageRows][kImageSlots];
extern std::uint8_t g_pendingCount;

inline bool HoldsImage(const ImageTableEntry& e) { return e.programLength > 1; }

void InitImageTable();
void InitImageTable(const CarriedImages& images);
std::uint8_t MarkPending();
std::uint8_t PendingFlag(std::int8_t slot);
FollowUp FollowUpAction(std::int8_t slot);
void MarkSlotDone(std::int8_t slot);

// Chip family of a slot: slots 6 and 7 are PIC24/dsPIC33, the others PIC18.
inline bool IsPic24Slot(int slot) { return slot == 6 || slot == 7; }

// A masked image carries its board and preparation codes in its first row:
// at byte 14 for PIC18 chips, at byte 0x400 for PIC24/dsPIC33 chips.
constexpr std::int32_t kPic18CodeOffset = 14;
constexpr std::int32_t kPic24CodeOffset = 0x400;
inline std::int32_t ImageCodeOffset(bool pic24) { return pic24 ? kPic24CodeOffset : kPic18CodeOffset; }

struct ImageCodes {
    std::uint8_t board = 0;
    std::uint8_t preparation = 0;
};
// Reads (unmasks) the codes of a masked image; false, and *codes untouched,
// for an image too short to hold them.
bool ReadMaskedCodes(const ImageTableEntry& e, bool pic24, ImageCodes* codes);

}  // namespace pelmark
