#include "cli/trace.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include "serial/port_link.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace pelmark::cli {

TraceWriter::TraceWriter(std::size_t capacity, Sink sink)
    : buffer_(new char[capacity > 0 ? capacity : 1]), capacity_(capacity > 0 ? capacity : 1), sink_(std::move(sink)) {}

void TraceWriter::Flush() {
    if (used_ == 0) return;
    if (!failed_ && !sink_(buffer_.get(), used_)) failed_ = true;
    used_ = 0;
}

void TraceWriter::Put(char c) {
    if (used_ == capacity_) Flush();
    buffer_[used_++] = c;
}

void TraceWriter::Put(const char* text, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) Put(text[i]);
}

void TraceWriter::Run(std::uint64_t micros, bool sent, const std::uint8_t* bytes, std::uint32_t count) {
    // "%11.6f", without the C library's formatting (which may allocate).
    char digits[24];
    std::size_t n = 0;
    std::uint64_t seconds = micros / 1000000;
    do {
        digits[n++] = static_cast<char>('0' + seconds % 10);
        seconds /= 10;
    } while (seconds != 0);
    for (std::size_t pad = n; pad < 4; ++pad) Put(' ');
    while (n > 0) Put(digits[--n]);
    Put('.');
    std::uint64_t fraction = micros % 1000000;
    for (std::uint64_t unit = 100000; unit != 0; unit /= 10) {
        Put(static_cast<char>('0' + fraction / unit));
        fraction %= unit;
    }
    Put(sent ? " >" : " <", 2);
    static const char kHex[] = "0123456789abcdef";
    for (std::uint32_t i = 0; i < count; ++i) {
        Put(' ');
        Put(kHex[bytes[i] >> 4]);
        Put(kHex[bytes[i] & 0x0F]);
    }
    Put('\n');
}

namespace {

#ifdef _WIN32
int OpenTrace(const char* path) { return _open(path, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE); }
long long WriteSome(int fd, const char* bytes, std::size_t count) {
    return _write(fd, bytes, static_cast<unsigned>(count > 0x40000000 ? 0x40000000 : count));
}
int CloseTrace(int fd) { return _close(fd); }
#else
int OpenTrace(const char* path) { return open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644); }
long long WriteSome(int fd, const char* bytes, std::size_t count) { return write(fd, bytes, count); }
int CloseTrace(int fd) { return close(fd); }
#endif

struct ActiveTrace {
    int fd = -1;
    int writeError = 0;  // errno of the first write that failed
    std::chrono::steady_clock::time_point start;
    std::unique_ptr<TraceWriter> writer;
    std::string path;
};

ActiveTrace g_trace;

bool WriteAll(const char* bytes, std::size_t count) {
    while (count > 0) {
        const long long n = WriteSome(g_trace.fd, bytes, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            g_trace.writeError = n < 0 ? errno : ENOSPC;
            return false;
        }
        bytes += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

// The link's byte tap: on the serial path, no allocation.
void TapBytes(bool sent, const std::uint8_t* bytes, std::uint32_t count) {
    if (!g_trace.writer) return;
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                              g_trace.start)
                            .count();
    g_trace.writer->Run(static_cast<std::uint64_t>(micros), sent, bytes, count);
}

}  // namespace

bool StartTrace(const std::string& path, std::string* error) {
    std::string ignored;
    StopTrace(&ignored);
    const int fd = OpenTrace(path.c_str());
    if (fd < 0) {
        *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    g_trace.fd = fd;
    g_trace.writeError = 0;
    g_trace.path = path;
    g_trace.writer = std::make_unique<TraceWriter>(kTraceBufferSize, WriteAll);
    g_trace.start = std::chrono::steady_clock::now();
    SetByteTap(TapBytes);
    return true;
}

void FlushTrace() {
    if (g_trace.writer) g_trace.writer->Flush();
}

bool StopTrace(std::string* error) {
    if (!g_trace.writer) return true;
    SetByteTap(nullptr);
    g_trace.writer->Flush();
    bool ok = !g_trace.writer->Failed();
    if (!ok) *error = "cannot write " + g_trace.path + ": " + std::strerror(g_trace.writeError);
    if (CloseTrace(g_trace.fd) != 0 && ok) {
        *error = "cannot write " + g_trace.path + ": " + std::strerror(errno);
        ok = false;
    }
    g_trace = ActiveTrace{};
    return ok;
}

}  // namespace pelmark::cli
