#include "cli/json_text.h"

#include <utility>

namespace pelmark::cli {

std::string BytesAsJsonText(const std::string& bytes) {
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            text += static_cast<char>(b);
        } else {
            text += static_cast<char>(0xC0 | (b >> 6));
            text += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return text;
}

bool JsonTextAsBytes(const std::string& text, std::string* bytes) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            out += static_cast<char>(b);
            continue;
        }
        // Only the lead bytes of code points 0x80 to 0xFF (0xC2, 0xC3) come
        // from a byte; anything else is a wider code point or broken UTF-8.
        if ((b != 0xC2 && b != 0xC3) || i + 1 >= text.size()) return false;
        const auto next = static_cast<unsigned char>(text[i + 1]);
        if ((next & 0xC0) != 0x80) return false;
        out += static_cast<char>(((b & 0x03) << 6) | (next & 0x3F));
        ++i;
    }
    *bytes = std::move(out);
    return true;
}

}  // namespace pelmark::cli
