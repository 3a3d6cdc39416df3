// Helpers for the serial tests: real pseudo-terminals to stand in for serial
// devices, files and links of a prepared tree.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/scratch.h"

namespace pelmark::test {

namespace fs = std::filesystem;

// A pseudo-terminal: the test holds the master side, the code under test
// opens the slave by its path.
class Pty {
public:
    Pty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
            ADD_FAILURE() << "no pseudo-terminal";
            return;
        }
        const int flags = fcntl(master_, F_GETFL);
        fcntl(master_, F_SETFL, flags | O_NONBLOCK);
        char name[128] = {};
        if (ptsname_r(master_, name, sizeof name) != 0) ADD_FAILURE() << "ptsname_r failed";
        slavePath_ = name;
    }
    ~Pty() { CloseMaster(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    int master() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }
    // "7" for /dev/pts/7.
    std::string number() const { return slavePath_.substr(slavePath_.find_last_of('/') + 1); }

    void CloseMaster() {
        if (master_ >= 0) close(master_);
        master_ = -1;
    }

    void Send(const std::vector<std::uint8_t>& bytes) const {
        ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Whatever reaches the master within `waitMs`, until `want` bytes came.
    std::vector<std::uint8_t> Receive(std::size_t want, int waitMs = 1000) const {
        std::vector<std::uint8_t> got;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        while (got.size() < want && std::chrono::steady_clock::now() < deadline) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 10) <= 0) continue;
            std::uint8_t buffer[4096];
            const ssize_t n = read(master_, buffer, sizeof buffer);
            if (n > 0) got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }

private:
    int master_ = -1;
    std::string slavePath_;
};

inline void WriteFile(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << text;
}

inline void Symlink(const std::string& target, const std::string& link) {
    fs::create_directories(fs::path(link).parent_path());
    fs::create_symlink(target, link);
}

}  // namespace pelmark::test
