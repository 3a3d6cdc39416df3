// The transfer mask: a masked byte is v XOR mask(a), a being the start
// address (in address units) of the row that carries it.
#pragma once

#include <cstdint>

#include "mask_base.h"  // generated: PELMARK_MASK_BASE_VALUE

namespace pelmark {

constexpr std::uint8_t kMaskBase = PELMARK_MASK_BASE_VALUE;

constexpr std::uint8_t MaskWithBase(std::uint8_t base, std::uint32_t address) {
    return static_cast<std::uint8_t>((base + (address & 0xFFu)) & 0xFFu);
}

constexpr std::uint8_t Mask(std::uint32_t address) { return MaskWithBase(kMaskBase, address); }

}  // namespace pelmark
