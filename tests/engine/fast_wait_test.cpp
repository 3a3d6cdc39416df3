// Fast mode: WaitReply takes a verdict as soon as the port has it instead of
// at the end of its slice; slices, time-outs, the stop request and the event
// pumping stay. And the hook the console front end hangs its latency hint on.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "fakes.h"

namespace pelmark::test {
namespace {

// A port whose backend can be watched: readable while bytes are pending.
class WatchedPort : public FakeBackend {
public:
    int watches = 0;
    bool WaitReadable(serial::Handle, std::chrono::steady_clock::time_point) override {
        ++watches;
        return !pending.empty();
    }
};

class FastWait : public ::testing::Test, public EngineFixture {
protected:
    WatchedPort watched;

    // Puts COM1 on `port` instead of the fixture's plain fake.
    void Use(FakeBackend& port) {
        ComPortCloseAll();
        serial::SetBackend(&port);
        g_openPortIndex = -1;
        ComPortOpen();
    }
};

TEST_F(FastWait, VerdictIsTakenAtOnceWhileSlicesTimeOutsAndStopStay) {
    struct Case {
        const char* what;
        bool fast;
        bool watchable;
        std::vector<std::uint8_t> pending;
        bool stop;
        int ms;
        std::int16_t result;
        int sleeps;
        int pumps;
    };
    const Case cases[] = {
        {"default mode: the verdict waits for the slice's end", false, true, {'K'}, false, 2000, kReplyAck, 1, 1},
        {"fast: \"K\" at once, events still pumped", true, true, {'K'}, false, 2000, kReplyAck, 0, 1},
        {"fast: \"N\" at once", true, true, {'N'}, false, 2000, kReplyNak, 0, 1},
        {"fast: \"K\" and \"N\" in one read", true, true, {'N', 'K'}, false, 2000, kReplyAck, 0, 1},
        {"fast: the stop request still comes first", true, true, {'K'}, true, 2000, kReplyStop, 0, 1},
        {"fast: silence times out after all its slices", true, true, {}, false, 100, kReplyTimeout, 20, 20},
        {"fast: bytes without a verdict do not end the slice", true, true, {0x33, 0x34}, false, 10, kReplyTimeout, 2,
         2},
        {"fast on a port that cannot be watched: slept on", true, false, {'K'}, false, 2000, kReplyAck, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WatchedPort port;
        FakeBackend plain;
        FakeBackend& chosen = c.watchable ? static_cast<FakeBackend&>(port) : plain;
        Use(chosen);
        SetFastVerdicts(c.fast);
        chosen.pending.assign(c.pending.begin(), c.pending.end());
        g_protocol.acknowledged = g_protocol.refused = false;
        g_stopRequest = c.stop;
        g_sleeps = 0;
        display.pumps = 0;
        EXPECT_EQ(WaitReply(c.ms), c.result);
        EXPECT_EQ(g_sleeps, c.sleeps) << "slices slept out";
        EXPECT_EQ(display.pumps, c.pumps) << "events pumped once a slice";
        EXPECT_FALSE(g_stopRequest.load());
        if (c.watchable) {
            EXPECT_EQ(port.watches > 0, c.fast) << "only fast mode watches the port";
        }
        ComPortCloseAll();
    }
}

// A frame refused once and then accepted: the same bytes in the same order
// in both modes, only sooner.
TEST_F(FastWait, FramesAndResendsAreTheSameInBothModes) {
    std::vector<std::vector<std::uint8_t>> writes[2];
    for (int fast = 0; fast < 2; ++fast) {
        WatchedPort port;
        int answered = 0;
        port.responder = [&](const std::vector<std::uint8_t>&, std::vector<std::uint8_t>& reply) {
            reply.push_back(answered++ == 0 ? 'N' : 'K');
        };
        Use(port);
        SetFastVerdicts(fast != 0);
        g_sleeps = 0;
        // Room for the checksum SendFrame puts after the eight bytes.
        std::uint8_t frame[9] = {0x00, 0x01, 0x40, 0x04, 0xAA, 0xBB, 0xCC, 0xDD};
        EXPECT_EQ(SendFrame(frame, 8), kOk);
        EXPECT_EQ(g_sleeps, fast ? 0 : 2);
        writes[fast] = port.writes;
        ComPortCloseAll();
    }
    ASSERT_EQ(writes[0].size(), 2u);
    EXPECT_EQ(writes[0], writes[1]);
}

int g_hookCalls = 0;

TEST_F(FastWait, PortOpenedHookRunsOnlyWhenThePortOpened) {
    SetPortOpenedHook([] { ++g_hookCalls; });
    struct Case {
        const char* what;
        bool failOpen;
        int calls;
    };
    for (const Case& c : {Case{"opened", false, 1}, Case{"absent", true, 0}}) {
        SCOPED_TRACE(c.what);
        FakeBackend port;
        port.failOpen = c.failOpen;
        g_hookCalls = 0;
        Use(port);
        EXPECT_EQ(g_hookCalls, c.calls);
        ComPortOpen();  // same selection: nothing happens
        EXPECT_EQ(g_hookCalls, c.calls);
        ComPortCloseAll();
    }
    SetPortOpenedHook(nullptr);
}

}  // namespace
}  // namespace pelmark::test
