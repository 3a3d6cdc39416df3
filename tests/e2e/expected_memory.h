// What a device must hold after a successful update: the image with the
// bootloader's jump over its reset vector, the rows the transfer sends (skip
// range and K80 padding included), the trailer row at the address limit and
// the EEPROM bytes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "images/intel_hex.h"

namespace pelmark::test {

struct ImageFile {
    std::string hex;  // path of the HEX file
    std::string trailer;
};

struct Chip {
    bool pic24;
    int slot;
    std::uint32_t limitOld, limitNew;
    std::vector<std::uint8_t> vectorOld, vectorNew;
};

inline const std::map<int, Chip> kChips = {
    {0x42, {false, 0, 0x7EC0, 0x7E40, {0x80, 0xEF, 0x3F, 0xF0}, {0x40, 0xEF, 0x3F, 0xF0}}},
    {0x43, {false, 1, 0x7EC0, 0x7E40, {0x80, 0xEF, 0x3F, 0xF0}, {0x40, 0xEF, 0x3F, 0xF0}}},
    {0x45, {false, 3, 0x3EC0, 0x3E40, {0x80, 0xEF, 0x1F, 0xF0}, {0x40, 0xEF, 0x1F, 0xF0}}},
    {0x46, {false, 4, 0x1EC0, 0x1E40, {0x80, 0xEF, 0x0F, 0xF0}, {0x80, 0xEF, 0x0F, 0xF0}}},
    {0x47, {false, 8, 0x7EC0, 0x7E40, {}, {0x40, 0xEF, 0x3F, 0xF0}}},
    {0x48, {false, 9, 0xFEC0, 0xFE40, {}, {0x40, 0xEF, 0x7F, 0xF0}}},
    {0xC7, {false, 5, 0x3BC0, 0x3BC0, {0x00, 0xEF, 0x1E, 0xF0}, {0x00, 0xEF, 0x1E, 0xF0}}},
    {0xFC, {true, 6, 0xA780, 0xA780, {0x00, 0xA8, 0x04, 0, 0, 0, 0, 0}, {0x00, 0xA8, 0x04, 0, 0, 0, 0, 0}}},
    {0xFE, {true, 6, 0xA780, 0xA780, {0x00, 0xA8, 0x04, 0, 0, 0, 0, 0}, {0x00, 0xA8, 0x04, 0, 0, 0, 0, 0}}},
    {0xFD, {true, 7, 0x15380, 0x15380, {0x00, 0x54, 0x04, 0, 1, 0, 0, 0}, {0x00, 0x54, 0x04, 0, 1, 0, 0, 0}}},
};

inline std::vector<std::uint8_t> FromHexText(const std::string& text) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    return out;
}

// What a device must hold after a successful update with `image`.
inline hex::Memory ExpectedMemory(int chipCode, int bios, const ImageFile& image, std::uint16_t skipStart = 0,
                           std::uint16_t skipLength = 0) {
    const Chip& chip = kChips.at(chipCode);
    const hex::Memory source = hex::ReadFile(image.hex);
    std::vector<std::uint8_t> program = hex::Extract(source, 0, chip.pic24 ? 0x1000000u : 0x200000u);
    const std::vector<std::uint8_t> eeprom = chip.pic24 ? std::vector<std::uint8_t>{}
                                                        : hex::Extract(source, 0xF00000u, 0xF10000u);
    const std::vector<std::uint8_t>& vector = bios >= 5 ? chip.vectorNew : chip.vectorOld;
    for (std::size_t i = 0; i < vector.size() && i < program.size(); ++i) program[i] = vector[i];

    const std::uint32_t limit = bios >= 5 ? chip.limitNew : chip.limitOld;
    const std::size_t unit = chip.pic24 ? 2 : 1;
    const std::size_t rowSize = chip.pic24 ? 256 : 64;
    const bool k80 = chipCode == 0x47 || chipCode == 0x48;
    const std::size_t total = chip.pic24 ? program.size() : std::min<std::size_t>(program.size(), limit);

    hex::Memory m;
    for (std::size_t o = 0; o < total; o += rowSize) {
        const bool last = o + rowSize >= total;
        const std::size_t next = (o + rowSize) / unit;
        if (!last && skipStart != 0 && skipStart <= next && next <= std::size_t{skipStart} + skipLength) continue;
        for (std::size_t i = o; i < std::min(o + rowSize, total); ++i) m[static_cast<std::uint32_t>(i)] = program[i];
        if (last && k80)
            for (std::size_t i = total; i < o + rowSize; ++i) m[static_cast<std::uint32_t>(i)] = 0xFF;
    }
    std::vector<std::uint8_t> trailer = FromHexText(image.trailer);
    if (k80)
        for (std::size_t j = 4; j < trailer.size(); ++j) trailer[j] = 0;
    const std::size_t trailerAt = limit * unit;
    for (std::size_t i = 0; i < rowSize; ++i) {
        const std::size_t fromEnd = rowSize - i;
        m[static_cast<std::uint32_t>(trailerAt + i)] =
            fromEnd <= trailer.size() ? trailer[trailer.size() - fromEnd] : 0xFF;
    }
    for (std::size_t i = 0; i < eeprom.size(); ++i) m[static_cast<std::uint32_t>(0xF00000 + i)] = eeprom[i];
    return m;
}

}  // namespace pelmark::test
