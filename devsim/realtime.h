// Real time for the virtual device: the line and the flash take as long as
// they do on a real board.
//
// Every byte on the line costs its time at the line's baud rate with 11 bits
// a byte (start bit, 8 data bits, no parity, two stop bits), in both
// directions, and every write costs the chip's programming time. A reply
// leaves only after the last byte of its frame has arrived and the write is
// done, and then takes its own time on the line.
//
// Programming times (datasheet typical figures):
//   PIC18 row of 64 bytes        2.8 ms for the K80 family (PIC18F25K80,
//                                PIC18F26K80), 2.0 ms for the older PIC18
//                                (PIC18F2580 and its kin)
//   PIC18 data EEPROM byte       4.0 ms
//   PIC24HJ / dsPIC33FJ row      1.6 ms (64 instructions)
//   PIC24HJ / dsPIC33FJ page     20 ms erase, charged when a frame is the
//                                first of its page (8 rows, 512
//                                instructions) since the last search byte
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <set>
#include <vector>

#include "devsim/device_model.h"

namespace pelmark::devsim {

struct DeviceTiming {
    std::uint32_t baud = 115200;
    std::uint32_t bitsPerByte = 11;
    std::optional<double> pic18RowMs;  // default by chip
    double pic24RowMs = 1.6;
    double pic24PageEraseMs = 20.0;
    double eepromByteMs = 4.0;
};

constexpr double kK80RowMs = 2.8;
constexpr double kPic18RowMs = 2.0;
constexpr std::uint32_t kPic24PageRows = 8;

// Row programming time of a PIC18 chip code, in milliseconds.
double DefaultPic18RowMs(std::uint8_t chip);

// One frame as the line saw it: bytes in, bytes out, time the device spent
// writing before it answered.
struct Exchange {
    FrameKind kind = FrameKind::Junk;
    std::uint32_t received = 0;
    std::uint32_t sent = 0;
    double deviceSeconds = 0;
    // Seconds from the first byte read: when the bytes that ended the frame
    // were read, and when its reply left (0 without one).
    double readAt = 0;
    double repliedAt = 0;
};

class RealtimeLine {
public:
    using Clock = std::chrono::steady_clock;

    struct Reply {
        Clock::time_point release;  // when its last byte has left the device
        std::vector<std::uint8_t> bytes;
    };

    RealtimeLine(const DeviceTiming& timing, const DeviceConfig& config);

    // Seconds one byte takes on the line.
    double ByteSeconds() const { return byteSeconds_; }

    // Bytes read from the line at `now`. They arrive one byte time apart,
    // starting when the line is free; each is fed to the model on its own.
    // Returns the replies with the time each may leave; the model's events
    // are appended to `events`.
    std::vector<Reply> Receive(DeviceModel& model, const std::uint8_t* data, std::size_t count,
                               Clock::time_point now, std::vector<FrameEvent>& events);

    // Time the device spends writing for a frame it judged (0 for frames that
    // write nothing).
    double DeviceSeconds(const FrameEvent& event);
    // Bytes the frame of an event took on the line.
    std::uint32_t ReceivedBytes(const FrameEvent& event) const;

    const std::vector<Exchange>& Exchanges() const { return exchanges_; }

    // "# byte_us ..." then one line per frame: kind, bytes received, bytes
    // sent, device time, time read and time replied, all in microseconds.
    void WriteTiming(std::FILE* out) const;

private:
    DeviceTiming timing_;
    ChipLayout layout_;
    double byteSeconds_;
    double pic18RowSeconds_;
    std::optional<Clock::time_point> origin_;  // the first read
    Clock::time_point rxFree_{};  // the host's last byte on the line ends here
    Clock::time_point txFree_{};  // the device's last byte on the line ends here
    std::set<std::uint32_t> erasedPages_;
    std::vector<Exchange> exchanges_;
};

}  // namespace pelmark::devsim
