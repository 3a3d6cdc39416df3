// Intel HEX text of the bytes the virtual device holds.
#pragma once

#include <string>

#include "devsim/device_model.h"

namespace pelmark::devsim {

// Data records of up to 16 bytes over each run of consecutive addresses, an
// extended linear address record (type 04) whenever the upper 16 address bits
// change, and the end-of-file record.
std::string IntelHexText(const WrittenMemory& memory);

// Writes the text to path + ".tmp" and renames it over path, so a reader never
// sees half a file. False (with errno set) when either step fails.
bool WriteFileAtomically(const std::string& path, const std::string& text);

}  // namespace pelmark::devsim
