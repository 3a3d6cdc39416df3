// The engine's one way to pause: 5 ms slices between polls of the port must
// last 5 ms, not a scheduler tick (15.6 ms on Windows by default).
#pragma once

namespace pelmark::platform {

// Sleeps at least `ms` milliseconds on a monotonic clock, and not much more;
// an interrupted sleep resumes. Nothing happens for ms <= 0.
void PreciseSleep(int ms);

}  // namespace pelmark::platform
