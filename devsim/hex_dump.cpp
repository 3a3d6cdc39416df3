#include "devsim/hex_dump.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace pelmark::devsim {

namespace {

void AppendRecord(std::string& text, std::uint8_t type, std::uint16_t offset,
                  const std::vector<std::uint8_t>& data) {
    unsigned sum = static_cast<unsigned>(data.size()) + (offset >> 8) + (offset & 0xFFu) + type;
    char field[16];
    std::snprintf(field, sizeof field, ":%02X%04X%02X", static_cast<unsigned>(data.size()),
                  static_cast<unsigned>(offset), static_cast<unsigned>(type));
    text += field;
    for (std::uint8_t b : data) {
        std::snprintf(field, sizeof field, "%02X", static_cast<unsigned>(b));
        text += field;
        sum += b;
    }
    std::snprintf(field, sizeof field, "%02X\n", (0x100u - (sum & 0xFFu)) & 0xFFu);
    text += field;
}

}  // namespace

std::string IntelHexText(const WrittenMemory& memory) {
    std::string text;
    std::uint32_t upper = 0;  // upper 16 bits in effect; 0 until a type-04 record says otherwise
    std::vector<std::uint8_t> data;
    std::uint32_t start = 0;

    auto flush = [&] {
        if (data.empty()) return;
        AppendRecord(text, 0x00, static_cast<std::uint16_t>(start & 0xFFFFu), data);
        data.clear();
    };

    for (const auto& [address, value] : memory) {
        const bool continues = !data.empty() && address == start + data.size() &&
                               data.size() < 16 && (address >> 16) == (start >> 16);
        if (!continues) {
            flush();
            if ((address >> 16) != upper) {
                upper = address >> 16;
                AppendRecord(text, 0x04, 0,
                             {static_cast<std::uint8_t>(upper >> 8),
                              static_cast<std::uint8_t>(upper & 0xFFu)});
            }
            start = address;
        }
        data.push_back(value);
    }
    flush();
    AppendRecord(text, 0x01, 0, {});
    return text;
}

bool WriteFileAtomically(const std::string& path, const std::string& text) {
    const std::string temp = path + ".tmp";
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed) {
        std::remove(temp.c_str());
        return false;
    }
    return std::rename(temp.c_str(), path.c_str()) == 0;
}

}  // namespace pelmark::devsim
