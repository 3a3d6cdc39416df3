// The firmware generator's reading of a manifest and the HEX file it lists.
// Input: the manifest's JSON text, optionally followed by a line "%%" and the
// text of "image.hex". Every bad input ends in the generator's own Failure;
// every image it accepts fits the image table and unmasks to the HEX file's
// program bytes.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

#include "images/intel_hex.h"
#include "images/mask.h"
#include "tools/fwgen/image_set.h"

namespace {

using namespace pelmark;

void Check(bool ok) {
    if (!ok) std::abort();
}

const std::string& Dir() {
    static const std::string dir = [] {
        char pattern[] = "/tmp/pelmark-fuzz-fwgen-XXXXXX";
        const char* made = mkdtemp(pattern);
        if (made == nullptr) std::abort();
        return std::string(made);
    }();
    return dir;
}

void WriteText(const std::string& path, std::string_view text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

constexpr std::uint8_t kBase = 0x5A;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string_view manifest = input;
    std::string_view hexText;
    if (const auto cut = input.find("\n%%\n"); cut != std::string_view::npos) {
        manifest = input.substr(0, cut);
        hexText = input.substr(cut + 4);
    }
    // Only the two files of this directory may be read: no other path.
    if (manifest.find('/') != std::string_view::npos || manifest.find('\\') != std::string_view::npos) return 0;

    const std::string manifestPath = Dir() + "/manifest.json";
    const std::string hexPath = Dir() + "/image.hex";
    WriteText(manifestPath, manifest);
    WriteText(hexPath, hexText);

    fwgen::ImageSet set;
    try {
        set = fwgen::LoadImageSet(manifestPath, kBase);
    } catch (const fwgen::Failure& e) {
        Check(std::string(e.what()).find(Dir()) != std::string::npos);  // names the file at fault
        return 0;
    }
    Check(set.inputs.size() == set.images.size() + 1);
    for (const fwgen::Image& image : set.images) {
        Check(image.slot >= 0 && image.slot <= 9);
        Check(fwgen::IsTableEntry(image.slot, image.row));
        const fwgen::Family family = fwgen::FamilyOfSlot(image.slot);
        Check(!image.trailer.empty() && image.trailer.size() <= static_cast<std::size_t>(fwgen::RowBytes(family)));
        Check(!image.program.empty());
        if (image.plain) Check(image.row == 0 && family == fwgen::Family::Pic24);
        if (!image.plain) Check(image.board == 0 && image.preparation == 0);
        Check(family == fwgen::Family::Pic18 || image.eeprom.empty());

        // Unmasked, the program bytes are the HEX file's, gaps as 0xFF.
        const hex::Memory memory = hex::ReadFile(image.hexPath);
        const auto source = hex::Extract(memory, 0, family == fwgen::Family::Pic18 ? 0x200000u : 0x1000000u);
        Check(source.size() == image.program.size());
        for (std::size_t o = 0; o < source.size(); ++o) {
            const std::uint8_t mask =
                image.plain ? 0 : MaskWithBase(kBase, fwgen::RowAddress(family, static_cast<std::uint32_t>(o)));
            Check(static_cast<std::uint8_t>(image.program[o] ^ mask) == source[o]);
        }
    }
    return 0;
}
