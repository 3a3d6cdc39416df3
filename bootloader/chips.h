// The chips the engine programs: one row per chip code the bootloader
// reports, with everything the pass needs of that chip.
#pragma once

#include <cstdint>

namespace pelmark {

enum class ChipFamily : std::uint8_t { Pic18, Pic24 };

struct ChipRow {
    std::uint8_t code;  // as the bootloader reports it
    const char* found;  // the device panel's text, from shell/texts.h
    std::int8_t slot;   // image table column
    ChipFamily family;
    int rowSize;      // bytes of a program row
    int addressUnit;  // image bytes per device address
    // The highest address written plus one is flashTop less the bootloader's
    // share: `reserved` bytes where given, else what the bootloader version
    // keeps (see BootloaderReserve).
    std::uint32_t flashTop;
    std::uint32_t reserved;
    // The jump to the bootloader's entry written over the image's reset
    // vector (little-endian instruction words), for bootloader versions 5
    // and up and, where the chip has one, for older versions.
    std::uint8_t resetVector[8];
    bool hasOldResetVector;
    std::uint8_t oldResetVector[8];
    int resetVectorCount;
    // PIC18F25K80/26K80: the last row is filled up to its end, and the
    // generic image's trailer keeps only its first four bytes.
    bool k80;
};

// The row of a chip code; nullptr for a chip the engine does not know.
const ChipRow* FindChip(std::uint8_t code);

// What bootloaders of a version keep at the top of a PIC18 chip's flash.
constexpr std::uint32_t BootloaderReserve(std::uint8_t bios) { return bios < 5 ? 0x140 : 0x1C0; }

// The chip's address limit under a bootloader of this version.
inline std::uint32_t AddressLimit(const ChipRow& chip, std::uint8_t bios) {
    return chip.flashTop - (chip.reserved != 0 ? chip.reserved : BootloaderReserve(bios));
}

}  // namespace pelmark
