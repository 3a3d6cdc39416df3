// Small images made in the test, installed through InitImageTable.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "images/carried_images.h"
#include "images/image_table.h"
#include "images/mask.h"

namespace pelmark::test {

struct TestImage {
    int slot = 9;
    int row = 0;
    std::vector<std::uint8_t> program;  // as the device must receive it (unmasked)
    std::vector<std::uint8_t> eeprom;
    std::vector<std::uint8_t> trailer{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    bool plain = false;
    std::uint8_t board = 0;
    std::uint8_t preparation = 0;
};

// Masks an image the way it is stored in the build: every byte with the mask
// of the start address of the row that carries it.
inline std::vector<std::uint8_t> MaskImage(const std::vector<std::uint8_t>& plain, bool pic24) {
    std::vector<std::uint8_t> out(plain);
    for (std::size_t o = 0; o < out.size(); ++o) {
        const std::uint32_t row = pic24 ? static_cast<std::uint32_t>((o & ~std::size_t{255}) / 2)
                                        : static_cast<std::uint32_t>(o & ~std::size_t{63});
        out[o] = static_cast<std::uint8_t>(out[o] ^ Mask(row));
    }
    return out;
}

// Deterministic code-like bytes.
inline std::vector<std::uint8_t> Pattern(std::size_t n, std::uint32_t seed = 1) {
    std::vector<std::uint8_t> v(n);
    std::uint32_t x = seed * 2654435761u + 12345u;
    for (auto& b : v) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return v;
}

// A PIC18 image made for the test device's board 5 and preparation 4 (its
// image codes, program bytes 14 and 15).
inline std::vector<std::uint8_t> Board5Image(std::size_t n) {
    std::vector<std::uint8_t> f = Pattern(n);
    f[14] = 0x05;
    f[15] = 0x04;
    return f;
}

class ImageSet {
public:
    void Add(TestImage image) { images_.push_back(std::make_unique<Entry>(std::move(image))); }

    // Fills the image table with these images (and placeholders elsewhere).
    void Install() {
        descriptors_.clear();
        for (auto& s : images_) {
            ImageDescriptor d{};
            d.slot = s->image.slot;
            d.row = s->image.row;
            s->program = s->image.plain ? s->image.program : MaskImage(s->image.program, IsPic24Slot(s->image.slot));
            s->eeprom = s->image.eeprom;
            s->trailer = s->image.trailer;
            if (s->eeprom.empty()) s->eeprom.push_back(0);
            if (s->trailer.empty()) s->trailer.push_back(0);
            d.program = s->program.data();
            d.programLength = static_cast<std::int32_t>(s->image.program.size());
            d.eeprom = s->eeprom.data();
            d.eepromCount = static_cast<std::int32_t>(s->image.eeprom.size());
            d.trailer = s->trailer.data();
            d.trailerCount = static_cast<std::int32_t>(s->image.trailer.size());
            d.plain = s->image.plain;
            d.board = s->image.board;
            d.preparation = s->image.preparation;
            descriptors_.push_back(d);
        }
        set_.images = descriptors_.data();
        set_.count = static_cast<int>(descriptors_.size());
        InitImageTable(set_);
    }

    // The stored (masked) program bytes of the n-th image, as the engine holds them.
    std::vector<std::uint8_t>& Stored(std::size_t n) { return images_[n]->program; }

private:
    struct Entry {
        explicit Entry(TestImage i) : image(std::move(i)) {}
        TestImage image;
        std::vector<std::uint8_t> program, eeprom, trailer;
    };
    std::vector<std::unique_ptr<Entry>> images_;
    std::vector<ImageDescriptor> descriptors_;
    CarriedImages set_{nullptr, 0};
};

}  // namespace pelmark::test
