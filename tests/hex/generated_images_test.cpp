// An image set built the way every program gets its firmware
// (pelmark_add_image_set), compiled into this test.

#include <gtest/gtest.h>

#include <string>

#include "images/carried_images.h"
#include "images/intel_hex.h"
#include "images/mask.h"

namespace pelmark {
namespace {

const ImageDescriptor* Find(int slot, int row) {
    const CarriedImages& set = BuildImages();
    for (int i = 0; i < set.count; ++i)
        if (set.images[i].slot == slot && set.images[i].row == row) return &set.images[i];
    return nullptr;
}

std::uint32_t RowStart(int slot, std::uint32_t offset) {
    return slot == 6 || slot == 7 ? (offset & ~255u) / 2 : offset & ~63u;
}

TEST(GeneratedImages, Descriptors) {
    ASSERT_EQ(BuildImages().count, 3);

    const ImageDescriptor* k80 = Find(9, 0);
    ASSERT_NE(k80, nullptr);
    EXPECT_FALSE(k80->plain);
    EXPECT_EQ(k80->programLength, 0x52);
    EXPECT_EQ(k80->eepromCount, 3);
    EXPECT_EQ(k80->trailerCount, 8);
    EXPECT_EQ(k80->board, 0);

    const ImageDescriptor* hj64 = Find(6, 0);
    ASSERT_NE(hj64, nullptr);
    EXPECT_TRUE(hj64->plain);
    EXPECT_EQ(hj64->programLength, 0x404);
    EXPECT_EQ(hj64->eepromCount, 0);
    EXPECT_EQ(hj64->board, 16);
    EXPECT_EQ(hj64->preparation, 0x81);

    const ImageDescriptor* board2 = Find(0, 2);
    ASSERT_NE(board2, nullptr);
    EXPECT_FALSE(board2->plain);
    EXPECT_EQ(board2->programLength, 16);
    EXPECT_EQ(board2->trailerCount, 1);
    EXPECT_EQ(board2->trailer[0], 0xAB);
}

// The build's own mask constant undoes the masking of every program byte;
// what remains is the HEX file's content with gaps read as 0xFF.
TEST(GeneratedImages, ProgramBytesMatchTheirHexFiles) {
    const struct {
        int slot, row;
        const char* file;
    } kFiles[] = {{9, 0, "k80_small.hex"}, {6, 0, "hj64_small.hex"}, {0, 2, "f258_board2.hex"}};
    for (const auto& f : kFiles) {
        SCOPED_TRACE(f.file);
        const ImageDescriptor* d = Find(f.slot, f.row);
        ASSERT_NE(d, nullptr);
        const hex::Memory source = hex::ReadFile(std::string(PELMARK_TEST_FIRMWARE_DIR "/") + f.file);
        for (std::int32_t o = 0; o < d->programLength; ++o) {
            const auto offset = static_cast<std::uint32_t>(o);
            const auto it = source.find(offset);
            const std::uint8_t expected = it == source.end() ? 0xFF : it->second;
            const std::uint8_t stored = d->program[o];
            EXPECT_EQ(d->plain ? stored : stored ^ Mask(RowStart(f.slot, offset)), expected) << "offset " << o;
        }
    }
    // Where the engine reads the image codes of a masked PIC18 image.
    const ImageDescriptor* k80 = Find(9, 0);
    EXPECT_EQ(k80->program[14] ^ Mask(0), 0x05);
    EXPECT_EQ(k80->program[15] ^ Mask(0), 0x04);
    EXPECT_EQ(k80->eeprom[0], 0x11);
    EXPECT_EQ(k80->eeprom[2], 0x33);
}

// The engine patches the reset vector in place and clears trailer bytes.
TEST(GeneratedImages, ArraysAreWritable) {
    const ImageDescriptor* k80 = Find(9, 0);
    ASSERT_NE(k80, nullptr);
    const std::uint8_t program0 = k80->program[0], trailer4 = k80->trailer[4];
    k80->program[0] = static_cast<std::uint8_t>(~program0);
    k80->trailer[4] = 0;
    EXPECT_EQ(k80->program[0], static_cast<std::uint8_t>(~program0));
    EXPECT_EQ(k80->trailer[4], 0);
    k80->program[0] = program0;
    k80->trailer[4] = trailer4;
}

}  // namespace
}  // namespace pelmark
