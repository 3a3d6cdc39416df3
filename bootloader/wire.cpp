#include "bootloader/wire.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/sleep.h"
#include "platform/sleep_until.h"
#include "serial/port_link.h"
#include "shell/display.h"
#include "shell/panels.h"
#include "shell/texts.h"

namespace pelmark {

ProtocolState g_protocol;
std::atomic<bool> g_stopRequest{false};
std::uint8_t g_frameBuffer[kFrameBufferSize + 8];

namespace {

void RealSleep(int ms) { platform::PreciseSleep(ms); }

SleepFunction g_sleep = RealSleep;

void Pump() {
    if (Display* d = CurrentDisplay()) d->PumpEvents();
}

constexpr int kSliceMs = 5;

// The slices of one wait keep a beat that starts with the wait: slice i ends
// (i + 1) x 5 ms after the start. A wake-up that comes late (a tenth of a
// millisecond on Linux, up to a timer tick on Windows) then shortens the next
// slice instead of pushing every later one back, so n slices last n x 5 ms,
// not n x (5 ms + the lateness). When dispatching events took longer than the
// rest of a slice, the beat starts afresh: a slice is never skipped.
class SliceBeat {
public:
    using Clock = std::chrono::steady_clock;

    SliceBeat() : deadline_(Clock::now()) {}

    void Sleep() {
        Begin();
        SleepRest();
    }

    // Starts the next slice; returns when it ends.
    Clock::time_point Begin() {
        if (g_sleep == RealSleep) {
            deadline_ += std::chrono::milliseconds(kSliceMs);
            const Clock::time_point now = Clock::now();
            if (deadline_ <= now) deadline_ = now + std::chrono::milliseconds(kSliceMs);
        }
        return deadline_;
    }

    // Sleeps out what is left of the slice Begin started.
    void SleepRest() {
        if (g_sleep != RealSleep) {  // a test's clock
            g_sleep(kSliceMs);
            return;
        }
        platform::SleepUntil(deadline_);
    }

private:
    Clock::time_point deadline_;
};

// One slice of a wait in fast mode: the port is watched for the whole slice
// and read as soon as bytes arrive, so the slice ends early once they bring
// a verdict. Without a verdict it lasts its 5 ms like any other, and a port
// that cannot be watched (or that wakes the wait without bytes, as a hung-up
// one does) is slept on and read at the slice's end.
void FastSlice(SliceBeat& beat) {
    const SliceBeat::Clock::time_point end = beat.Begin();
    while (ComPortWaitReadable(end)) {
        if (ParseReplies() == 0) break;
        if (g_protocol.acknowledged || g_protocol.refused) return;
    }
    beat.SleepRest();
    ParseReplies();
}

bool g_fastVerdicts = false;

}  // namespace

void SetFastVerdicts(bool fast) { g_fastVerdicts = fast; }

bool FastVerdicts() { return g_fastVerdicts; }

void SetSleepFunction(SleepFunction fn) { g_sleep = fn ? fn : RealSleep; }

void SleepMs(int ms) { g_sleep(ms); }

void PumpDelay(int ms) {
    SliceBeat beat;
    while (ms > 0) {
        beat.Sleep();
        Pump();
        ms -= kSliceMs;
    }
}

void ParseReplyByte(std::uint8_t b) {
    ProtocolState& p = g_protocol;
    switch (p.parser) {
        case ParserState::Idle:
            if (b == 'R' && HasDeviceRecord(p.identity.bios)) {
                p.recordIndex = 0;
                p.parser = ParserState::RecordLength;
            } else if (b == 'K') {
                p.identity = p.pending;
                p.identityRecordSeen = p.pendingRecordSeen;
                p.acknowledged = true;
                ++p.verdicts;
            } else if (b == 'N') {
                p.refused = true;
                ++p.verdicts;
            } else if (b == 'V') {
                p.pendingRecordSeen = true;
                p.pending.bios = 1;
                p.identityIndex = 0;
                p.record.complete = false;
            } else {
                switch (p.identityIndex) {
                    case 0:
                        p.pending.bios = b;
                        p.identityIndex = 1;
                        break;
                    case 1:
                        p.pending.chip = b;
                        p.identityIndex = 2;
                        break;
                    case 2:
                        p.pending.board = b;
                        p.identityIndex = 3;
                        break;
                    case 3:
                        p.pending.preparation = b;
                        p.identityIndex = 255;
                        break;
                    default:  // a legacy device: one chip byte, no version
                        p.pendingRecordSeen = false;
                        p.pending.bios = 0;
                        p.pending.chip = b;
                        break;
                }
            }
            break;
        case ParserState::RecordLength:
            p.recordLength = b;
            p.recordIndex = 0;
            p.parser = ParserState::RecordSkip;
            break;
        case ParserState::RecordSkip:
            p.parser = ParserState::RecordData;
            break;
        case ParserState::RecordData:
            if (p.recordIndex < p.recordLength) {
                const int i = p.recordIndex;
                if (i < 24) {
                    p.record.text[i] = static_cast<char>(b);
                    p.record.text[i + 1] = '\0';
                } else if (i == 24) {
                    p.record.skipStart = static_cast<std::uint16_t>((p.record.skipStart & 0xFF00u) | b);
                } else if (i == 25) {
                    p.record.skipStart = static_cast<std::uint16_t>((p.record.skipStart & 0x00FFu) | (b << 8));
                } else if (i == 26) {
                    p.record.skipLength = static_cast<std::uint16_t>((p.record.skipLength & 0xFF00u) | b);
                } else if (i == 27) {
                    p.record.skipLength = static_cast<std::uint16_t>((p.record.skipLength & 0x00FFu) | (b << 8));
                }
                ++p.recordIndex;
            } else if (b == 'K') {
                p.record.complete = true;
                p.parser = ParserState::Idle;
            }
            break;
    }
}

std::uint16_t ParseReplies() {
    const std::uint16_t n = ComPortReadOnce();
    for (std::uint16_t i = 0; i < n; ++i) ParseReplyByte(g_receiveBuffer[i]);
    return n;
}

std::int16_t WaitReply(int ms) {
    const int slices = ms / kSliceMs;
    SliceBeat beat;
    for (int i = 0; i < slices; ++i) {
        if (g_fastVerdicts) {
            FastSlice(beat);
            Pump();
        } else {
            beat.Sleep();  // one slice of PumpDelay: sleep, then dispatch events
            Pump();
            ParseReplies();
        }
        if (g_stopRequest.exchange(false)) return kReplyStop;
        g_protocol.verdictSlice = i + 1;
        if (g_protocol.acknowledged) {
            g_protocol.acknowledged = false;
            return kReplyAck;
        }
        if (g_protocol.refused) {
            g_protocol.refused = false;
            return kReplyNak;
        }
    }
    return kReplyTimeout;
}

std::uint8_t FrameChecksum(const std::uint8_t* bytes, int count) {
    std::uint8_t sum = 0;
    for (int i = 0; i < count; ++i) sum = static_cast<std::uint8_t>(sum + bytes[i]);
    return static_cast<std::uint8_t>(0x100 - sum);
}

namespace {

constexpr int kFrameWaitMs = 2000;
constexpr int kFrameWaitSlices = kFrameWaitMs / kSliceMs;

// The last frame counted as written, checksum included.
struct KeptFrame {
    std::uint8_t bytes[kFrameBufferSize + 8];
    int count = 0;  // 0: none
    bool repeatable = false;
};
KeptFrame g_lastFrame;
// Slices from the send to the verdict, for the last two frames written.
int g_turnaround[2] = {0, 0};

// One send and its wait. `clean`: the verdict is the frame's own beyond
// doubt, that is nothing was left from earlier waits and the wait's read held
// one verdict byte.
std::int16_t Exchange(const std::uint8_t* bytes, int count, bool* clean) {
    g_protocol.verdicts = 0;
    ParseReplies();  // whatever is still pending: it belongs to no frame sent now
    const bool leftover = g_protocol.verdicts != 0;
    g_protocol.acknowledged = false;
    g_protocol.refused = false;
    g_protocol.verdicts = 0;
    ComPortWrite(g_portIndex, bytes, static_cast<std::uint32_t>(count));
    const std::int16_t r = WaitReply(kFrameWaitMs);
    *clean = !leftover && g_protocol.verdicts == 1;
    return r;
}

void ShowResend(int attempt) {
    // The main updater window's status bar counts the resends.
    Display* d = CurrentDisplay();
    if (StatusBar* bar = d ? d->MainStatusBar() : nullptr) {
        char line[24];
        std::snprintf(line, sizeof line, text::kResendPattern, attempt);
        bar->SetPanelText(g_panels.message, line);
        bar->Repaint();
    }
}

}  // namespace

bool g_framesRepeatable = true;
bool g_verdictsInDoubt = false;
WireCounts g_wireCounts;

void ForgetLastFrame() {
    g_lastFrame.count = 0;
    g_turnaround[0] = g_turnaround[1] = 0;
    g_verdictsInDoubt = false;
}

std::int16_t SendFrame(std::uint8_t* buffer, int count) {
    buffer[count] = FrameChecksum(buffer, count);
    // Set when a verdict could have been the kept frame's: that frame goes
    // again first, and must draw a verdict of its own.
    bool previousFirst = false;
    bool sent = false;  // this frame has gone out once
    bool refused = false;
    for (int attempt = 0;; ++attempt) {
        bool clean = false;
        std::int16_t r;
        if (previousFirst) {
            if (!g_lastFrame.repeatable) return kRefused;
            ++g_wireCounts.resends;
            r = Exchange(g_lastFrame.bytes, g_lastFrame.count, &clean);
            if (r == kReplyNak) ++g_wireCounts.refusals;
            if (r == kReplyStop) return kStopped;
            if (r == kReplyTimeout) return kNoReply;
            if (r == kReplyAck && clean) previousFirst = false;
            if (!clean) g_verdictsInDoubt = true;
        }
        if (!previousFirst) {
            if (sent) ++g_wireCounts.resends;
            sent = true;
            r = Exchange(buffer, count + 1, &clean);
            if (r == kReplyStop) return kStopped;
            if (r == kReplyTimeout) return kNoReply;
            if (r == kReplyNak) {
                ++g_wireCounts.refusals;
                if (!refused) ++g_wireCounts.refusedFrames;
                refused = true;
            }
            if (r == kReplyAck && clean) {
                ++g_wireCounts.frames;
                std::memcpy(g_lastFrame.bytes, buffer, static_cast<std::size_t>(count + 1));
                g_lastFrame.count = count + 1;
                g_lastFrame.repeatable = g_framesRepeatable;
                g_turnaround[1] = g_turnaround[0];
                g_turnaround[0] = g_protocol.verdictSlice;
                return kOk;
            }
            // Refused, or a verdict that may not be this frame's: it is not
            // written. A second verdict may also be the late one of the frame
            // before, whose own verdict was then taken from another.
            if (!clean) g_verdictsInDoubt = true;
            if (g_verdictsInDoubt && g_lastFrame.count > 0) previousFirst = true;
        }
        ShowResend(attempt);
        if (attempt >= 4) return kRefused;
    }
}

std::int16_t ConfirmLastFrame() {
    if (g_verdictsInDoubt && g_lastFrame.count > 0) {
        const int count = g_lastFrame.count - 1;
        std::memcpy(g_frameBuffer, g_lastFrame.bytes, static_cast<std::size_t>(count));
        const std::int16_t r = SendFrame(g_frameBuffer, count);
        if (r != kOk) return r;
    }
    // A verdict that trails the one taken comes about one device turnaround
    // after it: listen twice the longer of the last two, at least 20 ms, but
    // no longer than the last frame's own wait had left.
    const int turnaround = g_turnaround[0] > g_turnaround[1] ? g_turnaround[0] : g_turnaround[1];
    int slices = 2 * turnaround;
    if (slices < 4) slices = 4;
    const int left = kFrameWaitSlices - g_turnaround[0];
    if (slices > left) slices = left;
    if (slices < 1) return kOk;
    g_protocol.acknowledged = false;
    g_protocol.refused = false;
    const std::int16_t r = WaitReply(slices * kSliceMs);
    if (r == kReplyStop) return kStopped;
    if (r != kReplyTimeout) return kRefused;
    return kOk;
}

int BuildCommandFrame(std::uint8_t command, const std::uint8_t* payload, std::uint8_t length,
                      std::uint8_t* out) {
    out[0] = command;
    out[1] = length;
    unsigned sum = static_cast<unsigned>(command) + length;
    for (int i = 0; i < length; ++i) {
        out[2 + i] = payload[i];
        sum += payload[i];
    }
    out[2 + length] = static_cast<std::uint8_t>((sum >> 8) & 0xFFu);
    out[3 + length] = static_cast<std::uint8_t>(sum & 0xFFu);
    return 4 + length;
}

void SendUnlockFrame() {
    std::uint8_t frame[4 + 15];
    const int n = BuildCommandFrame(0x00, reinterpret_cast<const std::uint8_t*>(kAccessString), 15, frame);
    ComPortWrite(g_portIndex, frame, static_cast<std::uint32_t>(n));
}

void SendCommand4() {
    std::uint8_t frame[4];
    const int n = BuildCommandFrame(0x04, nullptr, 0, frame);
    ComPortWrite(g_portIndex, frame, static_cast<std::uint32_t>(n));
}

const char* PassErrorText(std::int16_t code) {
    switch (code) {
        case kNoReply:
            return text::kNotResponse;
        case kStopped:
            return text::kUserAbort;
        case kRefused:
            return text::kChkError;
        case kIncompatible:
            return text::kIncompatibleBootloader;
        default:
            return nullptr;
    }
}

const char* ShowPassError(std::int16_t code) {
    const char* shown = PassErrorText(code);
    if (shown == nullptr) return nullptr;
    if (Display* d = CurrentDisplay()) d->ShowOutcome(shown, clRed, kOutcomeFailure);
    return shown;
}

void ClearIdentity() { g_protocol.identity = DeviceIdentity{}; }

void ResetReplyParser() {
    g_protocol.parser = ParserState::Idle;
    std::memset(g_protocol.record.text, 0, sizeof g_protocol.record.text);
    g_protocol.record.skipStart = 0;
    g_protocol.record.skipLength = 0;
}

}  // namespace pelmark
