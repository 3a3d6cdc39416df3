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
//
// A bootloader that answers busy after "K" sends its "K" as soon as a frame
// has been checked and writes afterwards. Bytes that arrive while it writes
// are lost (the receiver overruns); it notices, drops the rest of the frame
// they belonged to and answers "N" once the write is done and the line is
// quiet again.
//
// UsbAdapter stands between the line and the host: it passes what it has
// received to the host when its latency timer runs out, N ms after its last
// transfer (a transfer goes every N ms, with data or without), or at once
// when its buffer is full (62 bytes of payload, as on FTDI chips).
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
    bool busyAfterAck = false;  // "K" before the write, bytes lost while writing
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
    // Whether a byte that arrived at `arrived` is lost to a busy device.
    bool Lost(Clock::time_point arrived, Clock::duration byteTime);

    DeviceTiming timing_;
    ChipLayout layout_;
    double byteSeconds_;
    double pic18RowSeconds_;
    std::optional<Clock::time_point> origin_;  // the first read
    Clock::time_point rxFree_{};  // the host's last byte on the line ends here
    Clock::time_point txFree_{};  // the device's last byte on the line ends here
    std::set<std::uint32_t> erasedPages_;
    std::vector<Exchange> exchanges_;
    // Busy after "K": the write ends at busyUntil_; the bytes lost so far in
    // the burst that ran into it, and when the last of them arrived.
    Clock::time_point busyUntil_{};
    std::uint32_t lost_ = 0;
    Clock::time_point lastLost_{};
};

class UsbAdapter {
public:
    using Clock = RealtimeLine::Clock;
    static constexpr std::size_t kFtdiPayloadBytes = 62;

    UsbAdapter(double latencyMs, double byteSeconds, std::size_t bufferBytes = kFtdiPayloadBytes);

    // A reply whose last byte reached the adapter at `reply.release` (its
    // bytes one byte time apart), as the host gets it: in pieces, each with
    // the time it reaches the host, in order.
    std::vector<RealtimeLine::Reply> Pass(const RealtimeLine::Reply& reply);

private:
    // The transfers due up to `t`: what the buffer holds goes with the first.
    void RunTimerTo(Clock::time_point t, std::vector<RealtimeLine::Reply>& out);
    void Transfer(Clock::time_point at, std::vector<RealtimeLine::Reply>& out);

    Clock::duration period_;
    Clock::duration byteTime_;
    std::size_t bufferBytes_;
    std::optional<Clock::time_point> lastTransfer_;
    std::vector<std::uint8_t> buffer_;
};

}  // namespace pelmark::devsim
