// The programming engine: device search and the programming pass, with the
// target rules and the flash transfer they run.
#pragma once

#include <cstdint>

#include "bootloader/wire.h"
#include "images/image_table.h"

namespace pelmark {

class ProgressBar;
class StatusBar;

// Search results.
constexpr std::int16_t kSearchFound = 0;
constexpr std::int16_t kSearchPortUnusable = -1;
constexpr std::int16_t kSearchNotFound = -2;
constexpr std::int16_t kSearchStopped = -3;

// Set by the Loader window when its tag asks for the alternate search byte.
extern bool g_alternateSearch;
// Set by the Upgrade window when its tag asks for several images in a row.
extern bool g_multiImage;

std::int16_t SearchDevice(ProgressBar& progress, StatusBar& status);

// One search byte on the port the last search opened, and `ms` of listening,
// without showing anything: whether any byte came back. For a station that
// waits until the board it updated is taken off the fixture.
// NoPort: the port is not open, or the byte could not be written (the
// device is gone).
enum class Probe : std::uint8_t { Answered, Silent, NoPort, Stopped };
Probe ProbeDevice(int ms);
int PrgMode(ProgressBar& progress, StatusBar& status);

// How the last search and the last pass ended, for any front end to read
// (the console's exit status comes from here, not from the texts shown).
enum class EndKind : std::uint8_t {
    None,     // not run since program start (or since ResetEngineState)
    Success,  // the search found the device; the pass wrote the image whole
    Failed,   // the failure text was shown; `code` says which failure
    Stopped,  // the stop request ended it (" User Abort !! ")
    Skipped,  // a multi-image pass that wrote nothing: the device restarts
};
struct EngineEnd {
    EndKind kind = EndKind::None;
    std::int16_t code = 0;       // the function's result or failure code
    const char* text = nullptr;  // the outcome text shown, from shell/texts.h; nullptr for none
};
extern EngineEnd g_searchEnd;  // set by SearchDevice before it returns
extern EngineEnd g_passEnd;    // set by PrgMode before it returns

// The pass's own failure codes (besides the wire layer's kNoReply, kStopped,
// kRefused and kIncompatible).
constexpr std::int16_t kUnknownChip = -5;  // the chip code is none the engine knows
constexpr std::int16_t kImageTooBig = -6;  // the image does not fit the chip
constexpr std::int16_t kNoImage = -7;      // the build carries no image for the chip
constexpr std::int16_t kUnsuitable = -8;   // the image's board or preparation does not match

// What the pass knows about the chip and image it works on.
struct PassState {
    ImageTableEntry image{};  // current image
    std::int8_t slot = 0;
    int row = -1;  // the image table row it came from (-1: none chosen yet)
    int rowSize = 64;
    int addressUnit = 1;
    std::uint32_t addressLimit = 0;
    std::int32_t transferLength = 0;
    std::uint8_t resetVector[8] = {0x80, 0xEF, 0x3F, 0xF0, 0, 0, 0, 0};
    int resetVectorCount = 8;
    bool k80 = false;
    std::uint16_t skipStart = 0;
    std::uint16_t skipLength = 0;
};
extern PassState g_pass;

// Target identification and suitability. On a failure they fill *end (when
// given) with the failure: its code (kUnknownChip, kImageTooBig, kNoImage,
// kUnsuitable) and the outcome text shown.
std::int8_t SelectImage(std::uint8_t chip, std::uint8_t board);
bool IdentifyTarget(StatusBar& status, EngineEnd* end = nullptr);
void ReadImageCodes();
bool CheckSuitability(StatusBar& status, EngineEnd* end = nullptr);
// Each returns the outcome text shown (nullptr where the front end shows none).
const char* ShowNoImage(StatusBar& status);
const char* ShowImageTooBig(StatusBar& status);

// Writes the connected device's identity into the front end showing.
void ShowIdentity();

// Flash transfer.
std::int16_t TransferProgram(ProgressBar& progress, StatusBar& status);
std::int16_t WriteTrailerRow(StatusBar& status);
std::int16_t WriteEeprom(ProgressBar& progress, StatusBar& status);

// Everything the engine keeps between passes back to program start, the
// status-bar panel positions included (tests). The sleep function stays as
// it is: a test sets its own around the reset.
void ResetEngineState();

}  // namespace pelmark
