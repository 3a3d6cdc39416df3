// Texts from the device (its record text, names) as JSON strings. A device
// may send any byte, and a JSON string must be valid UTF-8, so every byte
// stands for the code point of the same number (the Latin-1 reading): bytes
// 0x00 to 0x7F stay as they are, 0x80 to 0xFF become two-byte UTF-8
// sequences. The mapping is exact and reversible: a reader takes each code
// point of the string (all below 256) back as one byte.
#pragma once

#include <string>

namespace pelmark::cli {

// The bytes as UTF-8 text, one code point per byte, for nlohmann::json.
std::string BytesAsJsonText(const std::string& bytes);

// The way back: the bytes of a text BytesAsJsonText made. False when the
// text holds a code point above 0xFF or is not well-formed UTF-8.
bool JsonTextAsBytes(const std::string& text, std::string* bytes);

}  // namespace pelmark::cli
