#include <gtest/gtest.h>

#include "fakes.h"
#include "images.h"

namespace pelmark::test {
namespace {

using Frame = std::vector<std::uint8_t>;

std::uint32_t AddressOf(const Frame& f) { return (f[0] << 16) | (f[1] << 8) | f[2]; }

class Transfer : public ::testing::Test, public EngineFixture {
protected:
    // Accepts every frame except those whose index is listed as silent.
    std::vector<int> silentFrames;
    int frameCount = 0;

    Transfer() {
        backend.responder = [this](const Frame&, Frame& reply) {
            const int n = frameCount++;
            for (int s : silentFrames)
                if (s == n) return;
            reply.push_back('K');
        };
    }

    void Prepare(std::uint8_t chip, std::uint8_t bios, const TestImage& image) {
        ImageSet* set = new ImageSet;  // owned by the fixture's list below
        sets_.emplace_back(set);
        set->Add(image);
        set->Install();
        g_protocol.identity = DeviceIdentity{chip, bios, 5, 4};
        g_protocol.identityRecordSeen = true;
        g_pass.rowSize = 64;
        g_pass.k80 = false;
        SelectImage(chip, 5);
        ASSERT_TRUE(IdentifyTarget(status));
        ReadImageCodes();
    }

    std::vector<std::unique_ptr<ImageSet>> sets_;
};

TEST_F(Transfer, Pic18RowsAndShortLastRow) {
    Prepare(0x43, 5, {1, 0, Pattern(130)});
    ASSERT_EQ(TransferProgram(progress, status), kOk);
    ASSERT_EQ(backend.writes.size(), 3u);
    EXPECT_EQ(backend.writes[0].size(), 69u);
    EXPECT_EQ(backend.writes[1].size(), 69u);
    EXPECT_EQ(AddressOf(backend.writes[0]), 0x0000u);
    EXPECT_EQ(AddressOf(backend.writes[1]), 0x0040u);
    EXPECT_EQ(AddressOf(backend.writes[2]), 0x0080u);
    EXPECT_EQ(backend.writes[0][3], 64);
    EXPECT_EQ(backend.writes[2][3], 0x02);
    EXPECT_EQ(backend.writes[2].size(), 4u + 2u + 1u);
    for (const Frame& f : backend.writes) EXPECT_EQ(FrameChecksum(f.data(), static_cast<int>(f.size())), 0);
    EXPECT_EQ(progress.max, 130);
    EXPECT_EQ(progress.positions, (std::vector<int>{0, 64, 128})) << "the last row moves no progress";
    EXPECT_EQ(status.TextsOf(1),
              (std::vector<std::string>{"Program 00000 (00000)", "Program 00064 (00040)", "Program 00128 (00080)"}));
}

TEST_F(Transfer, MaskedImageIsSentAsStoredWithTheResetVectorMasked) {
    const Frame plain = Pattern(130, 7);
    Prepare(0x43, 5, {1, 0, plain});
    ASSERT_EQ(TransferProgram(progress, status), kOk);
    // Unmasking each data byte with mask(frame address) gives the image with
    // the bootloader's jump in place of its own reset vector.
    Frame received;
    for (const Frame& f : backend.writes) {
        const int n = f[3];
        for (int i = 0; i < n; ++i) received.push_back(static_cast<std::uint8_t>(f[4 + i] ^ Mask(AddressOf(f))));
    }
    Frame expected = plain;
    expected[0] = 0x40;
    expected[1] = 0xEF;
    expected[2] = 0x3F;
    expected[3] = 0xF0;
    EXPECT_EQ(received, expected);
}

TEST_F(Transfer, K80LastRowIsPaddedWithMaskedFill) {
    Prepare(0x48, 5, {9, 0, Pattern(130)});
    ASSERT_EQ(TransferProgram(progress, status), kOk);
    ASSERT_EQ(backend.writes.size(), 3u);
    const Frame& last = backend.writes[2];
    ASSERT_EQ(last.size(), 69u);
    EXPECT_EQ(last[3], 64);
    for (int i = 4 + 2; i < 4 + 64; ++i) ASSERT_EQ(last[i], 0xFF ^ Mask(0x80)) << i;
}

TEST_F(Transfer, Pic24RowsWithTwoByteLength) {
    Prepare(0xFD, 5, {7, 0, Pattern(600), {}, {1, 2, 3, 4}, true});
    ASSERT_EQ(TransferProgram(progress, status), kOk);
    ASSERT_EQ(backend.writes.size(), 3u);
    EXPECT_EQ(AddressOf(backend.writes[0]), 0x0000u);
    EXPECT_EQ(AddressOf(backend.writes[1]), 0x0080u);
    EXPECT_EQ(AddressOf(backend.writes[2]), 0x0100u);
    EXPECT_EQ(backend.writes[0].size(), 262u);
    EXPECT_EQ(backend.writes[0][3], 0x01);
    EXPECT_EQ(backend.writes[0][4], 0x00);
    EXPECT_EQ(backend.writes[2][3], 0x00);
    EXPECT_EQ(backend.writes[2][4], 0x58);
    EXPECT_EQ(backend.writes[2].size(), 5u + 88u + 1u);
    EXPECT_EQ(progress.max, 300);
    // A plain image goes out unmasked, the jump included.
    EXPECT_EQ(Frame(backend.writes[0].begin() + 5, backend.writes[0].begin() + 13),
              (Frame{0x00, 0x54, 0x04, 0x00, 0x01, 0, 0, 0}));
}

TEST_F(Transfer, ExactMultipleOfTheRowSendsTheLastRowWhole) {
    Prepare(0x43, 5, {1, 0, Pattern(128)});
    ASSERT_EQ(TransferProgram(progress, status), kOk);
    ASSERT_EQ(backend.writes.size(), 2u);
    EXPECT_EQ(backend.writes[1][3], 64);
}

TEST_F(Transfer, SkipRangeLeavesRowsOutExceptTheLast) {
    g_protocol.record.skipStart = 0x0100;
    g_protocol.record.skipLength = 0x0080;
    Prepare(0xFD, 9, {7, 0, Pattern(1024), {}, {1}, true});
    ASSERT_EQ(TransferProgram(progress, status), kOk);
    std::vector<std::uint32_t> sent;
    for (const Frame& f : backend.writes) sent.push_back(AddressOf(f));
    EXPECT_EQ(sent, (std::vector<std::uint32_t>{0x0000, 0x0180})) << "rows at 0x80 and 0x100 are skipped";

    // The same range never skips the last row.
    backend.writes.clear();
    Prepare(0xFD, 9, {7, 0, Pattern(768), {}, {1}, true});
    ASSERT_EQ(TransferProgram(progress, status), kOk);
    sent.clear();
    for (const Frame& f : backend.writes) sent.push_back(AddressOf(f));
    EXPECT_EQ(sent, (std::vector<std::uint32_t>{0x0000, 0x0100}));
}

TEST_F(Transfer, SilenceOnAnyRowEndsTheTransfer) {
    // Rows 0, 1 (middle) and 2 (last) of a three-row image.
    for (int silent : {0, 1, 2}) {
        SCOPED_TRACE(silent);
        backend.writes.clear();
        frameCount = 0;
        silentFrames = {silent};
        Prepare(0x43, 5, {1, 0, Pattern(130)});
        EXPECT_EQ(TransferProgram(progress, status), kNoReply);
        EXPECT_EQ(backend.writes.size(), static_cast<std::size_t>(silent + 1)) << "no resend on silence";
    }
}

TEST_F(Transfer, RefusedRowEndsWithChkError) {
    backend.responder = [](const Frame&, Frame& reply) { reply.push_back('N'); };
    Prepare(0x43, 5, {1, 0, Pattern(130)});
    EXPECT_EQ(TransferProgram(progress, status), kRefused);
    EXPECT_EQ(backend.writes.size(), 5u);
}

TEST_F(Transfer, TrailerRowEndsJustBelowTheLimit) {
    Prepare(0x43, 5, {1, 0, Pattern(130)});
    ASSERT_EQ(WriteTrailerRow(status), kOk);
    ASSERT_EQ(backend.writes.size(), 1u);
    const Frame& f = backend.writes[0];
    EXPECT_EQ(AddressOf(f), 0x7E40u);
    EXPECT_EQ(f[3], 0x40);
    ASSERT_EQ(f.size(), 4u + 64u + 1u);
    const std::uint8_t m = Mask(0x7E40);
    for (int i = 0; i < 56; ++i) EXPECT_EQ(f[4 + i], 0xFF ^ m);
    for (int j = 0; j < 8; ++j) EXPECT_EQ(f[4 + 56 + j], ((j + 1) * 0x11) ^ m);
    EXPECT_EQ(status.panels[1], "Fix Program");
}

TEST_F(Transfer, PlainTrailerRowIsNotMaskedAndLoaderShowsNoText) {
    display.front = FrontEnd::Loader;
    Prepare(0xFD, 5, {7, 0, Pattern(600), {}, {0xA1, 0xA2}, true});
    ASSERT_EQ(WriteTrailerRow(status), kOk);
    const Frame& f = backend.writes[0];
    EXPECT_EQ(AddressOf(f), 0x15380u);
    EXPECT_EQ(f[3], 0x01);
    EXPECT_EQ(f[4], 0x00);
    EXPECT_EQ(f[5], 0xFF);
    EXPECT_EQ(f[5 + 254], 0xA1);
    EXPECT_EQ(f[5 + 255], 0xA2);
    EXPECT_EQ(status.panels[1], "");
}

TEST_F(Transfer, EepromOneFramePerByteWithWrappingIndex) {
    Frame eeprom(300);
    eeprom[0] = 0x11;
    eeprom[1] = 0x22;
    eeprom[2] = 0x33;
    eeprom[257] = 0x99;
    Prepare(0x48, 5, {9, 0, Pattern(64), eeprom});
    ASSERT_EQ(WriteEeprom(progress, status), kOk);
    ASSERT_EQ(backend.writes.size(), 300u);
    auto frame = [](int a, int b) {
        Frame f{0x40, static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b), 0x01, 0x00};
        f.push_back(FrameChecksum(f.data(), 5));
        return f;
    };
    EXPECT_EQ(backend.writes[0], frame(0, 0x11));
    EXPECT_EQ(backend.writes[1], frame(1, 0x22));
    EXPECT_EQ(backend.writes[2], frame(2, 0x33));
    EXPECT_EQ(backend.writes[257], frame(1, 0x99)) << "the index byte repeats after 255";
    EXPECT_EQ(progress.max, 300);
    EXPECT_EQ(progress.position, 299);
    EXPECT_EQ(status.panels[1], "Program EEP 299");
}

TEST_F(Transfer, EepromSilenceEndsWithNoReply) {
    silentFrames = {1};
    Prepare(0x48, 5, {9, 0, Pattern(64), Frame(3, 0)});
    EXPECT_EQ(WriteEeprom(progress, status), kNoReply);
    EXPECT_EQ(backend.writes.size(), 2u);
}

TEST_F(Transfer, ResetVectorPatchStaysWithinATinyImage) {
    // A two-byte image cannot take a four-byte jump: only its own bytes change.
    Prepare(0x43, 5, {1, 0, Frame{0x12, 0x34}});
    ASSERT_EQ(TransferProgram(progress, status), kOk);
    ASSERT_EQ(backend.writes.size(), 1u);
    EXPECT_EQ(backend.writes[0][3], 2);
    EXPECT_EQ(backend.writes[0][4] ^ Mask(0), 0x40);
    EXPECT_EQ(backend.writes[0][5] ^ Mask(0), 0xEF);
}

}  // namespace
}  // namespace pelmark::test
