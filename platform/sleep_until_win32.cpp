// Windows wakes sleeping threads on its timer tick; the process asks for 1 ms
// ticks once, at its first sleep (as PreciseSleep does), and sleeps in whole
// milliseconds until the deadline has passed.
#include <windows.h>
#include <mmsystem.h>

#include <chrono>

#include "platform/sleep_until.h"

namespace pelmark::platform {

namespace {

struct FineTimer {
    FineTimer() { timeBeginPeriod(1); }
};

}  // namespace

void SleepUntil(std::chrono::steady_clock::time_point deadline) {
    static const FineTimer fineTimer;
    for (;;) {
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) return;
        // Round up: Sleep(0) would only yield and spin the processor.
        const auto leftMs = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        Sleep(static_cast<DWORD>(leftMs));
    }
}

}  // namespace pelmark::platform
