#include <cstdio>
#include <cstring>

#include "bootloader/engine.h"
#include "images/mask.h"
#include "shell/display.h"
#include "shell/panels.h"
#include "shell/texts.h"

namespace pelmark {

namespace {

// Address bytes and the length field of a data frame; returns the header
// length (4 with a one-byte length, 5 with a two-byte one).
int WriteHeader(std::uint8_t* frame, std::uint32_t address, int rowSize) {
    frame[0] = static_cast<std::uint8_t>((address >> 16) & 0xFFu);
    frame[1] = static_cast<std::uint8_t>((address >> 8) & 0xFFu);
    frame[2] = static_cast<std::uint8_t>(address & 0xFFu);
    if (rowSize <= 255) {
        frame[3] = static_cast<std::uint8_t>(rowSize);
        return 4;
    }
    frame[3] = static_cast<std::uint8_t>((rowSize >> 8) & 0xFF);
    frame[4] = static_cast<std::uint8_t>(rowSize & 0xFF);
    return 5;
}

}  // namespace

std::int16_t TransferProgram(ProgressBar& progress, StatusBar& status) {
    PassState& p = g_pass;
    ImageTableEntry& img = p.image;
    const bool masked = img.plain == 0;
    g_framesRepeatable = true;

    // The jump to the bootloader replaces the image's own reset vector; the
    // change stays in the image held in memory.
    const int patch = p.resetVectorCount < img.programLength ? p.resetVectorCount : img.programLength;
    for (int i = 0; i < patch; ++i)
        img.program[i] = masked ? static_cast<std::uint8_t>(p.resetVector[i] ^ Mask(0)) : p.resetVector[i];

    const bool mainWindow = ShowingFrontEnd() == FrontEnd::Main;
    std::uint8_t* frame = g_frameBuffer;
    const std::int32_t total = p.transferLength;
    progress.SetPosition(0);
    progress.SetMax(total / p.addressUnit);

    std::int32_t o = 0;
    int k = 0;
    int h = 0;
    std::uint32_t rowAddress = 0;
    while (o < total) {
        if (k == 0) {
            rowAddress = static_cast<std::uint32_t>(o / p.addressUnit);
            if (mainWindow) {
                char line[40];
                std::snprintf(line, sizeof line, text::kProgramRowPattern, static_cast<int>(rowAddress),
                              static_cast<unsigned>(rowAddress));
                status.SetPanelText(g_panels.message, line);
            }
            std::memset(frame, 0xFF, kFrameBufferSize);
            k = WriteHeader(frame, rowAddress, p.rowSize);
            h = k - 1;
        }
        if (k <= p.rowSize + h) {
            frame[k++] = img.program[o++];
            continue;
        }
        // The row is full and more data follows.
        const std::uint32_t next = static_cast<std::uint32_t>(o / p.addressUnit);
        progress.SetPosition(static_cast<int>(next));
        const bool skipped = p.skipStart != 0 && p.skipStart <= next &&
                             next <= static_cast<std::uint32_t>(p.skipStart) + p.skipLength;
        if (!skipped) {
            // A row that is refused five times, stopped, or never answered
            // ends the transfer: a row that did not arrive must not end in
            // success.
            const std::int16_t r = SendFrame(frame, k);
            if (r != kOk) return r;
        }
        k = 0;
    }

    if (k > 0) {
        if (p.rowSize > 255) {
            const int n = k - 5;
            frame[3] = static_cast<std::uint8_t>((n >> 8) & 0xFF);
            frame[4] = static_cast<std::uint8_t>(n & 0xFF);
        } else if (p.k80) {
            const std::uint8_t fill = static_cast<std::uint8_t>(0xFF ^ Mask(rowAddress));
            while (k <= p.rowSize + h) frame[k++] = fill;
        } else {
            frame[3] = static_cast<std::uint8_t>(k - 4);
        }
        const std::int16_t r = SendFrame(frame, k);
        if (r < 0) return r;
    }
    return kOk;
}

std::int16_t WriteTrailerRow(StatusBar& status) {
    PassState& p = g_pass;
    const ImageTableEntry& img = p.image;
    const bool masked = img.plain == 0;
    if (ShowingFrontEnd() != FrontEnd::Loader) status.SetPanelText(g_panels.message, text::kFixProgram);
    g_framesRepeatable = true;

    const std::uint8_t mask = masked ? Mask(p.addressLimit) : 0;
    std::uint8_t* frame = g_frameBuffer;
    std::memset(frame, 0xFF ^ mask, kFrameBufferSize);
    const int g = WriteHeader(frame, p.addressLimit, p.rowSize);
    // The trailer ends the row; a trailer longer than a row keeps its end.
    const int count = img.trailerCount;
    const int first = count > p.rowSize ? count - p.rowSize : 0;
    for (int j = first; j < count; ++j)
        frame[g + p.rowSize - count + j] = static_cast<std::uint8_t>(img.trailer[j] ^ mask);
    const std::int16_t r = SendFrame(frame, g + p.rowSize);
    return r < 0 ? r : kOk;
}

std::int16_t WriteEeprom(ProgressBar& progress, StatusBar& status) {
    const ImageTableEntry& img = g_pass.image;
    const bool showText = ShowingFrontEnd() != FrontEnd::Loader;
    progress.SetPosition(0);
    progress.SetMax(img.eepromCount);
    g_framesRepeatable = false;  // the device pages EEPROM frames by their order
    std::uint8_t* frame = g_frameBuffer;
    for (std::int32_t i = 0; i < img.eepromCount; ++i) {
        if (showText) {
            char line[32];
            std::snprintf(line, sizeof line, text::kProgramEepPattern, i);
            status.SetPanelText(g_panels.message, line);
        }
        std::memset(frame, 0xFF, kFrameBufferSize);
        frame[0] = 0x40;
        frame[1] = static_cast<std::uint8_t>(i & 0xFF);
        frame[2] = img.eeprom[i];
        frame[3] = 0x01;
        frame[4] = 0x00;
        const std::int16_t r = SendFrame(frame, 5);
        if (r < 0) return r;
        progress.SetPosition(i);
    }
    return kOk;
}

}  // namespace pelmark
