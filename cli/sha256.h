// SHA-256 of the image bytes a pass sends, for the record file: nettle on
// POSIX systems, the system's BCrypt on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

namespace pelmark::cli {

struct ByteSpan {
    const std::uint8_t* bytes;
    std::size_t length;
};

// The digest of the spans one after the other, as 64 lower-case hex digits.
std::string Sha256Hex(std::initializer_list<ByteSpan> spans);

}  // namespace pelmark::cli
