// The platform layer under the serial link: one backend per operating system
// (posix today, win32 beside it), chosen in backend_select.cpp. The calls
// follow the Win32 communications API that the link was designed on, so the
// link's own sequence (open, flush, state, queues, time-outs, lines) is the
// same code on every platform.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace pelmark::serial {

using Handle = std::intptr_t;
constexpr Handle kInvalidHandle = -1;

// The device-control fields the link sets; `native` keeps whatever else the
// platform returned, so SetState changes nothing the link does not name.
struct LineState {
    std::uint32_t baudRate = 0;
    bool fBinary = false;
    bool fParity = false;
    bool fOutxCtsFlow = false;
    bool fOutxDsrFlow = false;
    std::uint8_t fDtrControl = 0;  // 0 = DTR_CONTROL_DISABLE
    bool fDsrSensitivity = false;
    bool fTXContinueOnXoff = false;
    bool fOutX = false;
    bool fInX = false;
    bool fErrorChar = false;
    bool fNull = false;
    std::uint8_t fRtsControl = 0;  // 0 = RTS_CONTROL_DISABLE
    bool fAbortOnError = false;
    std::uint8_t byteSize = 8;
    std::uint8_t parity = 0;    // 0 = NOPARITY
    std::uint8_t stopBits = 0;  // 0 = one, 1 = one and a half, 2 = two
    alignas(8) unsigned char native[128] = {};
};

struct Timeouts {
    std::uint32_t readIntervalTimeout = 0;
    std::uint32_t readTotalTimeoutMultiplier = 0;
    std::uint32_t readTotalTimeoutConstant = 0;
    std::uint32_t writeTotalTimeoutMultiplier = 0;
    std::uint32_t writeTotalTimeoutConstant = 0;
};

// Why the last Open failed, for the hint a front end may print beside
// "Invalid Port Com".
enum class OpenError { None, Absent, Busy, PermissionDenied, NotASerialPort, Other };

// How long the adapter behind a port holds the bytes it has received before
// it passes them to the host (a USB adapter's latency timer).
struct PortLatency {
    bool lowLatency = false;  // the driver took the request for low latency
    int timerMs = -1;         // the adapter's latency timer; -1: it has none or does not tell
};

class SerialBackend {
public:
    virtual ~SerialBackend() = default;
    // CreateFileA("\\.\COM<index+1>", read/write, no sharing, OPEN_EXISTING).
    virtual Handle Open(int portIndex) = 0;
    // FlushFileBuffers: returns once every byte written has been transmitted.
    virtual bool Flush(Handle h) = 0;
    virtual bool GetState(Handle h, LineState* state) = 0;
    virtual bool SetState(Handle h, const LineState& state) = 0;
    virtual bool SetupQueues(Handle h, std::uint32_t inQueue, std::uint32_t outQueue) = 0;
    virtual bool GetTimeouts(Handle h, Timeouts* timeouts) = 0;
    virtual bool SetTimeouts(Handle h, const Timeouts& timeouts) = 0;
    virtual bool ClearDtr(Handle h) = 0;
    virtual bool ClearRts(Handle h) = 0;
    virtual bool Write(Handle h, const std::uint8_t* bytes, std::uint32_t count) = 0;
    // Returns at once with what has arrived (possibly nothing).
    virtual bool Read(Handle h, std::uint8_t* buffer, std::uint32_t max, std::uint32_t* got) = 0;
    virtual void Close(Handle h) = 0;

    // Waits until bytes can be read from the port or `deadline` has passed,
    // whichever comes first; true when bytes can be read. A backend that
    // cannot wait this way returns false at once and the caller sleeps.
    virtual bool WaitReadable(Handle, std::chrono::steady_clock::time_point) { return false; }
    // What the open step learnt about the adapter's latency.
    virtual PortLatency Latency(Handle) const { return {}; }

    // Cause of the last failed Open, with the system's own words.
    virtual OpenError LastOpenError() const = 0;
    virtual std::string LastOpenErrorText() const = 0;
};

// The latency timer of the adapter behind COM<comNumber> as the system tells
// it without opening the port, in milliseconds; -1 when it does not.
int AdapterLatencyTimerMs(int comNumber);

// The backend of this platform.
SerialBackend& PlatformBackend();

// The backend the link uses: the platform's, unless a test installed another.
SerialBackend& Backend();
void SetBackend(SerialBackend* backend);  // nullptr restores the platform's

}  // namespace pelmark::serial
