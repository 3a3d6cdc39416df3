// The byte trace (--trace FILE): every byte the link wrote to and read from
// the port, with its time since the start of the run, for support. One line
// per run of bytes, in the order they went and came:
//
//      0.012345 > c2
//      0.017890 < 56 48 05 05 04 4b
//
// seconds with six decimals, '>' sent, '<' received, the bytes in hex.
//
// The serial path must not block or allocate: the link's byte tap only
// copies into a buffer allocated once at the start, and the buffer goes to
// the file between waits (the console display's event pumping calls
// FlushTrace) and at the end. A run that would overflow the buffer before
// then writes it out right there: no byte is ever dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace pelmark::cli {

// The trace's text in a buffer of fixed size, handed to `sink` whenever it
// is full and on Flush. It never allocates after its construction.
class TraceWriter {
public:
    // Writes all of the bytes; false when they could not be written.
    using Sink = std::function<bool(const char* bytes, std::size_t count)>;

    TraceWriter(std::size_t capacity, Sink sink);

    // One line: the run's time in microseconds since the start, its
    // direction and its bytes.
    void Run(std::uint64_t micros, bool sent, const std::uint8_t* bytes, std::uint32_t count);
    // Hands what is held to the sink.
    void Flush();
    // A hand-over to the sink failed (everything after it is dropped).
    bool Failed() const { return failed_; }

private:
    void Put(char c);
    void Put(const char* text, std::size_t count);

    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_;
    std::size_t used_ = 0;
    Sink sink_;
    bool failed_ = false;
};

constexpr std::size_t kTraceBufferSize = 64 * 1024;

// Opens `path` afresh (emptied when it exists), allocates the buffer and sets
// the link's byte tap; times count from here. False with the cause in
// `error` when the file cannot be opened.
bool StartTrace(const std::string& path, std::string* error);

// Writes what the tap has collected to the file; nothing when no trace runs.
void FlushTrace();

// Writes the rest, closes the file and takes the tap away. False with the
// cause in `error` when some of the trace could not be written.
bool StopTrace(std::string* error);

}  // namespace pelmark::cli
