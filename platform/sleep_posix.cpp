#include "platform/sleep.h"

#include <cerrno>
#include <ctime>

namespace pelmark::platform {

void PreciseSleep(int ms) {
    if (ms <= 0) return;
    // An absolute deadline on the monotonic clock: a 5 ms slice is 5 ms, and
    // an interrupted sleep resumes instead of returning early.
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += ms / 1000;
    deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

}  // namespace pelmark::platform
