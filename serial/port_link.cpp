#include "serial/port_link.h"

#include <cstdio>
#include <cstring>

#include "shell/display.h"
#include "shell/panels.h"
#include "shell/texts.h"

namespace pelmark {

std::int16_t g_portIndex = 0;
std::int16_t g_openPortIndex = 0;
std::uint8_t g_receiveBuffer[kReceiveBufferSize];
PortRecord g_portTable[kPortCount];

namespace {

constexpr std::uint32_t kInQueue = 32768;
constexpr std::uint32_t kOutQueue = 9216;
constexpr std::uint32_t kMaxDword = 0xFFFFFFFFu;
constexpr std::uint8_t kTwoStopBits = 2;
constexpr std::uint8_t kNoParity = 0;

bool ValidIndex(int index) { return index >= 0 && index < kPortCount; }

PortRecord* OpenRecord(int index) {
    if (!ValidIndex(index) || !g_portTable[index].open) return nullptr;
    return &g_portTable[index];
}

PortOpenedHook g_portOpenedHook = nullptr;
ByteTap g_byteTap = nullptr;

void NoteReceived(const std::uint8_t* bytes, std::uint32_t count) {
    if (count == 0) return;
    g_linkCounts.received += count;
    if (g_byteTap != nullptr) g_byteTap(false, bytes, count);
}

void ShowBox(const char* message) {
    if (Display* d = CurrentDisplay()) d->MessageBox(message, text::kErrorCaption);
}

}  // namespace

void ComPortOpen() {
    if (g_portIndex == g_openPortIndex) return;
    g_openPortIndex = g_portIndex;
    // Only one port is in use at a time: a port opened under an earlier
    // selection is released too, so it is free for other programs.
    ComPortCloseAll();
    ComPortSetup(g_portIndex, kBaudRate, kNoParity, kTwoStopBits, 8);
    serial::SerialBackend& backend = serial::Backend();
    if (PortRecord* rec = OpenRecord(g_portIndex)) {
        // Results are not examined: a line without modem control (a
        // pseudo-terminal, some adapters) refuses these and that is fine.
        backend.ClearDtr(rec->handle);
        backend.ClearRts(rec->handle);
    }
    if (static_cast<std::int16_t>(ComPortStatus(g_portIndex)) < 0) {
        if (Display* d = CurrentDisplay()) d->ShowOutcome(text::kInvalidPortCom, clRed, kOutcomeFailure);
    } else if (g_portOpenedHook != nullptr) {
        g_portOpenedHook();
    }
}

bool ComPortSetup(int index, std::uint32_t baud, std::uint8_t parity, std::uint8_t stopBits,
                  std::uint8_t byteSize) {
    if (!ValidIndex(index)) return false;
    serial::SerialBackend& backend = serial::Backend();
    PortRecord& rec = g_portTable[index];
    if (rec.open) {
        rec.open = false;
        backend.Close(rec.handle);
    }
    rec.handle = backend.Open(index);
    if (rec.handle == serial::kInvalidHandle) return false;

    const serial::Handle h = rec.handle;
    backend.Flush(h);

    serial::LineState state;
    if (!backend.GetState(h, &state)) {
        backend.Close(h);
        return false;
    }
    state.baudRate = baud;
    state.fBinary = true;
    state.fParity = false;
    state.fOutxCtsFlow = false;
    state.fOutxDsrFlow = false;
    state.fDtrControl = 0;
    state.fDsrSensitivity = false;
    state.fTXContinueOnXoff = false;
    state.fOutX = false;
    state.fInX = false;
    state.fErrorChar = false;
    state.fNull = false;
    state.fRtsControl = 0;
    state.fAbortOnError = false;
    state.byteSize = byteSize;
    state.parity = parity;
    state.stopBits = stopBits;
    if (!backend.SetState(h, state)) {
        ShowBox(text::kUnableToConfigure);
        backend.Close(h);
        return false;
    }
    if (!backend.SetupQueues(h, kInQueue, kOutQueue)) {
        backend.Close(h);
        return false;
    }
    serial::Timeouts timeouts;
    backend.GetTimeouts(h, &timeouts);
    timeouts.readIntervalTimeout = kMaxDword;
    timeouts.readTotalTimeoutMultiplier = 0;
    timeouts.readTotalTimeoutConstant = 0;
    timeouts.writeTotalTimeoutMultiplier = 10;
    timeouts.writeTotalTimeoutConstant = 1000;
    if (!backend.SetTimeouts(h, timeouts)) {
        ShowBox(text::kUnableToSetTimeouts);
        backend.Close(h);
        return false;
    }
    rec.open = true;
    return true;
}

void ComPortClose(int index) {
    PortRecord* rec = OpenRecord(index);
    if (rec == nullptr) return;
    rec->open = false;
    serial::Backend().Close(rec->handle);
}

void ComPortCloseAll() {
    for (int i = 0; i < kPortCount; ++i) ComPortClose(i);
}

LinkCounts g_linkCounts;

void SetByteTap(ByteTap tap) { g_byteTap = tap; }

int ComPortWrite(int index, const std::uint8_t* bytes, std::uint32_t count) {
    PortRecord* rec = OpenRecord(index);
    if (rec == nullptr) return 0;
    serial::SerialBackend& backend = serial::Backend();
    if (!backend.Write(rec->handle, bytes, count)) return 0;
    g_linkCounts.sent += count;
    if (g_byteTap != nullptr) g_byteTap(true, bytes, count);
    backend.Flush(rec->handle);
    return 2;
}

std::uint16_t ComPortStatus(std::int16_t index) {
    PortRecord* rec = OpenRecord(index);
    if (rec == nullptr) return 0xFFFE;
    if (rec->handle == serial::kInvalidHandle) return 0xFFFF;
    serial::Backend().Flush(rec->handle);
    return 0;
}

void ComPortDrain() {
    PortRecord* rec = OpenRecord(g_portIndex);
    if (rec == nullptr) return;
    serial::SerialBackend& backend = serial::Backend();
    std::uint32_t got = 0;
    do {
        got = 0;
        if (!backend.Read(rec->handle, g_receiveBuffer, kReadChunk, &got)) break;
        NoteReceived(g_receiveBuffer, got);
    } while (got != 0);
}

std::uint16_t ComPortReadOnce() {
    PortRecord* rec = OpenRecord(g_portIndex);
    if (rec == nullptr) return 0;
    std::memset(g_receiveBuffer, 0, 3000);
    std::uint32_t got = 0;
    if (!serial::Backend().Read(rec->handle, g_receiveBuffer, kReadChunk, &got)) return 0;
    NoteReceived(g_receiveBuffer, got);
    return static_cast<std::uint16_t>(got);
}

std::uint16_t ComPortDiscard() { return ComPortReadOnce(); }

bool ComPortWaitReadable(std::chrono::steady_clock::time_point deadline) {
    PortRecord* rec = OpenRecord(g_portIndex);
    return rec != nullptr && serial::Backend().WaitReadable(rec->handle, deadline);
}

serial::PortLatency ComPortLatency() {
    PortRecord* rec = OpenRecord(g_portIndex);
    return rec != nullptr ? serial::Backend().Latency(rec->handle) : serial::PortLatency{};
}

void SetPortOpenedHook(PortOpenedHook hook) { g_portOpenedHook = hook; }

void ShowPortName(StatusBar& statusBar) {
    char name[16];
    if (g_portIndex < 0)
        std::snprintf(name, sizeof name, "%s", text::kNoPortName);
    else
        std::snprintf(name, sizeof name, text::kComPattern, g_portIndex + 1);
    statusBar.SetPanelText(g_panels.port, name);
}

}  // namespace pelmark
