// The serial backend for Windows: the communications API the link was
// designed on, one call per backend operation.
#include "serial/win32/serial_win32.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace pelmark::serial {

namespace win32 {

namespace {

HANDLE Native(Handle h) { return reinterpret_cast<HANDLE>(h); }

bool Usable(Handle h) { return h != kInvalidHandle && h != 0; }

bool IsBlank(const unsigned char* area, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i)
        if (area[i] != 0) return false;
    return true;
}

}  // namespace

LineState FromDcb(const DCB& dcb) {
    LineState state;
    state.baudRate = dcb.BaudRate;
    state.fBinary = dcb.fBinary != 0;
    state.fParity = dcb.fParity != 0;
    state.fOutxCtsFlow = dcb.fOutxCtsFlow != 0;
    state.fOutxDsrFlow = dcb.fOutxDsrFlow != 0;
    state.fDtrControl = static_cast<std::uint8_t>(dcb.fDtrControl);
    state.fDsrSensitivity = dcb.fDsrSensitivity != 0;
    state.fTXContinueOnXoff = dcb.fTXContinueOnXoff != 0;
    state.fOutX = dcb.fOutX != 0;
    state.fInX = dcb.fInX != 0;
    state.fErrorChar = dcb.fErrorChar != 0;
    state.fNull = dcb.fNull != 0;
    state.fRtsControl = static_cast<std::uint8_t>(dcb.fRtsControl);
    state.fAbortOnError = dcb.fAbortOnError != 0;
    state.byteSize = dcb.ByteSize;
    state.parity = dcb.Parity;
    state.stopBits = dcb.StopBits;
    std::memcpy(state.native, &dcb, sizeof dcb);
    return state;
}

DCB ToDcb(const LineState& state, const DCB& current) {
    DCB dcb = current;
    if (!IsBlank(state.native, sizeof(DCB))) std::memcpy(&dcb, state.native, sizeof dcb);
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = state.baudRate;
    dcb.fBinary = state.fBinary ? 1 : 0;
    dcb.fParity = state.fParity ? 1 : 0;
    dcb.fOutxCtsFlow = state.fOutxCtsFlow ? 1 : 0;
    dcb.fOutxDsrFlow = state.fOutxDsrFlow ? 1 : 0;
    dcb.fDtrControl = state.fDtrControl & 0x3u;
    dcb.fDsrSensitivity = state.fDsrSensitivity ? 1 : 0;
    dcb.fTXContinueOnXoff = state.fTXContinueOnXoff ? 1 : 0;
    dcb.fOutX = state.fOutX ? 1 : 0;
    dcb.fInX = state.fInX ? 1 : 0;
    dcb.fErrorChar = state.fErrorChar ? 1 : 0;
    dcb.fNull = state.fNull ? 1 : 0;
    dcb.fRtsControl = state.fRtsControl & 0x3u;
    dcb.fAbortOnError = state.fAbortOnError ? 1 : 0;
    dcb.ByteSize = state.byteSize;
    dcb.Parity = state.parity;
    dcb.StopBits = state.stopBits;
    return dcb;
}

std::string DevicePath(int portIndex) {
    if (portIndex < 0) return std::string();
    char path[32];
    std::snprintf(path, sizeof path, "\\\\.\\COM%d", portIndex + 1);
    return path;
}

OpenError OpenErrorFor(DWORD error) {
    switch (error) {
        case ERROR_SUCCESS:
            return OpenError::None;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_UNIT:
        case ERROR_DEV_NOT_EXIST:
            return OpenError::Absent;
        // A COM port that another program holds answers "access denied".
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_BUSY:
            return OpenError::Busy;
        case ERROR_NOT_SUPPORTED:
        case ERROR_INVALID_FUNCTION:
            return OpenError::NotASerialPort;
        default:
            return OpenError::Other;
    }
}

bool WriteCompleted(BOOL accepted, DWORD written, DWORD count) { return accepted != 0 && written == count; }

std::string SystemMessage(DWORD error) {
    char text[512];
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                   text, sizeof text, nullptr);
    std::string message = n > 0 ? std::string(text, n) : "error " + std::to_string(error);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ' ||
                                message.back() == '.'))
        message.pop_back();
    return message;
}

namespace {

class Win32Serial final : public SerialBackend {
public:
    Handle Open(int portIndex) override {
        openError_ = OpenError::None;
        openErrorText_.clear();
        const std::string path = DevicePath(portIndex);
        if (path.empty()) {
            openError_ = OpenError::Absent;
            openErrorText_ = "no such port";
            return kInvalidHandle;
        }
        HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            openError_ = OpenErrorFor(error);
            if (openError_ == OpenError::None) openError_ = OpenError::Other;
            openErrorText_ = path + ": " + SystemMessage(error);
            return kInvalidHandle;
        }
        return reinterpret_cast<Handle>(h);
    }

    bool Flush(Handle h) override { return Usable(h) && FlushFileBuffers(Native(h)) != 0; }

    bool GetState(Handle h, LineState* state) override {
        if (state == nullptr || !Usable(h)) return false;
        DCB dcb;
        std::memset(&dcb, 0, sizeof dcb);
        dcb.DCBlength = sizeof dcb;
        if (GetCommState(Native(h), &dcb) == 0) return false;
        *state = FromDcb(dcb);
        return true;
    }

    bool SetState(Handle h, const LineState& state) override {
        if (!Usable(h)) return false;
        DCB current;
        std::memset(&current, 0, sizeof current);
        current.DCBlength = sizeof current;
        // Only a state that did not come from GetState needs the port's own.
        if (IsBlank(state.native, sizeof(DCB)) && GetCommState(Native(h), &current) == 0) return false;
        DCB dcb = ToDcb(state, current);
        return SetCommState(Native(h), &dcb) != 0;
    }

    bool SetupQueues(Handle h, std::uint32_t inQueue, std::uint32_t outQueue) override {
        return Usable(h) && SetupComm(Native(h), inQueue, outQueue) != 0;
    }

    bool GetTimeouts(Handle h, Timeouts* timeouts) override {
        if (timeouts == nullptr || !Usable(h)) return false;
        COMMTIMEOUTS t{};
        if (GetCommTimeouts(Native(h), &t) == 0) return false;
        timeouts->readIntervalTimeout = t.ReadIntervalTimeout;
        timeouts->readTotalTimeoutMultiplier = t.ReadTotalTimeoutMultiplier;
        timeouts->readTotalTimeoutConstant = t.ReadTotalTimeoutConstant;
        timeouts->writeTotalTimeoutMultiplier = t.WriteTotalTimeoutMultiplier;
        timeouts->writeTotalTimeoutConstant = t.WriteTotalTimeoutConstant;
        return true;
    }

    bool SetTimeouts(Handle h, const Timeouts& timeouts) override {
        if (!Usable(h)) return false;
        COMMTIMEOUTS t{};
        t.ReadIntervalTimeout = timeouts.readIntervalTimeout;
        t.ReadTotalTimeoutMultiplier = timeouts.readTotalTimeoutMultiplier;
        t.ReadTotalTimeoutConstant = timeouts.readTotalTimeoutConstant;
        t.WriteTotalTimeoutMultiplier = timeouts.writeTotalTimeoutMultiplier;
        t.WriteTotalTimeoutConstant = timeouts.writeTotalTimeoutConstant;
        return SetCommTimeouts(Native(h), &t) != 0;
    }

    // A line without modem control (a pseudo-terminal under Wine, some
    // adapters) refuses these; the link does not look at the answer.
    bool ClearDtr(Handle h) override { return Usable(h) && EscapeCommFunction(Native(h), CLRDTR) != 0; }
    bool ClearRts(Handle h) override { return Usable(h) && EscapeCommFunction(Native(h), CLRRTS) != 0; }

    bool Write(Handle h, const std::uint8_t* bytes, std::uint32_t count) override {
        if (!Usable(h) || (bytes == nullptr && count != 0)) return false;
        DWORD written = 0;
        const BOOL accepted = WriteFile(Native(h), bytes, count, &written, nullptr);
        return WriteCompleted(accepted, written, count);
    }

    bool Read(Handle h, std::uint8_t* buffer, std::uint32_t max, std::uint32_t* got) override {
        if (got != nullptr) *got = 0;
        if (!Usable(h) || buffer == nullptr || got == nullptr) return false;
        DWORD n = 0;
        if (ReadFile(Native(h), buffer, max, &n, nullptr) == 0) return false;
        *got = n;
        return true;
    }

    void Close(Handle h) override {
        if (Usable(h)) CloseHandle(Native(h));
    }

    OpenError LastOpenError() const override { return openError_; }
    std::string LastOpenErrorText() const override { return openErrorText_; }

private:
    OpenError openError_ = OpenError::None;
    std::string openErrorText_;
};

}  // namespace

}  // namespace win32

SerialBackend& Win32Backend() {
    static win32::Win32Serial backend;
    return backend;
}

}  // namespace pelmark::serial
