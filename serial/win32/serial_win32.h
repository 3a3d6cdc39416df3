// The Windows serial backend: a COM port opened with CreateFileA on
// "\\.\COMn", synchronous and non-overlapped, configured through the
// device-control block and the time-out block. Exposed here for its tests:
// how the link's line state maps onto the device-control block.
#pragma once

#include <windows.h>

#include "serial/backend.h"

namespace pelmark::serial::win32 {

static_assert(sizeof(DCB) == 28, "the device-control block is 28 bytes long");
static_assert(sizeof(DCB) <= sizeof(LineState::native), "a DCB must fit the native area");

// The line state of a device-control block, the block itself kept in `native`.
LineState FromDcb(const DCB& dcb);

// The block to hand to SetCommState: the one kept in `state.native` (else
// `current`, what the port has now) with every field the link names set from
// `state`; everything else stays as it was.
DCB ToDcb(const LineState& state, const DCB& current);

// "\\.\COM<portIndex+1>"; empty for a negative index.
std::string DevicePath(int portIndex);

// The cause of a failed CreateFileA, from its error code.
OpenError OpenErrorFor(DWORD error);

// Whether a WriteFile finished the write: accepted, and every byte of
// `count` written. A write that ran into its time-out is accepted with fewer
// bytes written; that is a failed write.
bool WriteCompleted(BOOL accepted, DWORD written, DWORD count);

// The system's text for an error code, without the trailing full stop and
// line break.
std::string SystemMessage(DWORD error);

}  // namespace pelmark::serial::win32
