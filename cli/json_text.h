// Texts in JSON. A text the front end shows may hold any byte (a device's
// record text above all), but a JSON string is Unicode: each byte becomes the
// code point of the same number (the bytes read as ISO 8859-1), so the text is
// exact and a reader gets its bytes back by taking every code point as a byte.
#pragma once

#include <string>

namespace pelmark::cli {

// The bytes as UTF-8 of the code points U+0000 to U+00FF, one per byte.
std::string BytesAsJsonText(const std::string& bytes);

}  // namespace pelmark::cli
