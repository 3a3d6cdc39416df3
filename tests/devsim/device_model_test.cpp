// The virtual bootloader's protocol engine, fed byte streams split at every
// position: whatever way the line cuts the bytes, the device must answer and
// store the same.
#include "devsim/device_model.h"
#include "support/frames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pelmark::devsim {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kB = 0x5A;  // mask base used by these tests

DeviceConfig Config(std::uint8_t chip = 0x48, std::uint8_t bios = 5) {
    DeviceConfig c;
    c.chip = chip;
    c.bios = bios;
    c.board = 0x07;
    c.preparation = 0x04;
    c.maskBase = kB;
    return c;
}

std::uint8_t MaskOf(std::uint32_t address) {
    return static_cast<std::uint8_t>((kB + (address & 0xFF)) & 0xFF);
}

// A data frame as the updater builds it: address in units, one or two length
// bytes, data, two's-complement checksum.
Bytes DataFrame(std::uint32_t address, const Bytes& data, bool twoByteLength = false,
                std::uint32_t declaredLength = 0xFFFFFFFF) {
    const std::uint32_t length =
        declaredLength == 0xFFFFFFFF ? static_cast<std::uint32_t>(data.size()) : declaredLength;
    Bytes f{static_cast<std::uint8_t>(address >> 16), static_cast<std::uint8_t>(address >> 8),
            static_cast<std::uint8_t>(address)};
    if (twoByteLength) f.push_back(static_cast<std::uint8_t>(length >> 8));
    f.push_back(static_cast<std::uint8_t>(length));
    f.insert(f.end(), data.begin(), data.end());
    return test::WithChecksum(f);
}

Bytes EepromFrame(std::uint8_t index, std::uint8_t value) {
    return test::WithChecksum({0x40, index, value, 0x01, 0x00});
}

Bytes UnlockFrame(const char* access = kAccessString) {
    Bytes f{0x00, 0x0F};
    for (const char* p = access; *p; ++p) f.push_back(static_cast<std::uint8_t>(*p));
    unsigned sum = 0;
    for (auto b : f) sum += b;
    f.push_back(static_cast<std::uint8_t>(sum >> 8));
    f.push_back(static_cast<std::uint8_t>(sum));
    return f;
}

Bytes Masked(const Bytes& plain, std::uint32_t address) {
    Bytes out = plain;
    for (auto& b : out) b = static_cast<std::uint8_t>(b ^ MaskOf(address));
    return out;
}

Bytes Pattern(std::size_t n, std::uint8_t seed) {
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(seed + 7 * i);
    return out;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::vector<std::string> Lines(DeviceModel& m) {
    std::vector<std::string> lines;
    for (const auto& e : m.TakeEvents()) lines.push_back(FormatEvent(e));
    return lines;
}

// Feeds `stream` whole, byte by byte, and cut in two at every position; each
// run must give the same replies and log. `check` then inspects the device of
// every run.
void ForEverySplit(const DeviceConfig& config, const Bytes& stream, const Bytes& expectedReply,
                   const std::vector<std::string>& expectedLog,
                   const std::function<void(const DeviceModel&)>& check = {}) {
    auto verify = [&](DeviceModel& m, const Bytes& reply, const std::string& how) {
        EXPECT_EQ(reply, expectedReply) << how;
        EXPECT_EQ(Lines(m), expectedLog) << how;
        EXPECT_FALSE(m.InFrame()) << how;
        if (check) check(m);
    };
    {
        DeviceModel m(config);
        verify(m, m.Feed(stream), "whole");
    }
    {
        DeviceModel m(config);
        Bytes reply;
        for (auto b : stream) {
            const auto r = m.Feed(&b, 1);
            reply.insert(reply.end(), r.begin(), r.end());
        }
        verify(m, reply, "byte by byte");
    }
    for (std::size_t cut = 1; cut < stream.size(); ++cut) {
        DeviceModel m(config);
        Bytes reply = m.Feed(stream.data(), cut);
        const auto rest = m.Feed(stream.data() + cut, stream.size() - cut);
        reply.insert(reply.end(), rest.begin(), rest.end());
        verify(m, reply, "cut at " + std::to_string(cut));
    }
}

// ---- Identity ------------------------------------------------------------------

struct IdentityCase {
    const char* name;
    std::function<void(DeviceConfig&)> setup;
    std::uint8_t searchByte;
    Bytes reply;
    std::string log;
};

Bytes RecordReply(const std::string& text, std::uint16_t start, std::uint16_t length) {
    Bytes r{'R', 28, 0};
    for (std::size_t i = 0; i < 24; ++i)
        r.push_back(i < text.size() ? static_cast<std::uint8_t>(text[i]) : 0);
    r.insert(r.end(), {static_cast<std::uint8_t>(start), static_cast<std::uint8_t>(start >> 8),
                       static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8)});
    r.push_back('K');
    return r;
}

TEST(DeviceModelIdentity, AnswersSearchBytesAsConfigured) {
    const Bytes v5{'V', 5, 0x48, 0x07, 0x04, 'K'};
    auto withRecord = [](std::uint8_t bios) {
        return [bios](DeviceConfig& c) {
            c.bios = bios;
            c.hasRecord = true;
            c.recordText = "GATEWAY";
            c.skipStart = 0x0123;
            c.skipLength = 0x4080;
        };
    };
    const std::vector<IdentityCase> cases = {
        {"V record on C2", [](DeviceConfig&) {}, 0xC2, v5, "search 0000C2 1 reply V"},
        {"V record on C5", [](DeviceConfig&) {}, 0xC5, v5, "search 0000C5 1 reply V"},
        {"V record on C6", [](DeviceConfig&) {}, 0xC6, v5, "search 0000C6 1 reply V"},
        {"legacy: chip byte and K", [](DeviceConfig& c) { c.legacy = true; }, 0xC2, {0x48, 'K'},
         "search 0000C2 1 reply legacy"},
        {"search byte not answered", [](DeviceConfig& c) { c.answerC5 = false; }, 0xC5, {},
         "search 0000C5 1 ignored"},
        {"record sent at version 8", withRecord(8), 0xC2,
         Concat({{'V', 8, 0x48, 0x07, 0x04, 'K'}, RecordReply("GATEWAY", 0x0123, 0x4080)}),
         "search 0000C2 1 reply V+R"},
        {"record sent at version 31", withRecord(31), 0xC2,
         Concat({{'V', 31, 0x48, 0x07, 0x04, 'K'}, RecordReply("GATEWAY", 0x0123, 0x4080)}),
         "search 0000C2 1 reply V+R"},
        {"no record at version 7", withRecord(7), 0xC2, {'V', 7, 0x48, 0x07, 0x04, 'K'},
         "search 0000C2 1 reply V"},
        {"no record at version 32", withRecord(32), 0xC2, {'V', 32, 0x48, 0x07, 0x04, 'K'},
         "search 0000C2 1 reply V"},
        {"no record unless configured", [](DeviceConfig& c) { c.bios = 10; }, 0xC2,
         {'V', 10, 0x48, 0x07, 0x04, 'K'}, "search 0000C2 1 reply V"},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        DeviceConfig c = Config();
        tc.setup(c);
        DeviceModel m(c);
        EXPECT_EQ(m.Feed({tc.searchByte}), tc.reply);
        EXPECT_EQ(Lines(m), std::vector<std::string>{tc.log});
    }
}

TEST(DeviceModelIdentity, RecordTextIsCutTo24BytesAndZeroPadded) {
    DeviceConfig c = Config(0xFD, 9);
    c.hasRecord = true;
    c.recordText = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";  // 26 characters
    c.skipStart = 0xA800;
    DeviceModel m(c);
    const Bytes reply = m.Feed({0xC2});
    ASSERT_EQ(reply.size(), 6u + 1 + 1 + 1 + 28 + 1);
    EXPECT_EQ(std::string(reply.begin() + 9, reply.begin() + 9 + 24), "ABCDEFGHIJKLMNOPQRSTUVWX");
    EXPECT_EQ((Bytes{reply.begin() + 33, reply.begin() + 37}), (Bytes{0x00, 0xA8, 0x00, 0x00}));

    c.recordText = "AB";
    DeviceModel shortText(c);
    const Bytes padded = shortText.Feed({0xC2});
    EXPECT_EQ((Bytes{padded.begin() + 9, padded.begin() + 33}),
              Concat({{'A', 'B'}, Bytes(22, 0)}));
}

TEST(DeviceModelIdentity, EntryByteIsAcknowledged) {
    ForEverySplit(Config(), {0xC2, 0xCC}, {'V', 5, 0x48, 0x07, 0x04, 'K', 'K'},
                  {"search 0000C2 1 reply V", "entry 0000CC 1 K"});
}

TEST(DeviceModelIdentity, UnknownChipAnswersAndBehavesAsPic18WithoutTrailer) {
    const DeviceConfig c = Config(0xFB, 5);
    const Bytes data = Pattern(64, 3);
    ForEverySplit(c, Concat({{0xC2}, DataFrame(0x7E40, Masked(data, 0x7E40))}),
                  {'V', 5, 0xFB, 0x07, 0x04, 'K', 'K'},
                  {"search 0000C2 1 reply V", "program 007E40 64 K"},
                  [&](const DeviceModel& m) { EXPECT_EQ(m.ProgramByte(0x7E40 + 5), data[5]); });
}

// ---- Command frames --------------------------------------------------------------

TEST(DeviceModelCommands, UnlockAndCommand4AreCheckedAndNeverAnswered) {
    for (std::uint8_t chip : {std::uint8_t{0x48}, std::uint8_t{0xFD}}) {  // PIC18 and PIC24 devices alike
        SCOPED_TRACE(int(chip));
        ForEverySplit(Config(chip), Concat({UnlockFrame(), {0x04, 0x00, 0x00, 0x04}, {0xCC}}), {'K'},
                      {"unlock 000000 15 ok", "command4 000004 0 ok", "entry 0000CC 1 K"});
    }
}

TEST(DeviceModelCommands, DamagedCommandFramesAreLoggedBad) {
    Bytes wrongSum = UnlockFrame();
    wrongSum.back() ^= 0x01;
    const Bytes wrongAccess = UnlockFrame("7Qm2Rx9Lb4Tz6WK");  // right sum, one letter off
    ForEverySplit(Config(), Concat({wrongSum, wrongAccess, {0x04, 0x00, 0x00, 0x05}}), {},
                  {"unlock 000000 15 bad sum", "unlock 000000 15 bad access",
                   "command4 000004 0 bad sum"});
}

TEST(DeviceModelCommands, RowAt0x0F00IsNotTakenForTheUnlockFrame) {
    // 00 0F begins both the unlock frame and a row at 0x0F00; the third byte decides.
    const Bytes data = Pattern(64, 0x37);
    ForEverySplit(Config(), Concat({DataFrame(0x0F00, Masked(data, 0x0F00)), UnlockFrame()}), {'K'},
                  {"program 000F00 64 K", "unlock 000000 15 ok"},
                  [&](const DeviceModel& m) { EXPECT_EQ(m.ProgramByte(0x0F00), data[0]); });
}

// ---- Data frames -----------------------------------------------------------------

TEST(DeviceModelData, Pic18RowIsUnmaskedWithTheMaskOfItsFrameAddress) {
    const Bytes data = Pattern(64, 0x10);
    ForEverySplit(Config(), DataFrame(0x0040, Masked(data, 0x0040)), {'K'},
                  {"program 000040 64 K"}, [&](const DeviceModel& m) {
                      for (std::uint32_t i = 0; i < 64; ++i) {
                          ASSERT_EQ(m.ProgramByte(0x40 + i), data[i]) << i;
                          ASSERT_TRUE(m.ProgramWritten(0x40 + i));
                      }
                      EXPECT_FALSE(m.ProgramWritten(0x3F));
                      EXPECT_FALSE(m.ProgramWritten(0x80));
                      EXPECT_EQ(m.ProgramByte(0x80), 0xFF);
                  });
}

TEST(DeviceModelData, ShortLastRowStoresOnlyItsBytes) {
    ForEverySplit(Config(), DataFrame(0x0080, Masked({0xAA, 0xBB}, 0x0080)), {'K'},
                  {"program 000080 2 K"}, [](const DeviceModel& m) {
                      EXPECT_EQ(m.ProgramByte(0x80), 0xAA);
                      EXPECT_EQ(m.ProgramByte(0x81), 0xBB);
                      EXPECT_FALSE(m.ProgramWritten(0x82));
                  });
}

TEST(DeviceModelData, PlainDeviceStoresBytesAsReceived) {
    DeviceConfig c = Config();
    c.plain = true;
    const Bytes data = Pattern(64, 0x99);
    ForEverySplit(c, DataFrame(0x0100, data), {'K'}, {"program 000100 64 K"},
                  [&](const DeviceModel& m) { EXPECT_EQ(m.ProgramByte(0x100 + 63), data[63]); });
}

TEST(DeviceModelData, MaskBaseIsConfigurable) {
    DeviceConfig c = Config();
    c.maskBase = 0xC3;
    DeviceModel m(c);
    EXPECT_EQ(m.Feed(DataFrame(0x0040, {static_cast<std::uint8_t>(0x11 ^ 0x03)})), Bytes{'K'});
    EXPECT_EQ(m.ProgramByte(0x40), 0x11);  // mask (0xC3 + 0x40) & 0xFF = 0x03
}

TEST(DeviceModelData, Pic24RowHasTwoLengthBytesAndDoubledAddress) {
    const Bytes data = Pattern(256, 0x21);
    ForEverySplit(Config(0xFD, 5), DataFrame(0x000080, Masked(data, 0x80), true), {'K'},
                  {"program 000080 256 K"}, [&](const DeviceModel& m) {
                      EXPECT_FALSE(m.ProgramWritten(0xFF));
                      for (std::uint32_t i = 0; i < 256; ++i) ASSERT_EQ(m.ProgramByte(0x100 + i), data[i]);
                      EXPECT_FALSE(m.ProgramWritten(0x200));
                  });
}

TEST(DeviceModelData, Pic24ShortLastRowAndHighAddressByte) {
    // 0x15300 units is byte 0x2A600: the address's high byte is 0x01.
    const Bytes data = Pattern(88, 0x05);
    ForEverySplit(Config(0xFD, 5), DataFrame(0x015300, Masked(data, 0x015300), true), {'K'},
                  {"program 015300 88 K"},
                  [&](const DeviceModel& m) { EXPECT_EQ(m.ProgramByte(0x2A600 + 87), data[87]); });
}

struct TrailerCase {
    std::uint8_t chip;
    std::uint8_t bios;
    std::uint32_t limit;
};

TEST(DeviceModelData, FrameAtTheAddressLimitIsTheTrailerRow) {
    const std::vector<TrailerCase> cases = {
        {0x42, 4, 0x7EC0},  {0x43, 5, 0x7E40},  {0x47, 5, 0x7E40},  {0x44, 4, 0x3EC0},
        {0x45, 5, 0x3E40},  {0x46, 4, 0x1EC0},  {0x46, 5, 0x1E40},  {0x48, 4, 0xFEC0},
        {0x48, 5, 0xFE40},  {0xC7, 4, 0x3BC0},  {0xC7, 9, 0x3BC0},  {0xFC, 5, 0xA780},
        {0xFE, 2, 0xA780},  {0xFD, 5, 0x15380},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(testing::Message() << "chip 0x" << std::hex << int(tc.chip) << " bios "
                                        << std::dec << int(tc.bios));
        const bool pic24 = tc.chip >= 0xFC;
        const Bytes trailer = Concat({Bytes(pic24 ? 248 : 56, 0xFF), Pattern(8, 0x40)});
        DeviceModel m(Config(tc.chip, tc.bios));
        EXPECT_EQ(m.Feed(DataFrame(tc.limit, Masked(trailer, tc.limit), pic24)), Bytes{'K'});
        const auto events = m.TakeEvents();
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].kind, FrameKind::Trailer);
        const std::uint32_t byteAddress = tc.limit * (pic24 ? 2 : 1);
        const std::uint32_t rowBytes = pic24 ? 256 : 64;
        EXPECT_EQ(m.ProgramByte(byteAddress + rowBytes - 1), trailer.back());
        EXPECT_EQ(m.trailerRows(), 1u);
        // One row below the limit is an ordinary program row.
        m.Feed(DataFrame(tc.limit - rowBytes / (pic24 ? 2 : 1), Bytes(rowBytes, 0), pic24));
        EXPECT_EQ(m.TakeEvents().at(0).kind, FrameKind::Program);
    }
}

TEST(DeviceModelData, BadChecksumIsRefusedAndTheResendAccepted) {
    const Bytes good = DataFrame(0x0040, Masked(Pattern(64, 1), 0x40));
    Bytes bad = good;
    bad[20] ^= 0x10;
    ForEverySplit(Config(), Concat({bad, good}), {'N', 'K'},
                  {"program 000040 64 N checksum", "program 000040 64 K"},
                  [](const DeviceModel& m) { EXPECT_EQ(m.acceptedDataFrames(), 1u); });

    DeviceModel m(Config());
    EXPECT_EQ(m.Feed(bad), Bytes{'N'});
    EXPECT_FALSE(m.ProgramWritten(0x40));
}

TEST(DeviceModelData, OversizedLengthIsRefusedAndTheLineStaysInStep) {
    // PIC18 row of 65 bytes, PIC24 row of 257: consumed as declared, refused, and
    // the following search byte is answered.
    ForEverySplit(Config(), Concat({DataFrame(0x0040, Pattern(65, 2)), {0xC5}}),
                  {'N', 'V', 5, 0x48, 0x07, 0x04, 'K'},
                  {"program 000040 65 N oversized", "search 0000C5 1 reply V"},
                  [](const DeviceModel& m) { EXPECT_FALSE(m.ProgramWritten(0x40)); });
    ForEverySplit(Config(0xFC, 5), Concat({DataFrame(0x0080, Pattern(257, 2), true), {0xCC}}),
                  {'N', 'K'}, {"program 000080 257 N oversized", "entry 0000CC 1 K"},
                  [](const DeviceModel& m) { EXPECT_FALSE(m.ProgramWritten(0x100)); });
}

TEST(DeviceModelData, RowPastTheEndOfMemoryIsRefused) {
    // 0xFC holds 2 x 0xA800 bytes: a row at 0xA800 units lies outside.
    DeviceModel m(Config(0xFC, 5));
    EXPECT_EQ(m.Feed(DataFrame(0xA800, Bytes(256, 0), true)), Bytes{'N'});
    EXPECT_EQ(Lines(m), std::vector<std::string>{"program 00A800 256 N range"});
}

TEST(DeviceModelData, BytesThatStartNothingAreIgnored) {
    // 0x55 starts no frame on any chip; 0x01 is no address on a 64 KB PIC18 and
    // 0x40 is no EEPROM frame on a PIC24.
    ForEverySplit(Config(), {0x55, 0x01, 0xCC}, {'K'},
                  {"junk 000055 1 ignored", "junk 000001 1 ignored", "entry 0000CC 1 K"});
    ForEverySplit(Config(0xFC, 5), {0x40, 0xCC}, {'K'},
                  {"junk 000040 1 ignored", "entry 0000CC 1 K"});
}

TEST(DeviceModelData, PartialFrameIsDroppedOnRequest) {
    DeviceModel m(Config());
    EXPECT_TRUE(m.Feed(Bytes{0x00, 0x00, 0x80, 0x40, 0x01}).empty());
    EXPECT_TRUE(m.InFrame());
    EXPECT_TRUE(m.DropPartialFrame());
    EXPECT_FALSE(m.DropPartialFrame());
    EXPECT_EQ(m.Feed({0xC2}), (Bytes{'V', 5, 0x48, 0x07, 0x04, 'K'}));
    EXPECT_EQ(Lines(m), (std::vector<std::string>{"partial 000080 5 dropped", "search 0000C2 1 reply V"}));
}

TEST(DeviceModelFaults, RefusesChosenFramesThenAcceptsTheResend) {
    // Frames 2 and 3 are refused: row 0x40 twice; its third sending is frame 4.
    DeviceConfig c = Config();
    c.nakFrame = 2;
    c.nakCount = 2;
    const Bytes row0 = DataFrame(0x0000, Masked(Pattern(64, 1), 0x00));
    const Bytes row1 = DataFrame(0x0040, Masked(Pattern(64, 2), 0x40));
    ForEverySplit(c, Concat({{0xC2}, row0, row1, row1, row1, EepromFrame(0, 0x10)}),
                  Concat({{'V', 5, 0x48, 0x07, 0x04, 'K'}, {'K', 'N', 'N', 'K', 'K'}}),
                  {"search 0000C2 1 reply V", "program 000000 64 K", "program 000040 64 N injected",
                   "program 000040 64 N injected", "program 000040 64 K", "eeprom 000000 1 K"},
                  [](const DeviceModel& m) { EXPECT_EQ(m.ProgramByte(0x40), Pattern(64, 2)[0]); });
}

TEST(DeviceModelFaults, SilentFromAChosenFrameOn) {
    DeviceConfig c = Config();
    c.silentFrame = 2;
    const Bytes row0 = DataFrame(0x0000, Masked(Pattern(64, 1), 0x00));
    const Bytes row1 = DataFrame(0x0040, Masked({0x01, 0x02}, 0x40));
    ForEverySplit(c, Concat({row0, row1, DataFrame(0xFE40, Bytes(64, 0)), EepromFrame(0, 0x10), {0xCC}}),
                  {'K', 'K'},
                  {"program 000000 64 K", "program 000040 2 silent", "trailer 00FE40 64 silent",
                   "eeprom 000000 1 silent", "entry 0000CC 1 K"},
                  [](const DeviceModel& m) {
                      EXPECT_FALSE(m.ProgramWritten(0x40));
                      EXPECT_FALSE(m.EepromWritten(0));
                  });
}

TEST(DeviceModelFaults, StrayBytesBesideChosenReplies) {
    // Frames 2 and 3 carry a "K" before and an "N" after their verdict; frame
    // 3 is refused, so its reply reads "K" "N" "N".
    DeviceConfig c = Config();
    c.strayFrame = 2;
    c.strayCount = 2;
    c.strayBefore = "K";
    c.strayAfter = "N";
    c.nakFrame = 3;
    const Bytes row0 = DataFrame(0x0000, Masked(Pattern(64, 1), 0x00));
    const Bytes row1 = DataFrame(0x0040, Masked(Pattern(64, 2), 0x40));
    ForEverySplit(c, Concat({row0, row1, row1, row1, {0xCC}}), {'K', 'K', 'K', 'N', 'K', 'N', 'N', 'K', 'K'},
                  {"program 000000 64 K", "program 000040 64 K", "program 000040 64 N injected",
                   "program 000040 64 K", "entry 0000CC 1 K"},
                  [](const DeviceModel&) {});
}

TEST(DeviceModelFaults, LateEntryAndDelayedStrayBytesUntilTheFaultsEnd) {
    DeviceConfig c = Config();
    c.lateEntryMs = 2100;
    c.strayFrame = 1;
    c.strayCount = 5;
    c.strayAfter = "K";
    c.strayMs = 30;
    DeviceModel m(c);
    EXPECT_EQ(m.Feed(Bytes{0xCC}), Bytes{'K'});
    EXPECT_EQ(m.TakeReplyDelay(), 2100u);
    Bytes stray;
    m.TakeStray(stray);
    EXPECT_TRUE(stray.empty()) << "the entry byte is no data frame";
    // The stray "K" of a data frame is held apart, to leave 30 ms after the reply.
    EXPECT_EQ(m.Feed(DataFrame(0x0000, Masked(Pattern(64, 1), 0x00))), Bytes{'K'});
    EXPECT_EQ(m.TakeStray(stray), 30u);
    EXPECT_EQ(stray, Bytes{'K'});
    m.TakeStray(stray);
    EXPECT_TRUE(stray.empty()) << "taken once";
    const auto events = m.TakeEvents();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(FormatEvent(events.front()), "entry 0000CC 1 K late");

    m.EndFaults();
    EXPECT_EQ(m.Feed(Bytes{0xCC}), Bytes{'K'});
    EXPECT_EQ(m.TakeReplyDelay(), 0u);
    EXPECT_EQ(m.Feed(DataFrame(0x0040, Masked(Pattern(64, 2), 0x40))), Bytes{'K'});
    m.TakeStray(stray);
    EXPECT_TRUE(stray.empty());
}

// ---- EEPROM ----------------------------------------------------------------------

TEST(DeviceModelEeprom, FramesAreCheckedAndStoredUnmasked) {
    Bytes bad = EepromFrame(1, 0x22);
    bad[5] ^= 0x01;
    Bytes malformed{0x40, 0x02, 0x33, 0x02, 0x00};
    malformed.push_back(static_cast<std::uint8_t>(0x100 - ((0x40 + 0x02 + 0x33 + 0x02) & 0xFF)));
    ForEverySplit(Config(), Concat({EepromFrame(0, 0x11), bad, EepromFrame(1, 0x22), malformed}),
                  {'K', 'N', 'K', 'N'},
                  {"eeprom 000000 1 K", "eeprom 000001 1 N checksum", "eeprom 000001 1 K",
                   "eeprom 000002 1 N malformed"},
                  [](const DeviceModel& m) {
                      EXPECT_EQ(m.EepromByte(0), 0x11);
                      EXPECT_EQ(m.EepromByte(1), 0x22);
                      EXPECT_FALSE(m.EepromWritten(2));
                      EXPECT_EQ(m.eepromFrames(), 2u);
                  });
}

TEST(DeviceModelEeprom, IndexWrapsIntoPagesSoA1024ByteBlockIsStoredWhole) {
    DeviceModel m(Config());
    Bytes stream{0xC2};
    for (std::uint32_t i = 0; i < 1024; ++i) {
        const auto f = EepromFrame(static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i * 13 + (i >> 8)));
        stream.insert(stream.end(), f.begin(), f.end());
    }
    const Bytes reply = m.Feed(stream);
    EXPECT_EQ(reply.size(), 6u + 1024u);
    EXPECT_EQ(std::count(reply.begin() + 6, reply.end(), 'K'), 1024);
    for (std::uint32_t i = 0; i < 1024; ++i) {
        ASSERT_TRUE(m.EepromWritten(i)) << i;
        ASSERT_EQ(m.EepromByte(i), static_cast<std::uint8_t>(i * 13 + (i >> 8))) << i;
    }
    // A 1025th byte would lie outside the EEPROM.
    EXPECT_EQ(m.Feed(EepromFrame(0, 0xEE)), Bytes{'N'});
    EXPECT_EQ(m.TakeEvents().back().note, "range");
}

TEST(DeviceModelEeprom, PagingRestartsWithANewUpdate) {
    auto page1 = [](DeviceModel& m) {  // indexes 0..255 then 0..1: the last two land in page 1
        for (unsigned i = 0; i < 258; ++i) m.Feed(EepromFrame(static_cast<std::uint8_t>(i), 0x01));
    };
    {
        SCOPED_TRACE("search byte");
        DeviceModel m(Config());
        page1(m);
        EXPECT_TRUE(m.EepromWritten(257));
        m.Feed({0xC2});
        m.Feed(EepromFrame(0, 0xA0));
        EXPECT_EQ(m.EepromByte(0), 0xA0);
        EXPECT_EQ(m.EepromByte(256), 0x01);
    }
    {
        SCOPED_TRACE("program row");
        DeviceModel m(Config());
        page1(m);
        m.Feed(DataFrame(0x0000, Bytes(64, 0)));
        m.Feed(EepromFrame(0, 0xB0));
        EXPECT_EQ(m.EepromByte(0), 0xB0);
    }
    {
        SCOPED_TRACE("refused frame does not turn the page");
        DeviceModel m(Config());
        m.Feed(EepromFrame(5, 0x01));
        Bytes bad = EepromFrame(2, 0x02);
        bad[5] ^= 0xFF;
        EXPECT_EQ(m.Feed(bad), Bytes{'N'});
        EXPECT_EQ(m.Feed(EepromFrame(6, 0x03)), Bytes{'K'});
        EXPECT_EQ(m.EepromByte(6), 0x03);
        EXPECT_FALSE(m.EepromWritten(256 + 2));
    }
    {
        SCOPED_TRACE("a resent index stays on its page");
        DeviceModel m(Config());
        m.Feed(EepromFrame(7, 0x01));
        m.Feed(EepromFrame(7, 0x02));
        EXPECT_EQ(m.EepromByte(7), 0x02);
        EXPECT_FALSE(m.EepromWritten(256 + 7));
    }
}

TEST(DeviceModelMemory, WrittenListsProgramAndEepromBytes) {
    DeviceModel m(Config());
    m.Feed(DataFrame(0x0040, Masked({0x01, 0x02}, 0x40)));
    m.Feed(EepromFrame(3, 0x77));
    const WrittenMemory expected{{0x40, 0x01}, {0x41, 0x02}, {kEepromHexBase + 3, 0x77}};
    EXPECT_EQ(m.Written(), expected);
}

}  // namespace
}  // namespace pelmark::devsim
