// Sleeping to a deadline rather than for a span: the engine's waits keep a
// beat of 5 ms slices from the moment they start, so a wake-up that comes late
// does not push every later slice back.
#pragma once

#include <chrono>

namespace pelmark::platform {

// Sleeps until `deadline` on the steady clock, and not much longer; an
// interrupted sleep resumes. Returns at once when the deadline has passed.
void SleepUntil(std::chrono::steady_clock::time_point deadline);

}  // namespace pelmark::platform
