// Port discovery: one pair (port name "COMn", friendly name) per call.
#pragma once

#include <cstdint>

namespace pelmark {

using DeviceSet = std::intptr_t;
constexpr DeviceSet kNoDeviceSet = -1;  // INVALID_HANDLE_VALUE

constexpr int kPortNameArea = 7;        // at most 6 characters and the terminator
constexpr int kFriendlyNameArea = 300;  // discovery's own area
constexpr int kCallerNameBuffer = 200;  // what callers hand in for each name

DeviceSet PortEnumBegin();
// 1: a port was delivered; 0: no more ports; -1: no device set or no place
// for the port name. portName must hold kCallerNameBuffer bytes, friendlyName
// (may be null) likewise.
int PortEnumNext(DeviceSet set, char* portName, char* friendlyName);
int PortEnumEnd(DeviceSet set);

}  // namespace pelmark
