// The firmware a build carries, read from a manifest of Intel HEX files and
// turned into the byte blocks the engine sends: program memory (masked unless
// the image is plain), EEPROM and trailer.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace pelmark::fwgen {

// Every failure: a bad manifest, a missing or malformed HEX file, an image
// the table cannot hold. The message names the file (and line where known).
class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class Family { Pic18, Pic24 };

// Slots 6 and 7 hold PIC24/dsPIC33 images, all others PIC18.
Family FamilyOfSlot(int slot);
// Program row size in bytes: 64 for PIC18, 256 for PIC24/dsPIC33.
int RowBytes(Family family);
// Address (in the device's address units) of the row that carries program
// byte `offset`: the mask of a masked image is taken at this address.
std::uint32_t RowAddress(Family family, std::uint32_t offset);
// Whether the image table has an entry at (slot, row) that a build may fill.
bool IsTableEntry(int slot, int row);

struct Image {
    int slot = 0;
    int row = 0;
    std::string hexPath;  // as resolved against the manifest's folder
    bool plain = false;
    std::uint8_t board = 0;        // plain images only
    std::uint8_t preparation = 0;  // plain images only
    std::vector<std::uint8_t> program;  // masked unless plain
    std::vector<std::uint8_t> eeprom;
    std::vector<std::uint8_t> trailer;
};

struct ImageSet {
    std::string manifestPath;
    std::vector<Image> images;
    // Every file the set was made from: the manifest, then each HEX file.
    std::vector<std::string> inputs;
};

// Reads the manifest and every HEX file it lists, checks them against the
// image table and masks program data with base `maskBase`. Throws Failure.
ImageSet LoadImageSet(const std::string& manifestPath, std::uint8_t maskBase);

}  // namespace pelmark::fwgen
