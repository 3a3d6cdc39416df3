// The Intel HEX reader on any text: it either throws its own error, naming a
// line of the input, or returns a memory that the writer turns into HEX text
// that reads back as the same memory.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "images/intel_hex.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

int Lines(std::string_view text) {
    int n = 1;
    for (char c : text)
        if (c == '\n') ++n;
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    pelmark::hex::Memory memory;
    try {
        memory = pelmark::hex::Parse(text, "fuzz.hex");
    } catch (const pelmark::hex::Error& e) {
        Check(e.file() == "fuzz.hex");
        Check(e.line() >= 1 && e.line() <= Lines(text));
        Check(!e.message().empty());
        return 0;
    }
    const std::string written = pelmark::hex::Format(memory);
    pelmark::hex::Memory again;
    try {
        again = pelmark::hex::Parse(written, "written.hex");
    } catch (const pelmark::hex::Error&) {
        std::abort();  // the writer's own output must read back
    }
    Check(again == memory);
    Check(pelmark::hex::Format(again) == written);

    // A block of what lies in the first 64 KB, as the generator takes it.
    const auto block = pelmark::hex::Extract(memory, 0, 0x10000);
    if (!block.empty()) {
        const auto first = memory.begin();
        Check(block.size() <= 0x10000);
        if (first->first == 0) Check(block[0] == first->second);
    }
    return 0;
}
