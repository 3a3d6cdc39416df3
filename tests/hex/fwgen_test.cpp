// pelmark-fwgen run as the build runs it, on small manifests written by the
// tests; the generated source is read back into arrays and descriptors.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "images/intel_hex.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using pelmark::hex::Memory;

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteText(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// One descriptor of the generated kImages[] table.
struct Descriptor {
    int slot = -1, row = -1;
    std::string trailer, program, eeprom;  // array names
    int trailerCount = -1, programLength = -1, eepromCount = -1;
    bool plain = false;
    unsigned board = 0, preparation = 0;
};

// What a generated source defines.
struct Generated {
    std::map<std::string, Bytes> arrays;
    std::vector<Descriptor> images;
    int count = -1;

    const Descriptor* Find(int slot, int row) const {
        for (const auto& d : images)
            if (d.slot == slot && d.row == row) return &d;
        return nullptr;
    }
    Bytes Program(int slot, int row) const { return Block(slot, row, &Descriptor::program); }
    Bytes Eeprom(int slot, int row) const { return Block(slot, row, &Descriptor::eeprom); }
    Bytes Trailer(int slot, int row) const { return Block(slot, row, &Descriptor::trailer); }

private:
    Bytes Block(int slot, int row, std::string Descriptor::*name) const {
        const Descriptor* d = Find(slot, row);
        if (d == nullptr) return {};
        auto it = arrays.find(d->*name);
        return it == arrays.end() ? Bytes{} : it->second;
    }
};

// Reads the arrays ("std::uint8_t NAME[N] = {0x.., ...};"), the descriptor
// lines and the CarriedImages count of a generated source.
Generated ParseGenerated(const std::string& text) {
    Generated g;
    std::size_t pos = 0;
    const std::string arrayStart = "std::uint8_t ";
    while ((pos = text.find(arrayStart, pos)) != std::string::npos) {
        pos += arrayStart.size();
        const std::size_t bracket = text.find('[', pos);
        const std::string name = text.substr(pos, bracket - pos);
        const std::size_t size = std::stoul(text.substr(bracket + 1));
        const std::size_t open = text.find('{', bracket), close = text.find('}', open);
        Bytes bytes;
        const char* p = text.c_str() + open + 1;
        const char* end = text.c_str() + close;
        while (p < end) {
            char* next = nullptr;
            const unsigned long v = std::strtoul(p, &next, 16);
            if (next == p) {
                ++p;
                continue;
            }
            bytes.push_back(static_cast<std::uint8_t>(v));
            p = next;
        }
        EXPECT_EQ(bytes.size(), size) << name;
        g.arrays[name] = bytes;
        pos = close;
    }
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        Descriptor d;
        char trailer[64], program[64], eeprom[64], plain[8];
        if (std::sscanf(line.c_str(), " {%d, %d, %63[^,], %d, %63[^,], %d, %63[^,], %d, %7[^,], 0x%x, 0x%x}", &d.slot,
                        &d.row, trailer, &d.trailerCount, program, &d.programLength, eeprom, &d.eepromCount, plain,
                        &d.board, &d.preparation) == 11) {
            d.trailer = trailer;
            d.program = program;
            d.eeprom = eeprom;
            d.plain = std::strcmp(plain, "true") == 0;
            g.images.push_back(d);
        }
        int count = 0;
        char first[64];
        if (std::sscanf(line.c_str(), "const CarriedImages kCarriedImages = {%63[^,], %d}", first, &count) == 2)
            g.count = count;
    }
    return g;
}

std::uint8_t Mask(unsigned base, std::uint32_t address) { return static_cast<std::uint8_t>((base + address) & 0xFF); }

class FwgenTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "_" + info->name();
        for (char& c : name)
            if (c == '/') c = '_';
        dir_ = fs::temp_directory_path() / ("pelmark_fwgen_" + std::to_string(::getpid()) + "_" + name);
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "hex");
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(dir_);
    }

    std::string Hex(const std::string& name, const Memory& m) {
        WriteText(dir_ / "hex" / name, pelmark::hex::Format(m));
        return "hex/" + name;
    }
    fs::path Manifest(const std::string& json) {
        WriteText(dir_ / "manifest.json", json);
        return dir_ / "manifest.json";
    }

    // Runs the tool on manifest.json; the output and depfile go into the
    // test's folder.
    int Run(const std::string& maskBase = "0x5A") { return RunWith({"--manifest", (dir_ / "manifest.json").string(),
                                                                    "--mask-base", maskBase, "--output", Out(),
                                                                    "--depfile", Out() + ".d"}); }
    int RunWith(const std::vector<std::string>& args) {
        std::string cmd = "'" PELMARK_FWGEN_PATH "'";
        for (const auto& a : args) cmd += " '" + a + "'";
        cmd += " >'" + (dir_ / "stdout.txt").string() + "' 2>'" + (dir_ / "stderr.txt").string() + "'";
        const int status = std::system(cmd.c_str());
        stderr_ = ReadText(dir_ / "stderr.txt");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    Generated Output() { return ParseGenerated(ReadText(Out())); }
    std::string Out() const { return (dir_ / "images.cpp").string(); }

    fs::path dir_;
    std::string stderr_;
};

// A PIC18 program of `n` bytes whose byte o holds (o * 7 + 3) & 0xFF.
Memory Pic18Program(std::uint32_t n) {
    Memory m;
    for (std::uint32_t o = 0; o < n; ++o) m[o] = static_cast<std::uint8_t>(o * 7 + 3);
    return m;
}

std::string Entry(int slot, int row, const std::string& hex, const std::string& extra = "") {
    return "{\"slot\": " + std::to_string(slot) + ", \"row\": " + std::to_string(row) + ", \"hex\": \"" + hex +
           "\", \"trailer\": \"0102\"" + extra + "}";
}

TEST_F(FwgenTest, Pic18ProgramIsMaskedByItsRowStart) {
    const std::string hex = Hex("k80.hex", Pic18Program(300));
    Manifest("{\"images\": [" + Entry(9, 0, hex) + "]}");

    // Decimal and hex bases, one that wraps past 0xFF within a row.
    for (const auto& [text, base] : std::vector<std::pair<std::string, unsigned>>{
             {"0x5A", 0x5A}, {"200", 200}, {"0", 0}, {"0xff", 0xFF}}) {
        SCOPED_TRACE(text);
        ASSERT_EQ(Run(text), 0) << stderr_;
        const Bytes p = Output().Program(9, 0);
        ASSERT_EQ(p.size(), 300u);
        for (std::uint32_t o : {0u, 1u, 63u, 64u, 127u, 128u, 255u, 256u, 299u})
            EXPECT_EQ(p[o] ^ Mask(base, o & ~63u), static_cast<std::uint8_t>(o * 7 + 3)) << "offset " << o;
    }
}

TEST_F(FwgenTest, Pic24ProgramIsMaskedByRowAddressInWords) {
    Memory m;
    for (std::uint32_t o = 0; o < 600; ++o) m[o] = (o % 4 == 3) ? 0 : static_cast<std::uint8_t>(o * 5 + 1);
    const std::string hex = Hex("hj64.hex", m);
    Manifest("{\"images\": [" + Entry(6, 5, hex) + "]}");
    ASSERT_EQ(Run("0x5A"), 0) << stderr_;
    const Generated g = Output();
    const Bytes p = g.Program(6, 5);
    ASSERT_EQ(p.size(), 600u);
    // Rows of 256 bytes start at addresses 0, 0x80, 0x100.
    for (std::uint32_t o : {0u, 3u, 255u, 256u, 511u, 512u, 599u})
        EXPECT_EQ(p[o] ^ Mask(0x5A, (o & ~255u) / 2), m[o]) << "offset " << o;
    EXPECT_FALSE(g.Find(6, 5)->plain);
}

TEST_F(FwgenTest, GapsReadErasedAndOnlyProgramAndEepromAreCarried) {
    Memory m = {{0x00, 0x10}, {0x01, 0x11}, {0x64, 0x12}};  // program 0x00..0x64
    m[0x200000] = 0x01;                                     // ID locations
    m[0x300000] = 0x1E;                                     // configuration
    m[0x300001] = 0x08;
    m[0xF00000] = 0xA0;  // EEPROM 0..5, gap at 1..4
    m[0xF00005] = 0xA5;
    const std::string hex = Hex("k80.hex", m);
    Manifest("{\"images\": [" + Entry(9, 0, hex) + "]}");
    ASSERT_EQ(Run("0x5A"), 0) << stderr_;
    const Generated g = Output();
    const Bytes p = g.Program(9, 0);
    ASSERT_EQ(p.size(), 0x65u);
    EXPECT_EQ(p[0x01] ^ Mask(0x5A, 0), 0x11);
    EXPECT_EQ(p[0x02] ^ Mask(0x5A, 0), 0xFF);  // gap, masked like data
    EXPECT_EQ(p[0x3F] ^ Mask(0x5A, 0), 0xFF);
    EXPECT_EQ(p[0x40] ^ Mask(0x5A, 0x40), 0xFF);
    EXPECT_EQ(p[0x64] ^ Mask(0x5A, 0x40), 0x12);
    // EEPROM and trailer are never masked.
    EXPECT_EQ(g.Eeprom(9, 0), (Bytes{0xA0, 0xFF, 0xFF, 0xFF, 0xFF, 0xA5}));
    EXPECT_EQ(g.Find(9, 0)->eepromCount, 6);
    EXPECT_EQ(g.Trailer(9, 0), (Bytes{0x01, 0x02}));
}

TEST_F(FwgenTest, PlainPic24ImageIsStoredAsInTheFile) {
    Memory m;
    for (std::uint32_t o = 0; o < 8; ++o) m[o] = static_cast<std::uint8_t>(0x30 + o);
    m[0x20C] = 0x77;  // gap 8..0x20B
    m[0x20D] = 0x00;
    m[0x1F00000] = 0xCF;  // configuration at program counter 0xF80000
    const std::string hex = Hex("hj128.hex", m);
    Manifest("{\"images\": [" + Entry(7, 0, hex, ", \"plain\": true, \"board\": 32, \"preparation\": 129") + "]}");
    ASSERT_EQ(Run("0x5A"), 0) << stderr_;
    const Generated g = Output();
    const Descriptor* d = g.Find(7, 0);
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(d->plain);
    EXPECT_EQ(d->board, 32u);
    EXPECT_EQ(d->preparation, 129u);
    const Bytes p = g.Program(7, 0);
    ASSERT_EQ(p.size(), 0x20Eu);
    EXPECT_EQ(p[0], 0x30);
    EXPECT_EQ(p[7], 0x37);
    EXPECT_EQ(p[8], 0xFF);
    EXPECT_EQ(p[0x100], 0xFF);
    EXPECT_EQ(p[0x20C], 0x77);
    // PIC24 images have no EEPROM block: a one-byte placeholder, count 0.
    EXPECT_EQ(d->eepromCount, 0);
    EXPECT_EQ(g.Eeprom(7, 0).size(), 1u);
}

TEST_F(FwgenTest, SeveralImagesAndEmptyManifest) {
    const std::string a = Hex("a.hex", Pic18Program(10));
    const std::string b = Hex("b.hex", Pic18Program(70));
    Manifest("{\"images\": [" + Entry(0, 0, a) + ", " + Entry(0, 2, b) + ", " + Entry(1, 6, a) + "]}");
    ASSERT_EQ(Run(), 0) << stderr_;
    Generated g = Output();
    EXPECT_EQ(g.count, 3);
    ASSERT_EQ(g.images.size(), 3u);
    EXPECT_EQ(g.Find(0, 0)->programLength, 10);
    EXPECT_EQ(g.Find(0, 2)->programLength, 70);
    EXPECT_EQ(g.Find(1, 6)->programLength, 10);
    EXPECT_EQ(g.Find(1, 6)->eepromCount, 0);

    Manifest("{\"images\": []}");
    ASSERT_EQ(Run(), 0) << stderr_;
    const std::string text = ReadText(Out());
    g = ParseGenerated(text);
    EXPECT_EQ(g.count, 0);
    EXPECT_TRUE(g.images.empty());
    EXPECT_NE(text.find("{nullptr, 0}"), std::string::npos);
}

TEST_F(FwgenTest, DepfileListsManifestAndEveryHexFile) {
    const std::string a = Hex("a.hex", Pic18Program(4));
    const std::string b = Hex("b.hex", Pic18Program(4));
    Manifest("{\"images\": [" + Entry(2, 0, a) + ", " + Entry(3, 0, b) + "]}");
    ASSERT_EQ(Run(), 0) << stderr_;
    const std::string dep = ReadText(Out() + ".d");
    EXPECT_EQ(dep.rfind(Out() + ":", 0), 0u) << dep;
    for (const fs::path& input : {dir_ / "manifest.json", dir_ / "hex" / "a.hex", dir_ / "hex" / "b.hex"})
        EXPECT_NE(dep.find(input.string()), std::string::npos) << input << "\n" << dep;
}

TEST_F(FwgenTest, UnchangedOutputIsNotRewritten) {
    const std::string a = Hex("a.hex", Pic18Program(4));
    Manifest("{\"images\": [" + Entry(2, 0, a) + "]}");
    ASSERT_EQ(Run(), 0) << stderr_;
    const auto stamp = fs::last_write_time(Out()) - std::chrono::hours(1);
    fs::last_write_time(Out(), stamp);
    ASSERT_EQ(Run(), 0) << stderr_;
    EXPECT_EQ(fs::last_write_time(Out()), stamp);
    ASSERT_EQ(Run("0x5B"), 0) << stderr_;  // another mask: new content
    EXPECT_NE(fs::last_write_time(Out()), stamp);
}

struct Rejection {
    const char* name;
    std::string manifest;  // "@" stands for the path of a good PIC18 HEX file
    const char* names;     // the file the message must name: "manifest" or a HEX file name
    const char* says;
};

class FwgenReject : public FwgenTest, public ::testing::WithParamInterface<Rejection> {};

TEST_P(FwgenReject, FailsNamingTheFile) {
    const Rejection& c = GetParam();
    Hex("good.hex", Pic18Program(8));
    WriteText(dir_ / "hex" / "bad.hex", ":0100000055AA\n:020000040000FA\n:0100010066A8\n:00000001FF\n");
    WriteText(dir_ / "hex" / "config_only.hex", pelmark::hex::Format({{0x300000, 0x1E}, {0xF00000, 0x01}}));
    // One byte past the program memory of a PIC18F258 (32 KB) and of a
    // PIC24HJ64 (0xA800 address units, two HEX bytes each); one EEPROM byte
    // past 256 and past 1024.
    Hex("big.hex", Pic18Program(0x8001));
    Hex("big24.hex", {{0, 0x00}, {2 * 0xA800, 0x00}});
    for (const std::uint32_t n : {257u, 1025u}) {
        Memory m = Pic18Program(8);
        for (std::uint32_t i = 0; i < n; ++i) m[0xF00000 + i] = static_cast<std::uint8_t>(i);
        Hex("eeprom" + std::to_string(n) + ".hex", m);
    }
    std::string json = c.manifest;
    for (std::size_t at; (at = json.find('@')) != std::string::npos;) json.replace(at, 1, "hex/good.hex");
    Manifest(json);

    EXPECT_EQ(Run(), 1);
    const std::string named = std::string(c.names) == "manifest" ? (dir_ / "manifest.json").string()
                                                                  : (dir_ / "hex" / c.names).string();
    EXPECT_NE(stderr_.find(named), std::string::npos) << stderr_;
    EXPECT_NE(stderr_.find(c.says), std::string::npos) << stderr_;
    EXPECT_FALSE(fs::exists(Out()));
    EXPECT_FALSE(fs::exists(Out() + ".d"));
}

void PrintTo(const Rejection& c, std::ostream* os) { *os << c.name; }

std::string One(const std::string& entry) { return "{\"images\": [" + entry + "]}"; }

const Rejection kRejections[] = {
    {"SlotTen", One(R"({"slot": 10, "row": 0, "hex": "@", "trailer": "01"})"), "manifest", "\"slot\" is 10"},
    {"SlotNegative", One(R"({"slot": -1, "row": 0, "hex": "@", "trailer": "01"})"), "manifest", "\"slot\" is -1"},
    {"SlotAsText", One(R"({"slot": "9", "row": 0, "hex": "@", "trailer": "01"})"), "manifest", "integer"},
    {"SlotFraction", One(R"({"slot": 9.5, "row": 0, "hex": "@", "trailer": "01"})"), "manifest", "integer"},
    {"MissingSlot", One(R"({"row": 0, "hex": "@", "trailer": "01"})"), "manifest", "missing key \"slot\""},
    {"RowThreeOfSlot0", One(R"({"slot": 0, "row": 3, "hex": "@", "trailer": "01"})"), "manifest",
     "no row 3 for slot 0 (rows: 0, 2, 4, 5, 6)"},
    {"BoardRowOfSlot2", One(R"({"slot": 2, "row": 2, "hex": "@", "trailer": "01"})"), "manifest", "no row 2"},
    {"Row4OfSlot6", One(R"({"slot": 6, "row": 4, "hex": "@", "trailer": "01"})"), "manifest", "no row 4"},
    {"Row32OfSlot6", One(R"({"slot": 6, "row": 32, "hex": "@", "trailer": "01"})"), "manifest", "row 16"},
    {"Row255", One(R"({"slot": 0, "row": 255, "hex": "@", "trailer": "01"})"), "manifest", "\"row\" is 255"},
    {"PlainSlot9", One(R"({"slot": 9, "row": 0, "hex": "@", "plain": true, "trailer": "01"})"), "manifest",
     "plain"},
    {"PlainBoardRowOfSlot6", One(R"({"slot": 6, "row": 5, "hex": "@", "plain": true, "trailer": "01"})"),
     "manifest", "plain"},
    {"PlainNotBool", One(R"({"slot": 7, "row": 0, "hex": "@", "plain": 1, "trailer": "01"})"), "manifest",
     "true or false"},
    {"BoardOnMaskedImage", One(R"({"slot": 9, "row": 0, "hex": "@", "board": 5, "trailer": "01"})"), "manifest",
     "plain images only"},
    {"PreparationOutOfRange",
     One(R"({"slot": 7, "row": 0, "hex": "@", "plain": true, "preparation": 256, "trailer": "01"})"), "manifest",
     "\"preparation\" is 256"},
    {"Duplicate",
     R"({"images": [{"slot": 9, "hex": "@", "trailer": "01"}, {"slot": 9, "row": 0, "hex": "@", "trailer": "02"}]})",
     "manifest", "images[1]: slot 9, row 0: listed twice (first as images[0])"},
    {"MissingHexFile", One(R"({"slot": 9, "row": 0, "hex": "hex/none.hex", "trailer": "01"})"), "none.hex",
     "does not exist"},
    {"MissingHexKey", One(R"({"slot": 9, "row": 0, "trailer": "01"})"), "manifest", "missing key \"hex\""},
    {"TrailerNotHex", One(R"({"slot": 9, "row": 0, "hex": "@", "trailer": "0G"})"), "manifest", "\"0G\""},
    {"TrailerOddDigits", One(R"({"slot": 9, "row": 0, "hex": "@", "trailer": "123"})"), "manifest", "odd number"},
    {"TrailerEmpty", One(R"({"slot": 9, "row": 0, "hex": "@", "trailer": ""})"), "manifest", "at least one"},
    {"TrailerNumber", One(R"({"slot": 9, "row": 0, "hex": "@", "trailer": 12})"), "manifest", "\"trailer\""},
    {"TrailerMissing", One(R"({"slot": 9, "row": 0, "hex": "@"})"), "manifest", "missing key \"trailer\""},
    {"TrailerLongerThanRow", One(R"({"slot": 9, "row": 0, "hex": "@", "trailer": ")" + std::string(130, 'A') +
                                 R"("})"),
     "manifest", "65 bytes"},
    {"UnknownKey", One(R"({"slot": 9, "row": 0, "hex": "@", "trailer": "01", "plian": true})"), "manifest",
     "unknown key \"plian\""},
    {"UnknownTopKey", R"({"images": [], "extra": 1})", "manifest", "unknown key \"extra\""},
    {"ImagesNotArray", R"({"images": {}})", "manifest", "array"},
    {"NoImagesKey", R"({})", "manifest", "missing key \"images\""},
    {"BadJson", R"({"images": [)", "manifest", "not valid JSON"},
    {"MalformedHex", One(R"({"slot": 9, "row": 0, "hex": "hex/bad.hex", "trailer": "01"})"), "bad.hex:3:",
     "checksum"},
    {"NoProgramBytes", One(R"({"slot": 9, "row": 0, "hex": "hex/config_only.hex", "trailer": "01"})"),
     "config_only.hex", "no program memory bytes"},
    {"DuplicateKey", One(R"({"slot": 9, "slot": 7, "row": 0, "hex": "@", "trailer": "01"})"), "manifest",
     "key \"slot\" given twice"},
    {"DuplicateTopKey", R"({"images": [], "images": []})", "manifest", "key \"images\" given twice"},
    {"ProgramLargerThanTheChip", One(R"({"slot": 0, "row": 0, "hex": "hex/big.hex", "trailer": "01"})"), "big.hex",
     "program memory reaches 0x8001, but the PIC18F258 of slot 0 holds 0x8000 bytes"},
    {"Pic24ProgramLargerThanTheChip", One(R"({"slot": 6, "row": 0, "hex": "hex/big24.hex", "trailer": "01"})"),
     "big24.hex", "holds 0x15000 bytes"},
    {"EepromLargerThanTheChip", One(R"({"slot": 0, "row": 0, "hex": "hex/eeprom257.hex", "trailer": "01"})"),
     "eeprom257.hex", "257 EEPROM bytes, but the PIC18F258 of slot 0 holds 256"},
    {"K80EepromLargerThanTheChip", One(R"({"slot": 9, "row": 0, "hex": "hex/eeprom1025.hex", "trailer": "01"})"),
     "eeprom1025.hex", "1025 EEPROM bytes, but the PIC18F26K80 of slot 9 holds 1024"},
    {"EepromOnAChipWithoutOne", One(R"({"slot": 5, "row": 0, "hex": "hex/eeprom257.hex", "trailer": "01"})"),
     "eeprom257.hex", "has no data EEPROM"},
    {"HexIsADirectory", One(R"({"slot": 9, "row": 0, "hex": "hex", "trailer": "01"})"), "manifest",
     "is a directory, not a HEX file"},
    {"HexIsADevice", One(R"({"slot": 9, "row": 0, "hex": "/dev/null", "trailer": "01"})"), "manifest",
     "HEX file /dev/null is a device, not a HEX file"},
};

INSTANTIATE_TEST_SUITE_P(Cases, FwgenReject, ::testing::ValuesIn(kRejections),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(FwgenTest, MissingManifestAndBadCommandLine) {
    EXPECT_EQ(Run(), 1);  // no manifest.json written
    EXPECT_NE(stderr_.find((dir_ / "manifest.json").string()), std::string::npos) << stderr_;

    Manifest("{\"images\": []}");
    for (const char* base : {"0x100", "256", "-1", "abc", "0x", "012x"}) {
        EXPECT_EQ(Run(base), 2) << base;
        EXPECT_NE(stderr_.find("--mask-base"), std::string::npos) << stderr_;
    }
    EXPECT_EQ(RunWith({"--manifest", (dir_ / "manifest.json").string(), "--output"}), 2);
    EXPECT_EQ(RunWith({"--manifest", (dir_ / "manifest.json").string(), "--mask-base", "1"}), 2);
    EXPECT_EQ(RunWith({"--bogus"}), 2);
    EXPECT_FALSE(fs::exists(Out()));
}

TEST_F(FwgenTest, ManifestThatIsADirectoryOrADevice) {
    for (const auto& [path, says] : {std::pair<std::string, const char*>{dir_.string(), "is a directory, not a manifest"},
                                     std::pair<std::string, const char*>{"/dev/null", "is a device, not a manifest"}}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(RunWith({"--manifest", path, "--mask-base", "0x5A", "--output", Out()}), 1);
        EXPECT_NE(stderr_.find(path + ": " + says), std::string::npos) << stderr_;
        EXPECT_FALSE(fs::exists(Out()));
    }
}

// The firmware the build carries by default.
TEST_F(FwgenTest, SampleFirmware) {
    ASSERT_EQ(RunWith({"--manifest", PELMARK_SOURCE_DIR "/firmware/sample/manifest.json", "--mask-base", "0x5A",
                       "--output", Out()}),
              0)
        << stderr_;
    const Generated g = Output();
    ASSERT_EQ(g.count, 2);

    const Descriptor* pic24 = g.Find(7, 0);
    ASSERT_NE(pic24, nullptr);
    EXPECT_TRUE(pic24->plain);
    EXPECT_EQ(pic24->programLength, 74240);
    EXPECT_EQ(pic24->eepromCount, 0);
    EXPECT_EQ(pic24->trailerCount, 8);
    const Bytes p24 = g.Program(7, 0);
    EXPECT_EQ(Bytes(p24.begin(), p24.begin() + 8), (Bytes{0x00, 0x02, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(p24.back(), 0x00);  // phantom byte of the last instruction

    const Descriptor* k80 = g.Find(9, 0);
    ASSERT_NE(k80, nullptr);
    EXPECT_FALSE(k80->plain);
    EXPECT_EQ(k80->programLength, 7857);
    EXPECT_EQ(k80->eepromCount, 1024);
    EXPECT_EQ(k80->trailerCount, 8);
    const Bytes p18 = g.Program(9, 0);
    const std::uint8_t m0 = Mask(0x5A, 0);
    EXPECT_EQ(p18[0] ^ m0, 0x20);  // GOTO 0x0040
    EXPECT_EQ(p18[1] ^ m0, 0xEF);
    EXPECT_EQ(p18[14] ^ m0, 0x05);  // image board code
    EXPECT_EQ(p18[15] ^ m0, 0x04);  // image preparation code
    EXPECT_EQ(p18[0x600] ^ Mask(0x5A, 0x600), 0xFF);  // unprogrammed rows
    EXPECT_EQ(g.Eeprom(9, 0).back(), 0xA5);
}

}  // namespace
