// The engine's waits on the real clock: a wait of n slices lasts n x 5 ms,
// however late the system wakes the thread for each slice.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "bootloader/engine.h"
#include "serial/port_link.h"
#include "shell/display.h"

namespace pelmark::test {
namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

class WaitBeat : public ::testing::Test {
protected:
    void SetUp() override {
        ResetEngineState();
        SetSleepFunction(nullptr);  // the real sleep
        SetDisplay(nullptr);
        ComPortCloseAll();  // nothing to read: every wait runs to its end
    }
};

// 200 slices that each ran a little long would add up to tens of
// milliseconds; kept to a beat, only the last wake-up's lateness shows. The
// shortest of three runs keeps another process's burst out of the figure.
TEST_F(WaitBeat, ManySlicesLastTheirLengthAndNoLess) {
    struct Case {
        const char* what;
        int ms;
        double lateness;  // the last wake-up's, at most
        void (*wait)(int);
    };
    // Drifting by as little as 0.05 ms a slice, 200 slices would take 10 ms
    // more.
    const Case cases[] = {
        {"WaitReply(1000)", 1000, 8.0, [](int ms) { EXPECT_EQ(WaitReply(ms), kReplyTimeout); }},
        {"PumpDelay(1000)", 1000, 8.0, [](int ms) { PumpDelay(ms); }},
        {"PumpDelay(7), rounded up to two slices", 10, 4.0, [](int) { PumpDelay(7); }},
    };
    for (const Case& c : cases) {
        double shortest = 1e9;
        for (int run = 0; run < 3; ++run) {
            const Clock::time_point start = Clock::now();
            c.wait(c.ms);
            shortest = std::min(shortest, Milliseconds(Clock::now() - start));
        }
        EXPECT_GE(shortest, c.ms) << c.what;
        EXPECT_LT(shortest, c.ms + c.lateness) << c.what << ": the slices drift";
    }
}

}  // namespace
}  // namespace pelmark::test
