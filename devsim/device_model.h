// The virtual device: a PIC serial bootloader as seen from its serial line.
//
// DeviceModel takes the bytes that arrive on the line, in pieces of any size,
// and returns the bytes the bootloader sends back. It does no I/O and keeps no
// clock: the line-silence rule (a partial frame followed by 100 ms of quiet is
// dropped) belongs to whoever owns the line and calls DropPartialFrame().
//
// What the bootloader understands, decided by the first byte at a frame
// boundary:
//   0xC2 0xC5 0xC6   search byte: identity reply ("V" record or legacy), then
//                    the "R" device record for versions 8 to 31 when one is
//                    configured
//   0xCC             entry byte: "K"
//   0x00 0x0F '7'..  unlock command frame (19 bytes): checked, never answered
//   0x04 n ...       command frame 4: checked, never answered
//   0x40 (PIC18)     EEPROM frame: 0x40 index value 0x01 0x00 checksum
//   address high     data frame: 3 address bytes, length (1 byte on PIC18,
//                    2 on PIC24), data, checksum; "K" or "N"
// Any other byte is ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "images/intel_hex.h"
#include "images/mask.h"

namespace pelmark::devsim {

enum class Family { Pic18, Pic24 };

// Memory layout of one chip code for one bootloader version.
struct ChipLayout {
    bool known = false;         // listed in the chip table
    Family family = Family::Pic18;
    std::uint32_t rowSize = 64;       // data bytes in one row
    std::uint32_t addressUnit = 1;    // bytes per address unit
    std::uint32_t addressLimit = 0;   // trailer row address (units); 0 = none
    std::uint32_t programBytes = 0x10000;  // size of program memory in bytes
};

ChipLayout LayoutFor(std::uint8_t chip, std::uint8_t bios);

constexpr std::size_t kEepromBytes = 1024;
constexpr std::uint32_t kEepromHexBase = 0xF00000;
constexpr char kAccessString[] = "7Qm2Rx9Lb4Tz6Wk";  // 15 characters

struct DeviceConfig {
    std::uint8_t chip = 0x48;
    std::uint8_t bios = 5;
    std::uint8_t board = 5;
    std::uint8_t preparation = 0x04;
    bool legacy = false;          // identity is the chip byte and "K" only
    bool hasRecord = false;       // send the "R" record (versions 8 to 31)
    std::string recordText;       // first 24 characters are sent
    std::uint16_t skipStart = 0;
    std::uint16_t skipLength = 0;
    bool answerC2 = true;
    bool answerC5 = true;
    bool answerC6 = true;
    bool plain = false;           // store data frames as received
    std::uint8_t maskBase = pelmark::kMaskBase;  // B of mask(a) = (B + (a & 0xFF)) & 0xFF
    // Faults on purpose. Data frames (program rows, trailer row, EEPROM frames)
    // are numbered from 1 as they arrive, resends included.
    std::uint32_t nakFrame = 0;     // frames nakFrame .. nakFrame + nakCount - 1 get "N"
    std::uint32_t nakCount = 1;
    std::uint32_t silentFrame = 0;  // from this frame on no data frame is answered
    std::uint32_t silentCount = 0;  // ... for that many frames; 0: for ever
    std::uint32_t slowFrame = 0;    // frames slowFrame .. slowFrame + slowCount - 1 are
    std::uint32_t slowCount = 1;    // answered slowMs late (whoever owns the line keeps
    std::uint32_t slowMs = 0;       // the time: see TakeReplyDelay)
    std::uint32_t vanishFrame = 0;  // at this frame the device disappears, unanswered
    bool refuseSearch = false;      // answer the search bytes it knows with "N"
    // Line noise: bytes sent before / after every reply. Never "K", "N" or "R":
    // no updater can tell those from replies.
    std::uint32_t garbageBefore = 0;
    std::uint32_t garbageAfter = 0;
    // Verdicts that belong to no frame: the entry byte's "K" leaves
    // lateEntryMs late (replies after it queue behind it); the replies of data
    // frames strayFrame .. strayFrame + strayCount - 1 carry strayBefore
    // before them and strayAfter after them ("K", "N" or any bytes), the
    // latter strayMs after the reply when that is not 0 (see TakeStray).
    std::uint32_t lateEntryMs = 0;
    std::uint32_t strayFrame = 0;
    std::uint32_t strayCount = 1;
    std::string strayBefore;
    std::string strayAfter;
    std::uint32_t strayMs = 0;
    // The "R" record as sent: its length byte, and how many data bytes follow
    // it. Fewer than the length: the record breaks off there, without its
    // closing "K". More: filler bytes (0) follow the declared data, then "K".
    std::uint8_t recordLength = 28;
    std::optional<std::uint32_t> recordBytes;  // default: recordLength
};

enum class FrameKind { Search, Entry, Unlock, Command4, Program, Trailer, Eeprom, Junk, Partial };

// How a frame was judged. Reply: the identity went out; Accept/Refuse: "K" or
// "N" went out; Ok/Bad: a command frame that gets no answer either way;
// Silent: a data frame left unanswered (and unstored) on purpose.
enum class Verdict { Reply, Accept, Refuse, Ok, Bad, Ignored, Dropped, Silent };

const char* KindName(FrameKind kind);
const char* VerdictName(Verdict verdict);

// One line of the device's log: what arrived and what the device made of it.
struct FrameEvent {
    FrameKind kind = FrameKind::Junk;
    std::uint32_t address = 0;  // data: frame address (units); EEPROM: byte
                                // index; single bytes: their value
    std::uint32_t length = 0;   // data bytes (as declared); partial: bytes held
    Verdict verdict = Verdict::Ignored;
    std::string note;           // reason for a refusal, "V+R", ...
};

// "program 000040 64 K", "program 000080 2 N checksum".
std::string FormatEvent(const FrameEvent& event);

// Every byte the device holds that a frame has written: program memory at its
// byte address, EEPROM at kEepromHexBase + index.
using WrittenMemory = pelmark::hex::Memory;

class DeviceModel {
public:
    explicit DeviceModel(const DeviceConfig& config);

    // Feeds bytes received from the line; returns the reply bytes, in order.
    std::vector<std::uint8_t> Feed(const std::uint8_t* data, std::size_t count);
    std::vector<std::uint8_t> Feed(const std::vector<std::uint8_t>& bytes) {
        return Feed(bytes.data(), bytes.size());
    }

    // True while part of a frame has been received.
    bool InFrame() const { return !frame_.empty(); }
    // Drops a partial frame (the line went quiet); true when one was dropped.
    bool DropPartialFrame();

    // Events since the last call, oldest first.
    std::vector<FrameEvent> TakeEvents();

    const DeviceConfig& config() const { return config_; }
    const ChipLayout& layout() const { return layout_; }

    // Program memory by byte address (0xFF where nothing was written).
    std::uint8_t ProgramByte(std::uint32_t byteAddress) const;
    bool ProgramWritten(std::uint32_t byteAddress) const;
    std::uint8_t EepromByte(std::size_t index) const;
    bool EepromWritten(std::size_t index) const;
    WrittenMemory Written() const;

    // Ends every injected fault: from now on the device behaves.
    void EndFaults() { faultsEnded_ = true; }
    bool FaultsEnded() const { return faultsEnded_; }
    // How long the replies of the last Feed must be held back (a slow frame
    // was among its frames), in milliseconds; 0 for at once. Resets to 0.
    std::uint32_t TakeReplyDelay();
    // Stray bytes of the last Feed that leave after its replies, and how many
    // milliseconds after them (strayMs); `bytes` is left empty when there are
    // none. Resets.
    std::uint32_t TakeStray(std::vector<std::uint8_t>& bytes);
    // True once the vanish frame has arrived: the device is gone.
    bool Vanished() const { return vanished_; }

    // Counts of accepted frames, for the program's --once rule and summaries.
    std::uint32_t acceptedDataFrames() const { return acceptedData_; }
    std::uint32_t trailerRows() const { return trailerRows_; }
    std::uint32_t eepromFrames() const { return eepromFrames_; }

private:
    enum class Pending { None, Command, Unlock, Eeprom, Data };
    enum class Injection { None, Refuse, Silent, Vanish };

    void ByteAtBoundary(std::uint8_t b, std::vector<std::uint8_t>& out);
    void ByteInFrame(std::uint8_t b, std::vector<std::uint8_t>& out);
    void FinishCommand4();
    void FinishUnlock();
    void FinishEeprom(std::vector<std::uint8_t>& out);
    void FinishData(std::vector<std::uint8_t>& out);
    void SendIdentity(std::uint8_t searchByte, std::vector<std::uint8_t>& out);
    void Reply(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& bytes);
    void AppendNoise(std::vector<std::uint8_t>& out, std::uint32_t count);
    void Log(FrameKind kind, std::uint32_t address, std::uint32_t length, Verdict verdict,
             std::string note = {});
    std::size_t DataHeaderLength() const;
    std::uint32_t DeclaredLength() const;
    std::uint32_t FrameAddress() const;
    void ResetEepromPaging();
    Injection CountDataFrame();
    void EndFrame();

    DeviceConfig config_;
    ChipLayout layout_;
    std::uint8_t maxAddressHigh_ = 0;

    std::vector<std::uint8_t> program_;
    std::vector<bool> programWritten_;
    std::vector<std::uint8_t> eeprom_;
    std::vector<bool> eepromWritten_;

    std::vector<std::uint8_t> frame_;
    Pending pending_ = Pending::None;
    std::size_t expected_ = 0;  // frame length once known; 0 while unknown

    std::optional<std::uint8_t> lastEepromIndex_;
    std::uint32_t eepromPage_ = 0;

    bool faultsEnded_ = false;
    bool vanished_ = false;
    std::uint32_t replyDelay_ = 0;
    bool strayNow_ = false;  // the reply being made gets the stray bytes
    std::vector<std::uint8_t> strayHeld_;
    std::uint32_t noiseState_ = 0x2545F491u;

    std::uint32_t dataFramesSeen_ = 0;
    std::uint32_t acceptedData_ = 0;
    std::uint32_t trailerRows_ = 0;
    std::uint32_t eepromFrames_ = 0;

    std::vector<FrameEvent> events_;
};

}  // namespace pelmark::devsim
