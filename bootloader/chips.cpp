#include "bootloader/chips.h"

#include "shell/texts.h"

namespace pelmark {

namespace {

constexpr ChipFamily P18 = ChipFamily::Pic18;
constexpr ChipFamily P24 = ChipFamily::Pic24;

// clang-format off
// Reset vectors are padded with zero bytes to eight; n is how many of them go out.
constexpr ChipRow kChips[] = {
    {0x42, text::kFound258,      0, P18,  64, 1, 0x8000,  0,     {0x40, 0xEF, 0x3F, 0xF0},       true,  {0x80, 0xEF, 0x3F, 0xF0},       4, false},
    {0x43, text::kFound2580,     1, P18,  64, 1, 0x8000,  0,     {0x40, 0xEF, 0x3F, 0xF0},       true,  {0x80, 0xEF, 0x3F, 0xF0},       4, false},
    {0x44, text::kFound2480,     2, P18,  64, 1, 0x4000,  0,     {0x40, 0xEF, 0x1F, 0xF0},       true,  {0x80, 0xEF, 0x1F, 0xF0},       4, false},
    {0x45, text::kFound248,      3, P18,  64, 1, 0x4000,  0,     {0x40, 0xEF, 0x1F, 0xF0},       true,  {0x80, 0xEF, 0x1F, 0xF0},       4, false},
    {0x46, text::kFound2320,     4, P18,  64, 1, 0x2000,  0,     {0x80, 0xEF, 0x0F, 0xF0},       true,  {0x80, 0xEF, 0x0F, 0xF0},       4, false},
    {0x47, text::kFound18F25k80, 8, P18,  64, 1, 0x8000,  0,     {0x40, 0xEF, 0x3F, 0xF0},       false, {},                             4, true},
    {0x48, text::kFound18F26k80, 9, P18,  64, 1, 0x10000, 0,     {0x40, 0xEF, 0x7F, 0xF0},       false, {},                             4, true},
    {0xC7, text::kFound24j10,    5, P18,  64, 1, 0x4000,  0x440, {0x00, 0xEF, 0x1E, 0xF0},       true,  {0x00, 0xEF, 0x1E, 0xF0},       4, false},
    {0xFC, text::kFound33FJ64,   6, P24, 256, 2, 0xA800,  128,   {0x00, 0xA8, 0x04, 0x00},       true,  {0x00, 0xA8, 0x04, 0x00},       8, false},
    {0xFE, text::kFound24HJ64,   6, P24, 256, 2, 0xA800,  128,   {0x00, 0xA8, 0x04, 0x00},       true,  {0x00, 0xA8, 0x04, 0x00},       8, false},
    {0xFD, text::kFound33FJ128,  7, P24, 256, 2, 0x15400, 128,   {0x00, 0x54, 0x04, 0x00, 0x01}, true,  {0x00, 0x54, 0x04, 0x00, 0x01}, 8, false},
};
// clang-format on

}  // namespace

const ChipRow* FindChip(std::uint8_t code) {
    for (const ChipRow& c : kChips)
        if (c.code == code) return &c;
    return nullptr;
}

}  // namespace pelmark
