#include <cerrno>
#include <chrono>
#include <ctime>

#include "platform/sleep_until.h"

namespace pelmark::platform {

// The steady clock is CLOCK_MONOTONIC here, so the deadline is slept to as an
// absolute time: no span is computed, none is lost between the clock's
// reading and the sleep.
void SleepUntil(std::chrono::steady_clock::time_point deadline) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.time_since_epoch()).count();
    if (ns <= 0) return;
    timespec at{};
    at.tv_sec = static_cast<time_t>(ns / 1000000000);
    at.tv_nsec = static_cast<long>(ns % 1000000000);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
}

}  // namespace pelmark::platform
