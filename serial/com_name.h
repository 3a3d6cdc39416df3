// COM names: "COMn" in any letter case, read to its number and written from
// it. Every program reads them here: the port map (its "comN" entries), the
// Windows device names, port discovery, the console's --port and the
// virtual device.
#pragma once

#include <climits>
#include <cstddef>
#include <string>
#include <string_view>

#include "serial/port_link.h"

namespace pelmark::serial {

// How a reader takes the digits after "com": at most `maxDigits` of them,
// with or without leading zeros, naming 1 to `maxNumber`.
struct ComNameRule {
    std::size_t maxDigits;
    bool leadingZeros;
    int maxNumber;
};

// A console's port name: 1 to 4 digits, COM1 to COM257 ("COM007" is COM7).
constexpr ComNameRule kPortNameRule{4, true, kPortCount};
// A Windows device name: at most six characters, COM1 to COM257.
constexpr ComNameRule kWindowsNameRule{3, true, kPortCount};
// A port-map entry: plain decimal, no leading zero ("com05" is no entry).
constexpr ComNameRule kMapEntryRule{9, false, INT_MAX};

// Whether `text` starts with "com" in any letter case.
bool HasComPrefix(std::string_view text);

// The number of the COM name `text` under `rule`; 0 when it is none (no
// "com", no digits, other characters, a number out of the rule's range).
int ComNumberOf(std::string_view text, const ComNameRule& rule);

// The number right after a "com" prefix, read as atol reads it ("COM7x" is
// 7, "COMx" is 0): the lenient reading of the names discovery hands out.
// `name` starts with "com" in any letter case.
long ComNumberAfterPrefix(const char* name);

// "COM<number>".
std::string ComName(int number);

}  // namespace pelmark::serial
