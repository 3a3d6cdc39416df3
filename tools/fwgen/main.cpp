// pelmark-fwgen: turns a manifest of Intel HEX files into the C++ source of
// the image set a program carries.
//
//   pelmark-fwgen --manifest M --mask-base B --output OUT.cpp [--depfile OUT.cpp.d]
//
// B is the one-byte base of the bootloader's transfer mask, decimal or 0x hex.
// Exit status 0 on success, 1 on any error (reported on stderr), 2 on a bad
// command line.

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>

#include "tools/fwgen/emit.h"
#include "tools/fwgen/image_set.h"

namespace {

constexpr const char* kUsage =
    "usage: pelmark-fwgen --manifest FILE --mask-base BYTE --output FILE.cpp [--depfile FILE.d]\n";

std::optional<std::uint8_t> ParseByte(const std::string& text) {
    std::string digits = text;
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits = digits.substr(2);
        base = 16;
    }
    if (digits.empty() || digits.size() > 8) return std::nullopt;
    for (char c : digits)
        if (base == 10 ? !std::isdigit(static_cast<unsigned char>(c)) : !std::isxdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
    const unsigned long value = std::stoul(digits, nullptr, base);
    if (value > 0xFF) return std::nullopt;
    return static_cast<std::uint8_t>(value);
}

// Leaves an up-to-date file alone, so that nothing built from it is redone.
void WriteIfChanged(const std::string& path, const std::string& content) {
    {
        std::ifstream in(path, std::ios::binary);
        if (in) {
            const std::string old((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (old == content) return;
        }
    }
    const std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << content;
        out.flush();
        if (!out) throw pelmark::fwgen::Failure(tmp + ": cannot write: " + std::strerror(errno));
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        std::remove(tmp.c_str());
        throw pelmark::fwgen::Failure(path + ": cannot write: " + reason);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string manifest, output, depfile, maskText;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        }
        std::string* target = arg == "--manifest"    ? &manifest
                              : arg == "--output"    ? &output
                              : arg == "--depfile"   ? &depfile
                              : arg == "--mask-base" ? &maskText
                                                     : nullptr;
        if (target == nullptr || i + 1 >= argc) {
            std::cerr << "pelmark-fwgen: " << (target == nullptr ? "unknown option " : "missing value for ") << arg
                      << "\n"
                      << kUsage;
            return 2;
        }
        *target = argv[++i];
    }
    if (manifest.empty() || output.empty() || maskText.empty()) {
        std::cerr << "pelmark-fwgen: --manifest, --mask-base and --output are required\n" << kUsage;
        return 2;
    }
    const std::optional<std::uint8_t> maskBase = ParseByte(maskText);
    if (!maskBase) {
        std::cerr << "pelmark-fwgen: --mask-base must be one byte, 0 to 255 or 0x00 to 0xFF (got \"" << maskText
                  << "\")\n";
        return 2;
    }

    try {
        const pelmark::fwgen::ImageSet set = pelmark::fwgen::LoadImageSet(manifest, *maskBase);
        WriteIfChanged(output, pelmark::fwgen::EmitSource(set, *maskBase));
        if (!depfile.empty()) WriteIfChanged(depfile, pelmark::fwgen::EmitDepfile(output, set));
    } catch (const std::exception& e) {
        std::cerr << "pelmark-fwgen: error: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
