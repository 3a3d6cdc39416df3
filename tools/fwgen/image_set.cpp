#include "tools/fwgen/image_set.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include <nlohmann/json.hpp>

#include "images/intel_hex.h"
#include "images/mask.h"

namespace pelmark::fwgen {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// Program memory ends here (exclusive) in HEX file addresses: PIC18 program
// space below 0x200000 (IDs, configuration and EEPROM lie above), PIC24 and
// dsPIC33 program counter 0x800000, i.e. byte address 0x1000000 in a HEX file
// with four bytes per instruction.
constexpr std::uint32_t kPic18ProgramEnd = 0x200000;
constexpr std::uint32_t kPic24ProgramEnd = 0x1000000;
// PIC18 data EEPROM as HEX files place it.
constexpr std::uint32_t kPic18EepromStart = 0xF00000;
constexpr std::uint32_t kPic18EepromEnd = 0x1000000;

// What each slot's chips hold, in HEX file bytes: program memory (PIC24 and
// dsPIC33 files carry two bytes per address unit) and data EEPROM.
struct SlotChip {
    const char* name;
    std::uint32_t programBytes;
    std::uint32_t eepromBytes;
};
const SlotChip& ChipOfSlot(int slot) {
    static const SlotChip kChips[10] = {
        {"PIC18F258", 0x8000, 256},     {"PIC18F2580", 0x8000, 256},
        {"PIC18F2480", 0x4000, 256},    {"PIC18F248", 0x4000, 256},
        {"PIC18F2320", 0x2000, 256},    {"PIC18F24J10", 0x4000, 0},
        {"PIC24HJ64/dsPIC33FJ64", 2 * 0xA800, 0}, {"PIC24HJ128/dsPIC33FJ128", 2 * 0x15400, 0},
        {"PIC18F25K80", 0x8000, 1024},  {"PIC18F26K80", 0x10000, 1024},
    };
    return kChips[slot];
}

std::string HexNumber(std::uint32_t n) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(n));
    return text;
}

// What a path names when it is no regular file, for a message; empty for a
// regular file (or one that the reading will report itself).
std::string NotAFile(const fs::path& path, const char* what) {
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    if (!fs::exists(st)) return "does not exist";
    if (fs::is_directory(st)) return std::string("is a directory, not ") + what;
    if (fs::is_character_file(st) || fs::is_block_file(st)) return std::string("is a device, not ") + what;
    if (!fs::is_regular_file(st)) return std::string("is not a regular file, not ") + what;
    return {};
}

const std::vector<int>& BoardRows(int slot) {
    static const std::vector<int> kGeneric = {0};
    static const std::vector<int> kPic18Boards = {0, 2, 4, 5, 6};
    static const std::vector<int> kPic24Boards = {0, 5, 6, 7, 8, 11, 16, 19};
    if (slot == 0 || slot == 1) return kPic18Boards;
    if (slot == 6) return kPic24Boards;
    return kGeneric;
}

std::string JoinRows(const std::vector<int>& rows) {
    std::string s;
    for (int r : rows) s += (s.empty() ? "" : ", ") + std::to_string(r);
    return s;
}

class ManifestReader {
public:
    ManifestReader(std::string path, std::uint8_t maskBase) : path_(std::move(path)), maskBase_(maskBase) {}

    ImageSet Load() {
        ImageSet set;
        set.manifestPath = path_;
        set.inputs.push_back(fs::absolute(path_).lexically_normal().string());

        const json root = ParseJson();
        if (!root.is_object()) Fail("the manifest must be a JSON object");
        for (const auto& [key, value] : root.items())
            if (key != "images") Fail("unknown key \"" + key + "\"");
        if (!root.contains("images")) Fail("missing key \"images\"");
        const json& images = root["images"];
        if (!images.is_array()) Fail("\"images\" must be an array");

        std::map<std::pair<int, int>, std::size_t> seen;
        for (std::size_t i = 0; i < images.size(); ++i) {
            where_ = "images[" + std::to_string(i) + "]: ";
            Image image = ReadEntry(images[i]);
            const auto [first, isNew] = seen.emplace(std::make_pair(image.slot, image.row), i);
            if (!isNew) Fail("listed twice (first as images[" + std::to_string(first->second) + "])");
            set.inputs.push_back(image.hexPath);
            LoadHex(image);
            set.images.push_back(std::move(image));
        }
        return set;
    }

private:
    [[noreturn]] void Fail(const std::string& message) const { throw Failure(path_ + ": " + where_ + message); }

    json ParseJson() {
        const std::string notAFile = NotAFile(path_, "a manifest");
        if (!notAFile.empty() && notAFile != "does not exist") throw Failure(path_ + ": " + notAFile);
        std::ifstream in(path_, std::ios::binary);
        if (!in) throw Failure(path_ + ": cannot open the manifest");
        // JSON leaves a key given twice to the reader; here it is an error,
        // not a silent choice of the last value.
        std::vector<std::set<std::string>> keys;  // one set per open object
        std::optional<std::string> duplicate;
        const json::parser_callback_t spot = [&](int, json::parse_event_t event, json& parsed) {
            if (event == json::parse_event_t::object_start) {
                keys.emplace_back();
            } else if (event == json::parse_event_t::object_end) {
                if (!keys.empty()) keys.pop_back();
            } else if (event == json::parse_event_t::key && !keys.empty()) {
                const std::string key = parsed.get<std::string>();
                if (!keys.back().insert(key).second && !duplicate) duplicate = key;
            }
            return true;
        };
        json root;
        try {
            root = json::parse(in, spot);
        } catch (const json::exception& e) {
            Fail(std::string("not valid JSON: ") + e.what());
        }
        if (duplicate) Fail("key \"" + *duplicate + "\" given twice in one object");
        return root;
    }

    int Integer(const json& entry, const char* key, long long low, long long high, std::optional<int> fallback) {
        if (!entry.contains(key)) {
            if (!fallback) Fail(std::string("missing key \"") + key + "\"");
            return *fallback;
        }
        const json& v = entry[key];
        if (!v.is_number_integer()) Fail(std::string("\"") + key + "\" must be an integer");
        const long long n = v.is_number_unsigned() ? static_cast<long long>(std::min<std::uint64_t>(
                                                         v.get<std::uint64_t>(), 1ull << 62))
                                                   : v.get<long long>();
        if (n < low || n > high)
            Fail(std::string("\"") + key + "\" is " + std::to_string(n) + ", must be " + std::to_string(low) +
                 " to " + std::to_string(high));
        return static_cast<int>(n);
    }

    std::vector<std::uint8_t> Trailer(const json& entry, Family family) {
        if (!entry.contains("trailer")) Fail("missing key \"trailer\"");
        const json& v = entry["trailer"];
        if (!v.is_string()) Fail("\"trailer\" must be a string of hex digits");
        const std::string text = v.get<std::string>();
        if (text.empty()) Fail("\"trailer\" is empty; an image needs at least one trailer byte");
        if (text.size() % 2 != 0) Fail("\"trailer\" has an odd number of hex digits");
        std::vector<std::uint8_t> bytes;
        for (std::size_t i = 0; i < text.size(); i += 2) {
            const std::string pair = text.substr(i, 2);
            if (!std::isxdigit(static_cast<unsigned char>(pair[0])) ||
                !std::isxdigit(static_cast<unsigned char>(pair[1])))
                Fail("\"trailer\" holds \"" + pair + "\" at digit " + std::to_string(i + 1) +
                     ", which is not a hex byte");
            bytes.push_back(static_cast<std::uint8_t>(std::stoul(pair, nullptr, 16)));
        }
        // The trailer is written at the end of one program row.
        if (bytes.size() > static_cast<std::size_t>(RowBytes(family)))
            Fail("\"trailer\" has " + std::to_string(bytes.size()) + " bytes; a row of this chip holds " +
                 std::to_string(RowBytes(family)));
        return bytes;
    }

    Image ReadEntry(const json& entry) {
        if (!entry.is_object()) Fail("an image must be a JSON object");
        static const std::set<std::string> kKeys = {"slot", "row", "hex", "plain", "board", "preparation", "trailer"};
        for (const auto& [key, value] : entry.items())
            if (kKeys.count(key) == 0) Fail("unknown key \"" + key + "\"");

        Image image;
        image.slot = Integer(entry, "slot", 0, 9, std::nullopt);
        image.row = Integer(entry, "row", 0, 254, 0);
        where_ += "slot " + std::to_string(image.slot) + ", row " + std::to_string(image.row) + ": ";
        if (image.slot == 6 && image.row == 32)
            Fail("boards 16 and 32 share one image; list it as row 16, not row 32");
        if (!IsTableEntry(image.slot, image.row))
            Fail("the image table has no row " + std::to_string(image.row) + " for slot " +
                 std::to_string(image.slot) + " (rows: " + JoinRows(BoardRows(image.slot)) + ")");

        if (entry.contains("plain")) {
            if (!entry["plain"].is_boolean()) Fail("\"plain\" must be true or false");
            image.plain = entry["plain"].get<bool>();
        }
        if (image.plain && !(image.row == 0 && FamilyOfSlot(image.slot) == Family::Pic24))
            Fail("only the row-0 images of slots 6 and 7 may be plain; every other image is stored masked");
        if (!image.plain && (entry.contains("board") || entry.contains("preparation")))
            Fail("\"board\" and \"preparation\" belong to plain images only; a masked image carries its codes "
                 "in its program data");
        image.board = static_cast<std::uint8_t>(Integer(entry, "board", 0, 255, 0));
        image.preparation = static_cast<std::uint8_t>(Integer(entry, "preparation", 0, 255, 0));

        image.trailer = Trailer(entry, FamilyOfSlot(image.slot));

        if (!entry.contains("hex")) Fail("missing key \"hex\"");
        if (!entry["hex"].is_string() || entry["hex"].get<std::string>().empty())
            Fail("\"hex\" must be the path of a HEX file");
        fs::path hex = entry["hex"].get<std::string>();
        if (hex.is_relative()) hex = fs::absolute(path_).parent_path() / hex;
        image.hexPath = hex.lexically_normal().string();
        return image;
    }

    void LoadHex(Image& image) {
        const std::string notAFile = NotAFile(image.hexPath, "a HEX file");
        if (!notAFile.empty()) Fail("HEX file " + image.hexPath + " " + notAFile);
        hex::Memory memory;
        try {
            memory = hex::ReadFile(image.hexPath);
        } catch (const hex::Error& e) {
            throw Failure(std::string(e.what()) + " (listed in " + path_ + ")");
        }

        const Family family = FamilyOfSlot(image.slot);
        const std::uint32_t programEnd = family == Family::Pic18 ? kPic18ProgramEnd : kPic24ProgramEnd;
        image.program = hex::Extract(memory, 0, programEnd);
        if (image.program.empty()) {
            char end[16];
            std::snprintf(end, sizeof end, "0x%X", static_cast<unsigned>(programEnd));
            throw Failure(image.hexPath + ": no program memory bytes (addresses below " + end + ") (listed in " +
                          path_ + ")");
        }
        const SlotChip& chip = ChipOfSlot(image.slot);
        if (image.program.size() > chip.programBytes)
            Fail("HEX file " + image.hexPath + ": program memory reaches " + HexNumber(static_cast<std::uint32_t>(
                     image.program.size())) + ", but the " + chip.name + " of slot " + std::to_string(image.slot) +
                 " holds " + HexNumber(chip.programBytes) + " bytes");
        if (family == Family::Pic18) image.eeprom = hex::Extract(memory, kPic18EepromStart, kPic18EepromEnd);
        if (image.eeprom.size() > chip.eepromBytes)
            Fail("HEX file " + image.hexPath + ": " + std::to_string(image.eeprom.size()) + " EEPROM bytes, but the " +
                 chip.name + " of slot " + std::to_string(image.slot) +
                 (chip.eepromBytes == 0 ? std::string(" has no data EEPROM")
                                        : " holds " + std::to_string(chip.eepromBytes)));

        if (!image.plain)
            for (std::size_t o = 0; o < image.program.size(); ++o)
                image.program[o] ^= MaskWithBase(maskBase_, RowAddress(family, static_cast<std::uint32_t>(o)));
    }

    std::string path_;
    std::uint8_t maskBase_;
    std::string where_;
};

}  // namespace

Family FamilyOfSlot(int slot) { return slot == 6 || slot == 7 ? Family::Pic24 : Family::Pic18; }

int RowBytes(Family family) { return family == Family::Pic18 ? 64 : 256; }

std::uint32_t RowAddress(Family family, std::uint32_t offset) {
    // PIC18 addresses bytes; PIC24/dsPIC33 addresses count two HEX bytes each.
    if (family == Family::Pic18) return offset & ~63u;
    return (offset & ~255u) / 2;
}

bool IsTableEntry(int slot, int row) {
    if (slot < 0 || slot > 9) return false;
    const auto& rows = BoardRows(slot);
    return std::find(rows.begin(), rows.end(), row) != rows.end();
}

ImageSet LoadImageSet(const std::string& manifestPath, std::uint8_t maskBase) {
    return ManifestReader(manifestPath, maskBase).Load();
}

}  // namespace pelmark::fwgen
