// The settings file as the desktop program reads and writes it, whatever it
// holds: reading never fails, a value written reads back as written, and the
// other front ends' values stay as they were.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "shell/settings.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

const std::string& File() {
    static const std::string file = [] {
        char pattern[] = "/tmp/pelmark-fuzz-settings-XXXXXX";
        const char* dir = mkdtemp(pattern);
        if (dir == nullptr) std::abort();
        std::string path = std::string(dir) + "/settings.ini";
        setenv("PELMARK_SETTINGS", path.c_str(), 1);
        return path;
    }();
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    // The first byte picks the front end that writes and the value it writes.
    const int writer = data[0] % 3;
    const std::string value = std::to_string(static_cast<int>(data[0]) - 129);
    {
        std::ofstream out(File(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
    }
    std::string before[3];
    for (int s = 0; s < 3; ++s) before[s] = pelmark::ReadSetting("com", s);

    pelmark::WriteSetting("com", value, writer);
    for (int s = 0; s < 3; ++s) {
        const std::string now = pelmark::ReadSetting("com", s);
        if (s == writer)
            Check(now == value);
        else
            Check(now == before[s]);
    }
    return 0;
}
