#include <gtest/gtest.h>

#include "images.h"

namespace pelmark::test {
namespace {

// The build this program ships in its default configuration: a plain
// PIC24 image in slot 7 and a masked K80 image in slot 9.
class ImageTable : public ::testing::Test {
protected:
    ImageSet images;
    void InstallShippedShape() {
        images.Add({7, 0, Pattern(74240), {}, {1, 2, 3, 4, 5, 6, 7, 8}, true});
        images.Add({9, 0, Pattern(7857), Pattern(1024)});
        images.Install();
    }
};

TEST_F(ImageTable, MarksAfterInit) {
    InstallShippedShape();
    EXPECT_EQ(g_pendingCount, 2);
    for (int slot = 0; slot < 10; ++slot) {
        SCOPED_TRACE(slot);
        EXPECT_EQ(PendingFlag(static_cast<std::int8_t>(slot)), (slot == 7 || slot == 9) ? kPendingYes : kPendingNoImage);
        const int followUp = (slot == 6 || slot == 7) ? 2 : slot == 9 ? 1 : 0;
        EXPECT_EQ(FollowUpAction(static_cast<std::int8_t>(slot)), followUp);
    }
    EXPECT_EQ(g_imageTable[0][7].plain, 1);
    EXPECT_EQ(g_imageTable[0][9].plain, 0);
    EXPECT_EQ(g_imageTable[0][9].eepromCount, 1024);
}

TEST_F(ImageTable, PlaceholdersAndUnfilledEntries) {
    images.Install();
    for (int slot = 0; slot < 10; ++slot) {
        const ImageTableEntry& e = g_imageTable[0][slot];
        EXPECT_EQ(e.programLength, 1);
        EXPECT_EQ(e.trailerCount, 1);
        EXPECT_EQ(e.eepromCount, slot == 8 ? 0 : 1);
        ASSERT_NE(e.program, nullptr);
        EXPECT_EQ(e.program[0], 0);
    }
    EXPECT_EQ(g_imageTable[2][0].programLength, 1);
    EXPECT_EQ(g_imageTable[32][6].programLength, 1);
    EXPECT_EQ(g_imageTable[3][0].programLength, 0) << "row 3 is never filled";
    EXPECT_EQ(g_imageTable[0][10].programLength, 0);
    EXPECT_EQ(g_pendingCount, 0);
}

TEST_F(ImageTable, MarkSlotDoneCountsOnlyPendingSlots) {
    InstallShippedShape();
    MarkSlotDone(9);
    EXPECT_EQ(g_pendingCount, 1);
    MarkSlotDone(7);
    EXPECT_EQ(g_pendingCount, 0);
    MarkSlotDone(9);
    EXPECT_EQ(g_pendingCount, 0);
    MarkSlotDone(3);
    EXPECT_EQ(PendingFlag(3), kPendingDone);
    EXPECT_EQ(g_pendingCount, 0);
    EXPECT_EQ(MarkPending(), 2);
    EXPECT_EQ(PendingFlag(3), kPendingNoImage);
    EXPECT_EQ(PendingFlag(9), kPendingYes);
}

TEST_F(ImageTable, TenByteImageIsSelectableButNeverPending) {
    images.Add({0, 0, Pattern(10)});
    images.Add({1, 0, Pattern(11)});
    images.Install();
    EXPECT_TRUE(HoldsImage(g_imageTable[0][0]));
    EXPECT_EQ(PendingFlag(0), kPendingNoImage);
    EXPECT_EQ(PendingFlag(1), kPendingYes);
    EXPECT_EQ(g_pendingCount, 1);
}

TEST_F(ImageTable, BoardRowsAndSharedBoard32) {
    images.Add({6, 16, Pattern(2048)});
    images.Add({6, 0, Pattern(2048), {}, {1}, true, 0x07, 0x82});
    images.Add({0, 0, Pattern(64), {}, {1}, true});  // plain is honoured for slots 6 and 7 only
    images.Install();
    EXPECT_EQ(g_imageTable[32][6].program, g_imageTable[16][6].program);
    EXPECT_EQ(g_imageTable[16][6].plain, 0);
    EXPECT_EQ(g_imageTable[0][6].plain, 1);
    EXPECT_EQ(g_imageTable[0][6].boardCode, 0x07);
    EXPECT_EQ(g_imageTable[0][6].preparationCode, 0x82);
    EXPECT_EQ(g_imageTable[0][0].plain, 0);
}

}  // namespace
}  // namespace pelmark::test
