// Windows wakes sleeping threads on its timer tick, 15.6 ms unless a program
// asks for more. The engine polls the port every 5 ms, so the process asks
// for 1 ms ticks once, at its first pause, and keeps them until it ends (the
// system drops the request with the process). Each pause then sleeps in whole
// milliseconds towards a deadline on the performance counter, so it is never
// shorter than asked and at most about a tick longer.
#include "platform/sleep.h"

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>

namespace pelmark::platform {

namespace {

struct FineTimer {
    FineTimer() { timeBeginPeriod(1); }
};

std::int64_t Now() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

std::int64_t Frequency() {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f.QuadPart;
}

}  // namespace

void PreciseSleep(int ms) {
    if (ms <= 0) return;
    static const FineTimer fineTimer;
    static const std::int64_t frequency = Frequency();
    const std::int64_t deadline = Now() + frequency * ms / 1000;
    for (;;) {
        const std::int64_t left = deadline - Now();
        if (left <= 0) return;
        // Round up: Sleep(0) would only yield and spin the processor.
        const std::int64_t leftMs = (left * 1000 + frequency - 1) / frequency;
        Sleep(static_cast<DWORD>(leftMs));
    }
}

}  // namespace pelmark::platform
