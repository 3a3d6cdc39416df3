// The firmware a program carries: descriptors of writable arrays generated at
// build time from a manifest of Intel HEX files (tools/fwgen). Every program
// links exactly one generated image set, which defines BuildImages().
#pragma once

#include <cstdint>

namespace pelmark {

struct ImageDescriptor {
    int slot;  // 0 to 9
    int row;   // board code of the image table row (0: generic image)
    std::uint8_t* trailer;
    std::int32_t trailerCount;
    std::uint8_t* program;  // masked unless plain
    std::int32_t programLength;
    std::uint8_t* eeprom;
    std::int32_t eepromCount;
    bool plain;
    std::uint8_t board;        // plain images only
    std::uint8_t preparation;  // plain images only
};

struct CarriedImages {
    const ImageDescriptor* images;
    int count;
};

const CarriedImages& BuildImages();

}  // namespace pelmark
