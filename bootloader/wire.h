// Frames, replies and waits: everything the engine sends to the bootloader
// and the one parser for everything it sends back.
#pragma once

#include <atomic>
#include <cstdint>

namespace pelmark {

struct DeviceIdentity {
    std::uint8_t chip = 0;
    std::uint8_t bios = 0;  // bootloader version
    std::uint8_t board = 0;
    std::uint8_t preparation = 0;
};

// Bootloaders 8 to 31 follow their identity with a device record (text and
// the span the transfer skips).
constexpr bool HasDeviceRecord(std::uint8_t bios) { return bios >= 8 && bios <= 31; }

struct DeviceRecord {
    char text[25] = {};  // up to 24 characters, always terminated
    std::uint16_t skipStart = 0;
    std::uint16_t skipLength = 0;
    bool complete = false;
};

enum class ParserState : std::uint8_t { Idle, RecordLength, RecordSkip, RecordData };

struct ProtocolState {
    bool acknowledged = false;
    bool refused = false;
    DeviceIdentity identity;  // committed
    DeviceIdentity pending;
    // Whether the committed identity came in a "V" record. Committed with the
    // identity at "K": a stray byte after the identity (line noise) changes
    // only the pending copy, never what the pass reads.
    bool identityRecordSeen = false;
    bool pendingRecordSeen = false;
    std::uint8_t identityIndex = 255;
    DeviceRecord record;
    ParserState parser = ParserState::Idle;
    std::uint8_t recordLength = 0;
    std::int16_t recordIndex = 0;
    // Verdict bytes ("K" or "N" outside a record) parsed since the sender
    // last set this to 0: a frame's verdict is its own only when it is the
    // one verdict of its wait.
    std::uint16_t verdicts = 0;
    // Slices of the last wait up to the one that ended it (its verdict's).
    int verdictSlice = 0;
};

extern ProtocolState g_protocol;

// Set by the stop controls (and by a console's interrupt handler); read and
// cleared only by WaitReply.
extern std::atomic<bool> g_stopRequest;

constexpr int kFrameBufferSize = 300;
extern std::uint8_t g_frameBuffer[kFrameBufferSize + 8];

// What the frames of the current update came to, since the search began:
// frames counted as written, frames sent again (a refusal, an ambiguous
// verdict, the frame before sent once more), and "N" verdicts taken.
struct WireCounts {
    std::uint32_t frames = 0;
    std::uint32_t resends = 0;
    std::uint32_t refusals = 0;
    std::uint32_t refusedFrames = 0;  // frames that drew at least one "N"
};
extern WireCounts g_wireCounts;

// Result codes of the wire layer.
constexpr std::int16_t kOk = 0;
constexpr std::int16_t kNoReply = -1;
constexpr std::int16_t kStopped = -2;
constexpr std::int16_t kRefused = -3;
constexpr std::int16_t kIncompatible = -4;

// Results of WaitReply.
constexpr std::int16_t kReplyAck = 1;
constexpr std::int16_t kReplyNak = -1;
constexpr std::int16_t kReplyStop = -2;
constexpr std::int16_t kReplyTimeout = 0;

constexpr char kAccessString[] = "7Qm2Rx9Lb4Tz6Wk";

// The engine's sleep; tests may replace it (nullptr restores the real one).
using SleepFunction = void (*)(int ms);
void SetSleepFunction(SleepFunction fn);
void SleepMs(int ms);

// Fast mode (off by default): WaitReply takes a verdict as soon as it
// arrives instead of at the end of the slice it arrived in. The slices, the
// time-outs, the stop request and the event pumping stay as they are.
void SetFastVerdicts(bool fast);
bool FastVerdicts();

void PumpDelay(int ms);
std::uint16_t ParseReplies();
void ParseReplyByte(std::uint8_t b);
std::int16_t WaitReply(int ms);
std::uint8_t FrameChecksum(const std::uint8_t* bytes, int count);
std::int16_t SendFrame(std::uint8_t* buffer, int count);
// SendFrame keeps a copy of the last frame it counted as written, so that a
// verdict found to be ambiguous at the next frame (a second verdict in one
// wait, or one already waiting before the send) sends that frame again as
// well. Program and trailer rows are written by address and may be sent again
// at any time; EEPROM frames may not (the device counts their page from the
// order of the index bytes), so an ambiguous verdict right after an EEPROM
// frame ends the transfer as refused. Set before the frames it describes.
extern bool g_framesRepeatable;
// Forgets the kept frame and any doubt (a new pass begins).
void ForgetLastFrame();
// Set when a verdict of this pass was in doubt: the entry byte drew none
// within its wait (it may still come, and be taken for a frame's), or a frame
// drew an ambiguous one. While it is set, a refusal may be the late verdict
// of the frame before, so that frame goes again too.
extern bool g_verdictsInDoubt;
// After the last frame of a pass. When the verdicts were in doubt, the kept
// last frame goes once more and must be accepted, since the verdict taken for
// it may have been the frame before's. Then it listens a few slices more,
// out of what is left of that frame's 2000 ms wait, for a verdict that belongs
// to no frame (then some verdict of the pass was taken for another frame's).
// kOk when the line stayed quiet; kRefused when a verdict came; SendFrame's
// codes for the frame sent again; kStopped on a stop request.
std::int16_t ConfirmLastFrame();
void SendUnlockFrame();
void SendCommand4();
// The outcome text of a wire failure code (kNoReply, kStopped, kRefused,
// kIncompatible); nullptr for any other code.
const char* PassErrorText(std::int16_t code);
// Shows that text as the failure outcome; returns it (nullptr: nothing shown).
const char* ShowPassError(std::int16_t code);
void ClearIdentity();
// Parser to Idle, device record emptied (search start).
void ResetReplyParser();

// Builds a command frame (code, length, payload, 16-bit sum high first) into
// out; returns its length.
int BuildCommandFrame(std::uint8_t command, const std::uint8_t* payload, std::uint8_t length,
                      std::uint8_t* out);

}  // namespace pelmark
