#include "images/intel_hex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <streambuf>
#include <utility>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

namespace pelmark::hex {
namespace {

TEST(IntelHexRead, DataAtLinearAndSegmentAddresses) {
    const std::string text =
        ":0400000001020304F2\r\n"  // 0x0000
        "\n"
        ":020000040001F9\n"     // upper 16 bits 0x0001
        ":02FFFE00A1B2AE\n"     // 0x1FFFE, 0x1FFFF
        ":02000002F0000C\n"     // segment 0xF000: base 0xF0000
        ":01001000aa45\n"       // lower-case digits
        ":00000001FF\n"
        "\n";
    const Memory m = Parse(text, "a.hex");
    const Memory expected = {{0x0, 0x01},     {0x1, 0x02},     {0x2, 0x03}, {0x3, 0x04},
                             {0x1FFFE, 0xA1}, {0x1FFFF, 0xB2}, {0xF0010, 0xAA}};
    EXPECT_EQ(m, expected);
}

TEST(IntelHexRead, SegmentAddressesWrapWithinTheSegmentLinearOnesDoNot) {
    // Two bytes at offset 0xFFFF: a segment record keeps the second in its
    // 64 KB segment, a linear record carries it into the next.
    const Memory seg = Parse(":020000021000EC\n:02FFFF001122CD\n:00000001FF\n", "s.hex");
    EXPECT_EQ(seg, (Memory{{0x1FFFF, 0x11}, {0x10000, 0x22}}));
    const Memory lin = Parse(":020000040001F9\n:02FFFF001122CD\n:00000001FF\n", "l.hex");
    EXPECT_EQ(lin, (Memory{{0x1FFFF, 0x11}, {0x20000, 0x22}}));
}

TEST(IntelHexRead, SameDataTwiceIsAccepted) {
    EXPECT_EQ(Parse(":0100000055AA\n:0100000055AA\n:00000001FF\n", "x.hex"), (Memory{{0, 0x55}}));
}

struct BadInput {
    const char* name;
    const char* text;
    int line;
    const char* says;
};

void PrintTo(const BadInput& c, std::ostream* os) { *os << c.name; }

class IntelHexReject : public ::testing::TestWithParam<BadInput> {};

TEST_P(IntelHexReject, NamesFileAndLine) {
    const BadInput& c = GetParam();
    // The same from text and from a stream read line by line.
    for (const bool stream : {false, true}) {
        SCOPED_TRACE(stream ? "stream" : "text");
        try {
            if (stream) {
                std::istringstream in{std::string(c.text)};
                Read(in, "dir/fw.hex");
            } else {
                Parse(c.text, "dir/fw.hex");
            }
            ADD_FAILURE() << "accepted";
        } catch (const Error& e) {
            EXPECT_EQ(e.file(), "dir/fw.hex");
            EXPECT_EQ(e.line(), c.line);
            EXPECT_EQ(std::string(e.what()).rfind("dir/fw.hex:" + std::to_string(c.line) + ": ", 0), 0u)
                << e.what();
            EXPECT_NE(e.message().find(c.says), std::string::npos) << e.what();
        }
    }
}

const BadInput kBadInputs[] = {
    {"BadChecksum", ":020000040000FA\n:0400000001020304F3\n:00000001FF\n", 2, "checksum"},
    {"BadChecksumOfEof", ":0100000055AA\n:00000001FE\n", 2, "checksum"},
    {"Type03", ":0400000300001000E9\n:00000001FF\n", 1, "record type 0x03"},
    {"Type05", ":0100000055AA\n:04000005000001F006\n:00000001FF\n", 2, "record type 0x05"},
    {"Type06", ":00000006FA\n", 1, "record type 0x06"},
    {"LetterG", ":0100000055AG\n:00000001FF\n", 1, "'G'"},
    {"InnerSpace", ":01000000 55AA\n:00000001FF\n", 1, "' '"},
    {"TrailingSpace", ":0100000055AA \n:00000001FF\n", 1, "column 14"},
    {"ControlCharacter", ":0100000055AA\n:0000\x01" "0001FF\n", 2, "\\x01"},
    {"MissingColon", "0100000055AA\n:00000001FF\n", 1, "':'"},
    {"SemicolonForColon", ":0100000055AA\n;00000001FF\n", 2, "';'"},
    {"OddDigitCount", ":0100000055A\n:00000001FF\n", 1, "odd number"},
    {"ColonOnly", ":0100000055AA\n:\n:00000001FF\n", 2, "too short"},
    {"Truncated", ":0100000055AA\n:10000000000102030405060708\n:00000001FF\n", 2, "too short"},
    {"LongerThanLength", ":0100000055AAAA\n:00000001FF\n", 1, "too long"},
    {"DataAfterEof", ":0100000055AA\n:00000001FF\n:0100000055AA\n", 3, "after the end-of-file"},
    {"SecondEof", ":00000001FF\n:00000001FF\n", 2, "after the end-of-file"},
    {"QuestionMarks", ":0100000055AA\n:0100010066??\n", 2, "'?'"},
    {"MissingEof", ":020000040000FA\n:0100000055AA\n", 2, "no end-of-file"},
    {"EmptyFile", "", 1, "no end-of-file"},
    {"EofWithData", ":01000001AA54\n", 1, "end-of-file record with data"},
    {"LinearOneByte", ":0100000400FB\n:00000001FF\n", 1, "2 data bytes"},
    {"SegmentThreeBytes", ":03000002000000FB\n:00000001FF\n", 1, "2 data bytes"},
    {"ConflictingData", ":0100000055AA\n:0100000056A9\n:00000001FF\n", 2, "twice"},
    // Upper address bits 0xFFFF, two bytes at offset 0xFFFF: the second would
    // lie at address 0 again.
    {"PastFourGiB", ":02000004FFFFFC\n:02FFFF001122CD\n:00000001FF\n", 2, "past address 0xFFFFFFFF"},
    {"LineLongerThanAnyRecord", ":0100000055AA\n:00000000000000000000000000000000000000000000000000000000000000000000"
     "00000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
     "00000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
     "00000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
     "00000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
     "00000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
     "\n:00000001FF\n", 2, "longer than any record"},
};

INSTANTIATE_TEST_SUITE_P(Cases, IntelHexReject, ::testing::ValuesIn(kBadInputs),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(IntelHexRead, MissingFileNamesThePath) {
    try {
        ReadFile("/nonexistent/dir/missing.hex");
        FAIL() << "accepted";
    } catch (const Error& e) {
        EXPECT_EQ(e.file(), "/nonexistent/dir/missing.hex");
        EXPECT_EQ(e.line(), 0);
        EXPECT_NE(std::string(e.what()).find("/nonexistent/dir/missing.hex: cannot open"), std::string::npos);
    }
}

// An endless line of hex digits, counting what the reader takes of it.
class EndlessLine : public std::streambuf {
public:
    std::size_t taken = 0;

protected:
    int_type underflow() override {
        if (taken >= kLimit) return traits_type::eof();  // a guard, not the test
        std::fill(std::begin(chunk_), std::end(chunk_), '0');
        if (taken == 0) chunk_[0] = ':';
        setg(chunk_, chunk_, chunk_ + sizeof chunk_);
        taken += sizeof chunk_;
        return traits_type::to_int_type(chunk_[0]);
    }

private:
    static constexpr std::size_t kLimit = std::size_t{64} << 20;
    char chunk_[256];
};

TEST(IntelHexRead, ALineLongerThanAnyRecordIsRefusedWithoutReadingOn) {
    EndlessLine line;
    std::istream in(&line);
    try {
        Read(in, "big.hex");
        FAIL() << "accepted";
    } catch (const Error& e) {
        EXPECT_EQ(e.line(), 1);
        EXPECT_NE(e.message().find("longer than any record"), std::string::npos) << e.what();
    }
    EXPECT_LE(line.taken, 1024u) << "the reader went on reading one line";
}

TEST(IntelHexRead, ADirectoryOrADeviceIsNamedForWhatItIs) {
    const std::string dir = std::filesystem::temp_directory_path().string();
    for (const auto& [path, says] : {std::pair<std::string, const char*>{dir, "is a directory, not a HEX file"},
                                     std::pair<std::string, const char*>{"/dev/null", "is a device, not a HEX file"}}) {
        SCOPED_TRACE(path);
        try {
            ReadFile(path);
            ADD_FAILURE() << "accepted";
        } catch (const Error& e) {
            EXPECT_EQ(e.file(), path);
            EXPECT_NE(e.message().find(says), std::string::npos) << e.what();
        }
    }
}

TEST(IntelHexWrite, ExactText) {
    // Linear address records only where the upper bits change; records break
    // at gaps and at 16-byte boundaries.
    const Memory m = {{0x0, 0x01},     {0x1, 0x02},     {0x10010, 0xAA},
                      {0x1001E, 0x10}, {0x1001F, 0x11}, {0x10020, 0x12}};
    EXPECT_EQ(Format(m),
              ":020000000102FB\n"
              ":020000040001F9\n"
              ":01001000AA45\n"
              ":02001E001011BF\n"
              ":0100200012CD\n"
              ":00000001FF\n");
    EXPECT_EQ(Format({}), ":00000001FF\n");
}

TEST(IntelHexWrite, SixteenBytesPerRecordAndRoundTrip) {
    Memory m;
    for (std::uint32_t a = 0; a < 100; ++a) m[a] = static_cast<std::uint8_t>(a * 7);
    for (std::uint32_t a = 0xFFF8; a < 0x10008; ++a) m[a] = static_cast<std::uint8_t>(a);  // across 64 KB
    for (std::uint32_t a = 0xF00000; a < 0xF00003; ++a) m[a] = 0x5A;                      // EEPROM
    m[0x300000] = 0x1E;                                                                    // configuration
    m[0x1F00000] = 0xCF;

    const std::string text = Format(m);
    std::istringstream lines(text);
    std::string line, last;
    int dataRecords = 0, linearRecords = 0;
    while (std::getline(lines, line)) {
        last = line;
        ASSERT_GE(line.size(), 11u);
        const std::string type = line.substr(7, 2);
        if (type == "00") {
            ++dataRecords;
            EXPECT_LE(std::stoi(line.substr(1, 2), nullptr, 16), 16) << line;
        } else if (type == "04") {
            ++linearRecords;
        }
    }
    EXPECT_EQ(last, ":00000001FF");
    // 0x0000-0x0063: 7 records; 0xFFF8-0xFFFF, 0x10000-0x10007: 2; then one
    // record each for EEPROM, configuration and 0x1F00000.
    EXPECT_EQ(dataRecords, 12);
    EXPECT_EQ(linearRecords, 4);  // 0x0001, 0x0030, 0x00F0, 0x01F0
    EXPECT_EQ(Parse(text, "round.hex"), m);
}

TEST(IntelHexWrite, FileRoundTripLeavesNoTemporary) {
    const auto dir = std::filesystem::temp_directory_path() / ("pelmark_hex_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "out.hex").string();
    const Memory m = {{0x10, 0x01}, {0xF00001, 0x02}};
    WriteFile(path, m);
    WriteFile(path, m);  // replaces an existing file
    EXPECT_EQ(ReadFile(path), m);
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
    std::filesystem::remove_all(dir);

    EXPECT_THROW(WriteFile("/nonexistent/dir/out.hex", m), Error);
}

TEST(IntelHexExtract, BlockFromFirstAddressToHighestPresent) {
    const Memory m = {{0x2, 0xA0}, {0x5, 0xA1}, {0x200000, 0x01}, {0xF00000, 0x11}, {0xF00003, 0x33}};
    EXPECT_EQ(Extract(m, 0, 0x200000), (std::vector<std::uint8_t>{0xFF, 0xFF, 0xA0, 0xFF, 0xFF, 0xA1}));
    EXPECT_EQ(Extract(m, 0, 0x200001).size(), 0x200001u);  // the limit is exclusive
    EXPECT_EQ(Extract(m, 0xF00000, 0x1000000, 0x00), (std::vector<std::uint8_t>{0x11, 0x00, 0x00, 0x33}));
    EXPECT_TRUE(Extract(m, 0x6, 0x200000).empty());
    EXPECT_TRUE(Extract(m, 0x5, 0x5).empty());
}

}  // namespace
}  // namespace pelmark::hex
