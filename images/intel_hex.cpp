#include "images/intel_hex.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

namespace pelmark::hex {

namespace {

std::string Describe(const std::string& file, int line, const std::string& message) {
    std::string s = file;
    if (line > 0) s += ":" + std::to_string(line);
    return s + ": " + message;
}

std::string Hex2(unsigned value) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", value & 0xFFu);
    return buf;
}

std::string Hex8(std::uint32_t value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(value));
    return buf;
}

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string ShowChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F) return std::string("'") + c + "'";
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\x%02X", static_cast<unsigned>(u));
    return buf;
}

enum RecordType : std::uint8_t {
    kData = 0x00,
    kEndOfFile = 0x01,
    kExtendedSegment = 0x02,
    kExtendedLinear = 0x04,
};

// The longest record: ':', then length, offset (2), type, 255 data bytes
// and checksum as two digits each.
constexpr std::size_t kLongestRecord = 1 + 2 * (1 + 2 + 1 + 255 + 1);

class Parser {
public:
    explicit Parser(const std::string& name) : name_(name) {}

    Memory Run(std::string_view text) {
        std::size_t pos = 0;
        while (pos < text.size()) {
            std::size_t end = text.find('\n', pos);
            if (end == std::string_view::npos) end = text.size();
            Line(text.substr(pos, end - pos));
            pos = end + 1;
        }
        return Finish();
    }

    // Reads line by line, never holding more than one record's line.
    Memory Run(std::istream& in) {
        std::string line;
        line.reserve(kLongestRecord + 2);
        std::streambuf* buffer = in.rdbuf();
        bool more = buffer != nullptr;
        while (more) {
            line.clear();
            for (;;) {
                const auto c = buffer->sbumpc();
                if (c == std::char_traits<char>::eof()) {
                    more = false;
                    break;
                }
                if (c == '\n') break;
                if (line.size() > kLongestRecord) {  // room for a CR
                    ++line_;
                    Fail("line longer than any record (more than " + std::to_string(kLongestRecord) +
                         " characters)");
                }
                line += static_cast<char>(c);
            }
            if (more || !line.empty()) Line(line);
        }
        return Finish();
    }

private:
    [[noreturn]] void Fail(const std::string& message) const { throw Error(name_, line_, message); }

    void Line(std::string_view line) {
        ++line_;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) return;
        if (line.size() > kLongestRecord)
            Fail("line longer than any record (more than " + std::to_string(kLongestRecord) + " characters)");
        if (ended_) Fail("data after the end-of-file record");
        Record(line);
    }

    Memory Finish() {
        if (!ended_) {
            if (line_ == 0) line_ = 1;
            Fail("no end-of-file record (type 01)");
        }
        return std::move(memory_);
    }

    void Record(std::string_view line) {
        if (line.front() != ':') Fail("record does not start with ':' (found " + ShowChar(line.front()) + ")");
        for (std::size_t i = 1; i < line.size(); ++i)
            if (DigitValue(line[i]) < 0)
                Fail("unexpected character " + ShowChar(line[i]) + " at column " + std::to_string(i + 1));
        const std::size_t digits = line.size() - 1;
        if (digits % 2 != 0) Fail("odd number of hex digits");

        std::vector<std::uint8_t> bytes(digits / 2);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<std::uint8_t>(DigitValue(line[1 + 2 * i]) * 16 + DigitValue(line[2 + 2 * i]));
        if (bytes.size() < 5) Fail("record too short");

        const std::size_t count = bytes[0];
        if (bytes.size() < count + 5)
            Fail("record too short: its length field gives " + std::to_string(count) + " data bytes, it holds " +
                 std::to_string(bytes.size() - 5));
        if (bytes.size() > count + 5)
            Fail("record too long: its length field gives " + std::to_string(count) + " data bytes, it holds " +
                 std::to_string(bytes.size() - 5));

        unsigned sum = 0;
        for (std::size_t i = 0; i + 1 < bytes.size(); ++i) sum += bytes[i];
        const auto expected = static_cast<std::uint8_t>(0x100u - (sum & 0xFFu));
        if (bytes.back() != expected)
            Fail("checksum mismatch: record gives " + Hex2(bytes.back()) + ", its bytes need " + Hex2(expected));

        const auto offset = static_cast<std::uint32_t>(bytes[1] << 8 | bytes[2]);
        const std::uint8_t type = bytes[3];
        const std::uint8_t* data = bytes.data() + 4;

        switch (type) {
            case kData:
                for (std::size_t i = 0; i < count; ++i) Store(Address(offset, static_cast<std::uint32_t>(i)), data[i]);
                break;
            case kEndOfFile:
                if (count != 0) Fail("end-of-file record with data");
                ended_ = true;
                break;
            case kExtendedSegment:
                if (count != 2) Fail("extended segment address record needs 2 data bytes");
                base_ = static_cast<std::uint32_t>(data[0] << 8 | data[1]) << 4;
                segmented_ = true;
                break;
            case kExtendedLinear:
                if (count != 2) Fail("extended linear address record needs 2 data bytes");
                base_ = static_cast<std::uint32_t>(data[0] << 8 | data[1]) << 16;
                segmented_ = false;
                break;
            default:
                Fail("unsupported record type " + Hex2(type));
        }
    }

    // Segment addressing wraps within its 64 KB segment; linear addressing
    // simply adds, and may not run past the 4 GiB that addresses can name.
    std::uint32_t Address(std::uint32_t offset, std::uint32_t i) const {
        if (segmented_) return base_ + ((offset + i) & 0xFFFFu);
        const std::uint64_t address = std::uint64_t{base_} + offset + i;
        if (address > 0xFFFFFFFFull)
            Fail("data record runs past address 0xFFFFFFFF (the end of the 4 GiB address space)");
        return static_cast<std::uint32_t>(address);
    }

    void Store(std::uint32_t address, std::uint8_t value) {
        auto [it, inserted] = memory_.emplace(address, value);
        if (!inserted && it->second != value)
            Fail("address " + Hex8(address) + " given twice with different data (" + Hex2(it->second) + ", then " +
                 Hex2(value) + ")");
    }

    const std::string& name_;
    Memory memory_;
    int line_ = 0;
    bool ended_ = false;
    bool segmented_ = false;
    std::uint32_t base_ = 0;
};

void AppendRecord(std::string& out, std::uint8_t type, std::uint16_t offset, const std::uint8_t* data,
                  std::size_t count) {
    static const char kDigits[] = "0123456789ABCDEF";
    unsigned sum = 0;
    auto put = [&](std::uint8_t b) {
        out += kDigits[b >> 4];
        out += kDigits[b & 0xF];
        sum += b;
    };
    out += ':';
    put(static_cast<std::uint8_t>(count));
    put(static_cast<std::uint8_t>(offset >> 8));
    put(static_cast<std::uint8_t>(offset & 0xFF));
    put(type);
    for (std::size_t i = 0; i < count; ++i) put(data[i]);
    put(static_cast<std::uint8_t>(0x100u - (sum & 0xFFu)));
    out += '\n';
}

}  // namespace

Error::Error(std::string file, int line, const std::string& message)
    : std::runtime_error(Describe(file, line, message)), file_(std::move(file)), line_(line), message_(message) {}

Memory Parse(std::string_view text, const std::string& name) { return Parser(name).Run(text); }

Memory Read(std::istream& in, const std::string& name) {
    Memory memory = Parser(name).Run(in);
    if (in.bad()) throw Error(name, 0, "read error");
    return memory;
}

Memory ReadFile(const std::string& path) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (std::filesystem::is_directory(status)) throw Error(path, 0, "is a directory, not a HEX file");
    if (std::filesystem::is_character_file(status) || std::filesystem::is_block_file(status))
        throw Error(path, 0, "is a device, not a HEX file");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Error(path, 0, std::string("cannot open: ") + std::strerror(errno));
    return Read(in, path);
}

std::string Format(const Memory& memory) {
    std::string out;
    std::uint32_t upper = 0;
    std::uint8_t chunk[16];
    auto it = memory.begin();
    while (it != memory.end()) {
        const std::uint32_t start = it->first;
        std::size_t n = 0;
        chunk[n++] = it->second;
        ++it;
        while (it != memory.end() && n < sizeof chunk && it->first == start + n && (it->first & 0xFu) != 0) {
            chunk[n++] = it->second;
            ++it;
        }
        if ((start >> 16) != upper) {
            upper = start >> 16;
            const std::uint8_t ula[2] = {static_cast<std::uint8_t>(upper >> 8), static_cast<std::uint8_t>(upper)};
            AppendRecord(out, kExtendedLinear, 0, ula, 2);
        }
        AppendRecord(out, kData, static_cast<std::uint16_t>(start & 0xFFFFu), chunk, n);
    }
    AppendRecord(out, kEndOfFile, 0, nullptr, 0);
    return out;
}

void Write(std::ostream& out, const Memory& memory) { out << Format(memory); }

void WriteFile(const std::string& path, const Memory& memory) {
    const std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out) throw Error(tmp, 0, std::string("cannot create: ") + std::strerror(errno));
        Write(out, memory);
        out.flush();
        if (!out) throw Error(tmp, 0, "write error");
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        std::remove(tmp.c_str());
        throw Error(path, 0, "cannot replace: " + reason);
    }
}

std::vector<std::uint8_t> Extract(const Memory& memory, std::uint32_t first, std::uint32_t limit,
                                  std::uint8_t fill) {
    std::vector<std::uint8_t> block;
    if (limit <= first) return block;
    auto begin = memory.lower_bound(first);
    auto end = memory.lower_bound(limit);
    if (begin == end) return block;
    const std::uint32_t last = std::prev(end)->first;
    block.assign(static_cast<std::size_t>(last - first) + 1, fill);
    for (auto it = begin; it != end; ++it) block[it->first - first] = it->second;
    return block;
}

}  // namespace pelmark::hex
