#include "cli/json_text.h"

namespace pelmark::cli {

std::string BytesAsJsonText(const std::string& bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x80) {
            text += ch;
        } else {
            text += static_cast<char>(0xC0 | (b >> 6));
            text += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return text;
}

}  // namespace pelmark::cli
