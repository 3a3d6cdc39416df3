#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "fakes.h"
#include "images.h"
#include "report/board_names.h"

namespace pelmark::test {
namespace {

class Target : public ::testing::Test, public EngineFixture {
protected:
    void Identity(std::uint8_t chip, std::uint8_t bios, std::uint8_t board = 5, std::uint8_t prep = 4,
                  bool record = true) {
        g_protocol.identity = DeviceIdentity{chip, bios, board, prep};
        g_protocol.identityRecordSeen = record;
    }
    // SelectImage + IdentifyTarget as the pass runs them.
    bool Identify(std::uint8_t chip, std::uint8_t bios) {
        Identity(chip, bios);
        SelectImage(chip, g_protocol.identity.board);
        return IdentifyTarget(status);
    }
    ImageSet images;
};

TEST_F(Target, LimitsResetVectorsAndRowLayoutByChipAndVersion) {
    struct Case {
        std::uint8_t chip;
        std::uint8_t bios;
        std::uint32_t limit;
        std::vector<std::uint8_t> vector;
        int rowSize;
        int unit;
        const char* found;
    };
    const Case cases[] = {
        {0x42, 4, 0x7EC0, {0x80, 0xEF, 0x3F, 0xF0}, 64, 1, "Found 258"},
        {0x43, 4, 0x7EC0, {0x80, 0xEF, 0x3F, 0xF0}, 64, 1, "Found 2580"},
        {0x43, 5, 0x7E40, {0x40, 0xEF, 0x3F, 0xF0}, 64, 1, "Found 2580"},
        {0x44, 4, 0x3EC0, {0x80, 0xEF, 0x1F, 0xF0}, 64, 1, "Found 2480"},
        {0x45, 5, 0x3E40, {0x40, 0xEF, 0x1F, 0xF0}, 64, 1, "Found 248"},
        {0x46, 4, 0x1EC0, {0x80, 0xEF, 0x0F, 0xF0}, 64, 1, "Found 2320"},
        {0x46, 5, 0x1E40, {0x80, 0xEF, 0x0F, 0xF0}, 64, 1, "Found 2320"},
        {0x47, 5, 0x7E40, {0x40, 0xEF, 0x3F, 0xF0}, 64, 1, "Found 18F25k80"},
        {0x48, 5, 0xFE40, {0x40, 0xEF, 0x7F, 0xF0}, 64, 1, "Found 18F26k80"},
        {0x48, 4, 0xFEC0, {0x40, 0xEF, 0x7F, 0xF0}, 64, 1, "Found 18F26k80"},  // keeps the last vector
        {0xC7, 4, 0x3BC0, {0x00, 0xEF, 0x1E, 0xF0}, 64, 1, "Found 24j10"},
        {0xC7, 5, 0x3BC0, {0x00, 0xEF, 0x1E, 0xF0}, 64, 1, "Found 24j10"},
        {0xFC, 5, 0xA780, {0x00, 0xA8, 0x04, 0x00, 0, 0, 0, 0}, 256, 2, "Found 33FJ64"},
        {0xFE, 4, 0xA780, {0x00, 0xA8, 0x04, 0x00, 0, 0, 0, 0}, 256, 2, "Found 24HJ64"},
        {0xFD, 9, 0x15380, {0x00, 0x54, 0x04, 0x00, 0x01, 0, 0, 0}, 256, 2, "Found 33FJ128 - 24HJ128"},
    };
    // Every slot gets a 40000-byte image so the limits, not the image, bound the transfer.
    for (int slot = 0; slot < 10; ++slot) images.Add({slot, 0, Pattern(40000), {}, {1, 2, 3, 4, 5, 6, 7, 8}});
    images.Install();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << int(c.chip) << " bios " << int(c.bios));
        g_pass.rowSize = 64;
        ASSERT_TRUE(Identify(c.chip, c.bios));
        EXPECT_EQ(g_pass.addressLimit, c.limit);
        EXPECT_EQ(std::vector<std::uint8_t>(g_pass.resetVector, g_pass.resetVector + g_pass.resetVectorCount),
                  c.vector);
        EXPECT_EQ(g_pass.rowSize, c.rowSize);
        EXPECT_EQ(g_pass.addressUnit, c.unit);
        EXPECT_EQ(status.panels[2], c.found);
        // PIC18 images are cut at the limit without a message; PIC24 ones are sent whole.
        EXPECT_EQ(g_pass.transferLength, c.unit == 1 ? std::min<std::int32_t>(40000, c.limit) : 40000);
    }
    EXPECT_TRUE(display.Outcomes().empty());
}

TEST_F(Target, K80WithOldBootloaderKeepsTheVectorOfTheLastIdentification) {
    images.Add({9, 0, Pattern(100)});
    images.Install();
    // At program start the vector is 80 EF 3F F0 00 00 00 00, eight bytes.
    ASSERT_TRUE(Identify(0x48, 4));
    EXPECT_EQ(g_pass.resetVectorCount, 8);
    EXPECT_EQ(g_pass.resetVector[0], 0x80);
    EXPECT_EQ(g_pass.resetVector[2], 0x3F);
}

TEST_F(Target, K80ChipsClearTheirTrailerFromTheFifthByte) {
    images.Add({8, 0, Pattern(100)});
    images.Add({9, 0, Pattern(100)});
    images.Install();
    ASSERT_TRUE(Identify(0x48, 5));
    const ImageTableEntry& nine = g_imageTable[0][9];
    const ImageTableEntry& eight = g_imageTable[0][8];
    EXPECT_EQ(std::vector<std::uint8_t>(nine.trailer, nine.trailer + 8),
              (std::vector<std::uint8_t>{0x11, 0x22, 0x33, 0x44, 0, 0, 0, 0}));
    EXPECT_EQ(eight.trailer[7], 0x88) << "only the identified chip's slot is cleared";
    EXPECT_TRUE(g_pass.k80);
}

TEST_F(Target, UnknownChipIsAnError) {
    images.Install();
    EXPECT_FALSE(Identify(0xFB, 5));
    EXPECT_EQ(display.Outcomes(), std::vector<std::string>{"outcome| Error !! |255|0"});
    EXPECT_EQ(status.panels[2], "Unknow Device");
}

TEST_F(Target, ImageSizeBoundsOfThePic24Chips) {
    struct Case {
        std::uint8_t chip;
        int slot;
        std::size_t length;
        bool ok;
    };
    for (const Case c : {Case{0xFD, 7, 173824, true}, Case{0xFD, 7, 173825, false}, Case{0xFC, 6, 85760, true},
                         Case{0xFC, 6, 85761, false}}) {
        SCOPED_TRACE(c.length);
        ImageSet set;
        set.Add({c.slot, 0, std::vector<std::uint8_t>(c.length, 0x00), {}, {}, true});
        set.Install();
        display.calls.clear();
        EXPECT_EQ(Identify(c.chip, 5), c.ok);
        if (!c.ok) {
            EXPECT_EQ(display.Outcomes(), std::vector<std::string>{"outcome| Hex too Big !! |255|0"});
            EXPECT_EQ(status.panels[2], "Warning");
        }
    }
}

TEST_F(Target, SizeMessagesByFrontEnd) {
    images.Install();  // every slot a placeholder
    for (FrontEnd fe : {FrontEnd::Main, FrontEnd::Loader, FrontEnd::Upgrade}) {
        display.front = fe;
        display.calls.clear();
        status = FakeStatus{};
        EXPECT_FALSE(Identify(0x43, 5));
        if (fe == FrontEnd::Upgrade) {
            EXPECT_TRUE(display.calls.empty()) << "the Upgrade window shows nothing";
        } else {
            EXPECT_EQ(display.Outcomes(), std::vector<std::string>{"outcome| No Hex inside !! |255|0"});
        }
        if (fe == FrontEnd::Main) {
            EXPECT_EQ(status.panels[2], "Warning");
            EXPECT_NE(std::find_if(display.calls.begin(), display.calls.end(),
                                   [](const std::string& c) { return c.rfind("field|0|BIOS:05", 0) == 0; }),
                      display.calls.end())
                << "the main window adds the identity line";
        } else {
            EXPECT_EQ(status.panels[2], "");
        }
    }
}

TEST_F(Target, SelectionFallsBackToTheGenericImage) {
    images.Add({6, 0, Pattern(2048, 1), {}, {}, false});
    images.Add({6, 16, Pattern(2048, 2)});
    images.Add({0, 0, Pattern(200, 3)});
    images.Install();
    EXPECT_EQ(SelectImage(0xFC, 32), 6);
    EXPECT_EQ(g_pass.image.program, g_imageTable[16][6].program) << "board 32 shares board 16's image";
    EXPECT_EQ(SelectImage(0xFE, 5), 6);
    EXPECT_EQ(g_pass.image.program, g_imageTable[0][6].program) << "row 5 holds no image";
    EXPECT_EQ(SelectImage(0x42, 3), 0);
    EXPECT_EQ(g_pass.image.program, g_imageTable[0][0].program);
    EXPECT_EQ(SelectImage(0x42, 255), 0) << "board 255 has no row: the generic image";
    EXPECT_EQ(g_pass.image.program, g_imageTable[0][0].program);
    EXPECT_EQ(SelectImage(0x99, 5), 0) << "an unknown chip selects slot 0";
}

TEST_F(Target, ImageCodesAndSkipRange) {
    std::vector<std::uint8_t> pic18 = Pattern(64);
    pic18[14] = 0x05;
    pic18[15] = 0x84;
    std::vector<std::uint8_t> pic24 = Pattern(0x500);
    pic24[0x400] = 0x07;
    pic24[0x401] = 0x02;
    images.Add({1, 0, pic18});
    images.Add({6, 0, pic24});
    images.Add({7, 0, Pattern(0x500), {}, {1}, true, 0x11, 0x12});
    images.Install();

    Identify(0x43, 5);
    ReadImageCodes();
    EXPECT_EQ(g_pass.image.boardCode, 0x05);
    EXPECT_EQ(g_pass.image.preparationCode, 0x84);

    g_protocol.record.skipStart = 0x100;
    g_protocol.record.skipLength = 0x80;
    Identify(0xFC, 8);
    ReadImageCodes();
    EXPECT_EQ(g_pass.image.boardCode, 0x07);
    EXPECT_EQ(g_pass.image.preparationCode, 0x02);
    EXPECT_EQ(g_pass.skipStart, 0x100);
    EXPECT_EQ(g_pass.skipLength, 0x80);

    g_pass.skipStart = g_pass.skipLength = 0;
    Identify(0xFD, 32);
    ReadImageCodes();
    EXPECT_EQ(g_pass.skipStart, 0) << "no skip range outside versions 8 to 31";
    EXPECT_EQ(g_pass.image.boardCode, 0) << "a plain slot-7 image carries no codes";
}

TEST_F(Target, ShortMaskedImageKeepsTheCodesOfItsEntry) {
    images.Add({1, 0, Pattern(10)});
    images.Install();
    Identify(0x43, 5);
    ReadImageCodes();
    EXPECT_EQ(g_pass.image.boardCode, 0);
    EXPECT_EQ(g_pass.image.preparationCode, 0);
}

TEST_F(Target, Suitability) {
    struct Case {
        std::uint8_t imageBoard, imagePrep, deviceBoard, devicePrep;
        bool recordSeen;
        bool suitable;
    };
    const Case cases[] = {
        {0x05, 0x04, 0x05, 0x04, true, true},
        {0x20, 0x04, 0x10, 0x04, true, true},   // board 0x20 images fit board 0x10
        {0x10, 0x04, 0x20, 0x04, true, false},  // not the other way round
        {0x05, 0x04, 0x06, 0x04, true, false},
        {0x05, 0x81, 0x05, 0x03, true, true},   // bit 7 rule
        {0x05, 0x81, 0x05, 0x82, true, true},   // both bit 7
        {0x05, 0x04, 0x05, 0x02, true, true},
        {0x05, 0x05, 0x05, 0x02, true, false},
        {0x05, 0x02, 0x05, 0x12, true, false},  // bit 4 on the device only
        {0x05, 0x14, 0x05, 0x15, true, true},
        {0x05, 0x04, 0x05, 0x01, true, true},
        {0x05, 0x02, 0x05, 0x01, true, false},
        {0x05, 0x06, 0x05, 0x06, true, true},
        {0x05, 0x07, 0x05, 0x06, true, false},
        {0x00, 0x07, 0x09, 0x06, true, true},   // board 0: no check
        {0xFF, 0x07, 0x09, 0x06, true, true},   // board 255: no check
        {0x05, 0x07, 0x09, 0x06, false, true},  // legacy device: no check
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << int(c.imageBoard) << "/" << int(c.imagePrep) << " on "
                                        << int(c.deviceBoard) << "/" << int(c.devicePrep));
        display.calls.clear();
        status = FakeStatus{};
        g_pass.image.boardCode = c.imageBoard;
        g_pass.image.preparationCode = c.imagePrep;
        Identity(0x43, 5, c.deviceBoard, c.devicePrep, c.recordSeen);
        EXPECT_EQ(CheckSuitability(status), c.suitable);
        if (!c.suitable) {
            char text[64];
            std::snprintf(text, sizeof text, "outcome|%s - Preparation %x|255|0", BoardName(c.imageBoard),
                          c.imagePrep);
            EXPECT_EQ(display.Outcomes(), std::vector<std::string>{text});
            EXPECT_EQ(status.panels[2], "Warning!!");
            EXPECT_EQ(status.panels[3], "not suitable apparatus");
        }
    }
}

}  // namespace
}  // namespace pelmark::test
