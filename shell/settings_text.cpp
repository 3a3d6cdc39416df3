#include "shell/settings_text.h"

#include "shell/settings.h"

namespace pelmark {

namespace {
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
}  // namespace

std::int16_t ParsePortSetting(const char* text) {
    if (text == nullptr) return 0;
    const char* p = text;
    while (IsSpace(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    // The program's long is 32 bits wide; like the C library's conversion, a
    // number beyond its range saturates (and keeps only its low 16 bits below).
    constexpr std::int64_t kLongMax = 2147483647;
    std::int64_t magnitude = 0;
    while (*p >= '0' && *p <= '9') {
        if (magnitude <= kLongMax + 1) magnitude = magnitude * 10 + (*p - '0');
        ++p;
    }
    std::int64_t value = negative ? -magnitude : magnitude;
    if (value > kLongMax) value = kLongMax;
    if (value < -kLongMax - 1) value = -kLongMax - 1;
    const auto low = static_cast<std::uint16_t>(static_cast<std::uint64_t>(value) & 0xFFFFu);
    return static_cast<std::int16_t>(low);
}

std::int16_t ParsePortSetting(const std::string& text) { return ParsePortSetting(text.c_str()); }

std::string FormatPortSetting(std::int16_t portIndex) { return std::to_string(portIndex); }

const char* SettingsKeyPath(int selector) {
    switch (selector) {
        case kSettingsUpgrade:
            return "Software\\Tarnwell\\Upgrade\\";
        case kSettingsLoader:
            return "Software\\Veldra\\Loader\\";
        default:
            return "Software\\Norvane\\Pelmark\\";
    }
}

}  // namespace pelmark
