// The C++ source that embeds an image set, and the depfile that lets the
// build regenerate it when the manifest or a HEX file changes.
#pragma once

#include <cstdint>
#include <string>

#include "tools/fwgen/image_set.h"

namespace pelmark::fwgen {

// A translation unit that defines pelmark::BuildImages() over writable arrays
// holding the set's bytes.
std::string EmitSource(const ImageSet& set, std::uint8_t maskBase);

// "target: input input ..." in the syntax Make and Ninja read.
std::string EmitDepfile(const std::string& target, const ImageSet& set);

}  // namespace pelmark::fwgen
