// What the desktop program knows about a running update: whether a front
// end's click handler is inside the engine, and a port chosen meanwhile.
#pragma once

#include <cstdint>

namespace pelmark {

// True while a click handler of a front end runs the device search and the
// programming pass. Nested clicks are refused while it is set.
bool UpdateBusy();

// Marks the front end busy for its lifetime (one click handler).
class BusyScope {
public:
    BusyScope();
    ~BusyScope();
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
};

// A port chosen in the port dialog while an update runs is not switched under
// the running engine: it is kept here and made the selected port (and opened)
// when the update has ended.
void SetPendingPort(std::int16_t portIndex);
bool HasPendingPort();
std::int16_t PendingPort();
// Makes a pending port the selected one (port index, then ComPortOpen);
// returns true when there was one.
bool ApplyPendingPort();
void ClearPendingPort();

// The port name as the port panel shows it: "COM%d" or "-----".
void FormatPortName(std::int16_t portIndex, char* text, int size);

}  // namespace pelmark
