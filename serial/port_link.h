// The serial port link: the port index, the port table and the operations on
// the selected COM port with the bootloader's fixed line settings.
#pragma once

#include <chrono>
#include <cstdint>

#include "serial/backend.h"

namespace pelmark {

class StatusBar;

constexpr int kPortCount = 257;  // COM1 to COM257
constexpr int kReceiveBufferSize = 4000;
constexpr int kReadChunk = 3072;
constexpr std::uint32_t kBaudRate = 115200;

// Selected port (0 = COM1, -1 = none) and the index ComPortOpen last acted on.
extern std::int16_t g_portIndex;
extern std::int16_t g_openPortIndex;

// Shared receive buffer: every read starts at its first byte.
extern std::uint8_t g_receiveBuffer[kReceiveBufferSize];

struct PortRecord {
    bool open = false;
    serial::Handle handle = serial::kInvalidHandle;
};
extern PortRecord g_portTable[kPortCount];

void ComPortOpen();
bool ComPortSetup(int index, std::uint32_t baud, std::uint8_t parity, std::uint8_t stopBits,
                  std::uint8_t byteSize);
void ComPortClose(int index);
int ComPortWrite(int index, const std::uint8_t* bytes, std::uint32_t count);
std::uint16_t ComPortStatus(std::int16_t index);
void ComPortDrain();
std::uint16_t ComPortDiscard();
void ShowPortName(StatusBar& statusBar);

// Reads once from the selected port into the receive buffer (first 3000
// bytes cleared first); returns the count, 0 when the port is not open.
std::uint16_t ComPortReadOnce();

// Waits until bytes can be read from the selected port or `deadline` has
// passed; true when bytes can be read. False at once when the port is not
// open or its backend cannot wait that way.
bool ComPortWaitReadable(std::chrono::steady_clock::time_point deadline);

// What opening the selected port learnt about its adapter's latency
// (nothing when it is not open).
serial::PortLatency ComPortLatency();

// Called at the end of every ComPortOpen that left the selected port open
// (nullptr: nothing is called).
using PortOpenedHook = void (*)();
void SetPortOpenedHook(PortOpenedHook hook);

// Closes every open record (program end, tests).
void ComPortCloseAll();

// Bytes the link wrote to and read from the selected port since the counts
// were last cleared (the engine clears them when a search begins).
struct LinkCounts {
    std::uint64_t sent = 0;
    std::uint64_t received = 0;
};
extern LinkCounts g_linkCounts;

// Called with every run of bytes the link wrote (`sent` true) or read, in
// the order they went and came, on the engine's thread (nullptr: none). It
// runs on the serial path: it must not block or allocate.
using ByteTap = void (*)(bool sent, const std::uint8_t* bytes, std::uint32_t count);
void SetByteTap(ByteTap tap);

}  // namespace pelmark
