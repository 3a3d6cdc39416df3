// The engine's 5 ms slices on Windows: never shorter than asked, and not
// stretched to the default 15.6 ms timer tick.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/sleep.h"

#include <windows.h>

namespace pelmark {
namespace {

double Milliseconds(LONGLONG ticks) {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return 1000.0 * static_cast<double>(ticks) / static_cast<double>(f.QuadPart);
}

TEST(PreciseSleep, SlicesLastWhatTheyAsk) {
    for (int ms : {1, 5, 20}) {
        std::vector<double> took;
        for (int i = 0; i < 15; ++i) {
            LARGE_INTEGER a, b;
            QueryPerformanceCounter(&a);
            platform::PreciseSleep(ms);
            QueryPerformanceCounter(&b);
            took.push_back(Milliseconds(b.QuadPart - a.QuadPart));
        }
        std::sort(took.begin(), took.end());
        EXPECT_GE(took.front(), ms) << "a " << ms << " ms pause returned early";
        // The median: one slow slice on a busy machine says nothing.
        EXPECT_LT(took[took.size() / 2], ms + 5.0) << "a " << ms << " ms pause takes a timer tick or more";
    }
}

TEST(PreciseSleep, NothingForZeroOrLess) {
    LARGE_INTEGER a, b;
    QueryPerformanceCounter(&a);
    platform::PreciseSleep(0);
    platform::PreciseSleep(-5);
    QueryPerformanceCounter(&b);
    EXPECT_LT(Milliseconds(b.QuadPart - a.QuadPart), 1.0);
}

}  // namespace
}  // namespace pelmark
