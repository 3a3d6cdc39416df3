// The console tests' stand-in for a serial port that accepts everything and
// never answers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "serial/backend.h"

namespace pelmark::cli {

// A port on which nothing ever answers, or that cannot be opened.
class QuietPort : public serial::SerialBackend {
public:
    bool failOpen = false;
    std::vector<std::uint8_t> written;

    serial::Handle Open(int portIndex) override { return failOpen ? serial::kInvalidHandle : 10 + portIndex; }
    bool Flush(serial::Handle) override { return true; }
    bool GetState(serial::Handle, serial::LineState* s) override {
        *s = serial::LineState{};
        return true;
    }
    bool SetState(serial::Handle, const serial::LineState&) override { return true; }
    bool SetupQueues(serial::Handle, std::uint32_t, std::uint32_t) override { return true; }
    bool GetTimeouts(serial::Handle, serial::Timeouts* t) override {
        *t = serial::Timeouts{};
        return true;
    }
    bool SetTimeouts(serial::Handle, const serial::Timeouts&) override { return true; }
    bool ClearDtr(serial::Handle) override { return false; }
    bool ClearRts(serial::Handle) override { return false; }
    bool Write(serial::Handle, const std::uint8_t* bytes, std::uint32_t count) override {
        written.insert(written.end(), bytes, bytes + count);
        return true;
    }
    bool Read(serial::Handle, std::uint8_t*, std::uint32_t, std::uint32_t* got) override {
        *got = 0;
        return true;
    }
    void Close(serial::Handle) override {}
    serial::OpenError LastOpenError() const override {
        return failOpen ? serial::OpenError::PermissionDenied : serial::OpenError::None;
    }
    std::string LastOpenErrorText() const override { return failOpen ? "Permission denied" : ""; }
};

}  // namespace pelmark::cli
