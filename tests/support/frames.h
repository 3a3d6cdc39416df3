// Frames as the updater sends them to the bootloader, for the tests of the
// device side (the virtual device's model and program), which do not link the
// engine and its FrameChecksum.
#pragma once

#include <cstdint>
#include <vector>

namespace pelmark::test {

// `frame` followed by its two's-complement checksum: all bytes then sum to 0.
inline std::vector<std::uint8_t> WithChecksum(std::vector<std::uint8_t> frame) {
    unsigned sum = 0;
    for (std::uint8_t b : frame) sum += b;
    frame.push_back(static_cast<std::uint8_t>((0x100 - (sum & 0xFF)) & 0xFF));
    return frame;
}

}  // namespace pelmark::test
