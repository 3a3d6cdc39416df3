// The stored port's text, read back the way the C library's atol reads it
// (white space, sign, digits, a 32-bit long that saturates) and kept as a
// 16-bit port index; and every port index written and read back unchanged.
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "shell/settings_text.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

// atol on a system whose long has 32 bits.
std::int16_t Expected(const std::string& text) {
    errno = 0;
    long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value > INT32_MAX) value = INT32_MAX;
    if (value < INT32_MIN) value = INT32_MIN;
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<std::uint64_t>(value) & 0xFFFFu));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string text = bytes.substr(0, bytes.find('\0'));  // what a C string holds
    Check(pelmark::ParsePortSetting(text) == Expected(text));
    Check(pelmark::ParsePortSetting(text.c_str()) == pelmark::ParsePortSetting(text));

    if (size >= 2) {
        const auto index = static_cast<std::int16_t>(static_cast<std::uint16_t>(data[0] << 8 | data[1]));
        const std::string written = pelmark::FormatPortSetting(index);
        Check(pelmark::ParsePortSetting(written) == index);
        Check(written == std::to_string(index));
    }
    return 0;
}
