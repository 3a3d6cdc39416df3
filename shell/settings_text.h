// The text form of the stored port setting: signed decimal, read back the way
// the C library's atol reads it and kept as a 16-bit port index.
#pragma once

#include <cstdint>
#include <string>

namespace pelmark {

// Optional leading white space, an optional sign, then decimal digits; the
// first other character ends the number, no digits give 0. The value is
// truncated to 16 bits ("70000" gives 4464). Never fails, never overflows.
std::int16_t ParsePortSetting(const char* text);
std::int16_t ParsePortSetting(const std::string& text);

// The signed decimal text written back ("0", "12", "-1").
std::string FormatPortSetting(std::int16_t portIndex);

}  // namespace pelmark
