// COM names as the port map reads them from its directory ("com7" -> a
// device) and as pelmark-flash reads them from --port: whatever the name,
// only a plain "COMn" in any letter case counts, with its own number.
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "cli/port_choice.h"
#include "serial/port_link.h"
#include "serial/port_map.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

bool ComPrefix(const std::string& s) {
    return s.size() >= 3 && std::tolower(static_cast<unsigned char>(s[0])) == 'c' &&
           std::tolower(static_cast<unsigned char>(s[1])) == 'o' && std::tolower(static_cast<unsigned char>(s[2])) == 'm';
}

bool AllDigits(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// --port: "COM" in any case and 1 to 4 digits naming COM1 to COM257.
std::optional<int> ConsoleIndex(const std::string& s) {
    if (!ComPrefix(s)) return std::nullopt;
    const std::string digits = s.substr(3);
    if (digits.size() > 4 || !AllDigits(digits)) return std::nullopt;
    const int n = std::stoi(digits);
    if (n < 1 || n > pelmark::kPortCount) return std::nullopt;
    return n - 1;
}

// A port-map entry: "com" in any case and a plain decimal number without a
// leading zero that fits an int; 0 for any other name.
int MapNumber(const std::string& s) {
    if (!ComPrefix(s) || s.size() > 12) return 0;
    const std::string digits = s.substr(3);
    if (!AllDigits(digits) || digits[0] == '0') return 0;
    const long long n = std::stoll(digits);
    return n <= INT_MAX ? static_cast<int>(n) : 0;
}

const std::string& Dir() {
    static const std::string dir = [] {
        char pattern[] = "/tmp/pelmark-fuzz-ports-XXXXXX";
        const char* made = mkdtemp(pattern);
        if (made == nullptr) std::abort();
        setenv("PELMARK_PORT_DIR", made, 1);
        return std::string(made);
    }();
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string name(reinterpret_cast<const char*>(data), size);
    Check(pelmark::cli::ParseComName(name) == ConsoleIndex(name));

    // The same name as an entry of the port-map directory.
    if (name.empty() || name.size() > 255 || name == "." || name == ".." ||
        name.find('/') != std::string::npos || name.find('\0') != std::string::npos)
        return 0;
    const std::string entry = Dir() + "/" + name;
    if (symlink("/nonexistent/tty", entry.c_str()) != 0) return 0;
    const int number = MapNumber(name);
    if (number > 0) {
        Check(pelmark::serial::PortMapEntry(number) == entry);
        Check(pelmark::serial::ComDevicePath(number) == entry);
    }
    // Numbers a careless reading could see in the name are not mapped.
    if (ComPrefix(name)) {
        const long long loose = std::atoll(name.c_str() + 3);
        if (loose > 0 && loose <= INT_MAX && loose != number)
            Check(pelmark::serial::PortMapEntry(static_cast<int>(loose)).empty());
    }
    unlink(entry.c_str());
    return 0;
}
