// Intel HEX files: a sparse byte memory, a strict reader of record types 00,
// 01, 02 and 04, and a writer. Used by the firmware generator, the device
// simulator and the tests; independent of Qt and of the engine.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace pelmark::hex {

// Address -> byte; addresses not present are unprogrammed.
using Memory = std::map<std::uint32_t, std::uint8_t>;

// A malformed file or a failed read/write. what() reads "FILE:LINE: message"
// (or "FILE: message" when no line applies); line() is 1-based, 0 for none.
class Error : public std::runtime_error {
public:
    Error(std::string file, int line, const std::string& message);

    const std::string& file() const { return file_; }
    int line() const { return line_; }
    const std::string& message() const { return message_; }

private:
    std::string file_;
    int line_;
    std::string message_;
};

// Parses HEX text. `name` is the file name used in error messages. Records of
// type 00 (data), 01 (end of file), 02 (extended segment address) and 04
// (extended linear address) are accepted; every record's checksum is checked.
// Empty lines are skipped and a line may end in CR. The end-of-file record is
// required and nothing but empty lines may follow it. An address given twice
// with different data is an error, and so is a line longer than any record
// (521 characters) and a data record that runs past address 0xFFFFFFFF.
// Read takes the stream line by line and holds no more than one line of it.
// ReadFile names a directory or a device for what it is. Throws Error.
Memory Parse(std::string_view text, const std::string& name);
Memory Read(std::istream& in, const std::string& name);
Memory ReadFile(const std::string& path);

// Writes the memory as HEX text: data records of up to 16 bytes that never
// cross a 16-byte boundary or a gap, a type-04 record wherever the upper 16
// address bits change (none while they are 0), and the end-of-file record.
// Upper-case digits, one record per line ending in '\n'.
std::string Format(const Memory& memory);
void Write(std::ostream& out, const Memory& memory);
// Writes FILE.tmp and renames it over FILE, so that a reader never sees a
// partial file. Throws Error when the file cannot be written.
void WriteFile(const std::string& path, const Memory& memory);

// The bytes of `memory` at addresses in [first, limit) as one block that starts
// at `first` and ends with the highest byte present; gaps read `fill`. Empty
// when no byte lies in the range.
std::vector<std::uint8_t> Extract(const Memory& memory, std::uint32_t first, std::uint32_t limit,
                    std::uint8_t fill = 0xFF);

}  // namespace pelmark::hex
