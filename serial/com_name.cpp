#include "serial/com_name.h"

#include <cstdlib>

namespace pelmark::serial {

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool HasComPrefix(std::string_view text) {
    return text.size() >= 3 && Lower(text[0]) == 'c' && Lower(text[1]) == 'o' && Lower(text[2]) == 'm';
}

int ComNumberOf(std::string_view text, const ComNameRule& rule) {
    if (!HasComPrefix(text)) return 0;
    const std::string_view digits = text.substr(3);
    if (digits.empty() || digits.size() > rule.maxDigits) return 0;
    if (!rule.leadingZeros && digits[0] == '0') return 0;
    long long value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + (c - '0');
        if (value > rule.maxNumber) return 0;
    }
    return value >= 1 ? static_cast<int>(value) : 0;
}

long ComNumberAfterPrefix(const char* name) { return std::atol(name + 3); }

std::string ComName(int number) { return "COM" + std::to_string(number); }

}  // namespace pelmark::serial
