#include <gtest/gtest.h>

#include "fakes.h"

namespace pelmark::test {
namespace {

class Search : public ::testing::Test, public EngineFixture {
protected:
    // A device that answers the given search byte with a "V" identity.
    void AnswerSearchByte(std::uint8_t searchByte, int afterTries = 0) {
        backend.responder = [=, tries = 0](const auto& w, auto& reply) mutable {
            if (w.size() == 1 && w[0] == searchByte && tries++ >= afterTries)
                reply.insert(reply.end(), {'V', 0x05, 0x48, 0x05, 0x04, 'K'});
        };
    }
    int SearchBytesWritten() const {
        int n = 0;
        for (const auto& w : backend.writes) n += (w.size() == 1) ? 1 : 0;
        return n;
    }
};

TEST_F(Search, DeviceAnsweringTheFirstByteIsFoundAfterOneWrite) {
    AnswerSearchByte(0xC2);
    EXPECT_EQ(SearchDevice(progress, status), kSearchFound);
    EXPECT_EQ(SearchBytesWritten(), 1);
    EXPECT_EQ(status.TextsOf(1), std::vector<std::string>{"Try 0"});
    EXPECT_EQ(g_protocol.identity.chip, 0x48);
    EXPECT_EQ(g_protocol.identity.board, 0x05);
    EXPECT_EQ(progress.position, 0);
    EXPECT_EQ(progress.state, ProgressState::Normal);
    EXPECT_TRUE(display.Has("busy"));
    EXPECT_FALSE(display.Has("idle")) << "the front end stays busy for the pass";
    EXPECT_EQ(status.panels[0], "COM1");
}

TEST_F(Search, SilentDeviceGetsExactlyHundredBytesEachAfterADrain) {
    EXPECT_EQ(SearchDevice(progress, status), kSearchNotFound);
    EXPECT_EQ(SearchBytesWritten(), 100);
    EXPECT_EQ(status.panels[1], "Device not Found");
    EXPECT_EQ(display.calls.back(), "idle");
    // Each try drains (one read when nothing is pending) then waits 20 slices.
    EXPECT_EQ(backend.reads, 100 * (1 + 20));
}

TEST_F(Search, RefusalsCountAsSilence) {
    backend.responder = [](const auto&, auto& reply) { reply.push_back('N'); };
    EXPECT_EQ(SearchDevice(progress, status), kSearchNotFound);
    EXPECT_EQ(SearchBytesWritten(), 100);
}

TEST_F(Search, SearchByteByFrontEnd) {
    struct Case {
        FrontEnd fe;
        bool alternate;
        std::uint8_t expected;
    };
    for (const Case c : {Case{FrontEnd::Main, false, 0xC2}, Case{FrontEnd::Main, true, 0xC2},
                         Case{FrontEnd::Upgrade, false, 0xC5}, Case{FrontEnd::Upgrade, true, 0xC5},
                         Case{FrontEnd::Loader, false, 0xC2}, Case{FrontEnd::Loader, true, 0xC6}}) {
        SCOPED_TRACE(static_cast<int>(c.expected));
        display.front = c.fe;
        g_alternateSearch = c.alternate;
        backend.writes.clear();
        AnswerSearchByte(c.expected);
        ASSERT_EQ(SearchDevice(progress, status), kSearchFound);
        ASSERT_EQ(backend.writes.size(), 1u);
        EXPECT_EQ(backend.writes[0][0], c.expected);
    }
}

TEST_F(Search, LoaderAndUpgradeCountDownInPausedState) {
    for (FrontEnd fe : {FrontEnd::Loader, FrontEnd::Upgrade}) {
        display.front = fe;
        progress = FakeProgress{};
        AnswerSearchByte(fe == FrontEnd::Upgrade ? 0xC5 : 0xC2, 2);
        ASSERT_EQ(SearchDevice(progress, status), kSearchFound);
        EXPECT_EQ(progress.max, 100);
        EXPECT_EQ(progress.positions, (std::vector<int>{0, 100, 99, 98, 0}));
        EXPECT_EQ(progress.states, (std::vector<ProgressState>{ProgressState::Paused, ProgressState::Normal}));
    }
    EXPECT_EQ(status.TextsOf(1).back(), "Search Device");
    EXPECT_TRUE(display.Has("status|Search Device|0"));
}

TEST_F(Search, StopRequestEndsTheSearchWithUserAbort) {
    int tries = 0;
    backend.responder = [&](const auto&, auto&) {
        if (++tries == 3) g_stopRequest = true;
    };
    EXPECT_EQ(SearchDevice(progress, status), kSearchStopped);
    EXPECT_EQ(tries, 3);
    EXPECT_EQ(display.Outcomes(), std::vector<std::string>{"outcome| User Abort !! |255|0"});
    EXPECT_EQ(progress.position, 0);
    EXPECT_EQ(progress.state, ProgressState::Paused) << "no return to the normal state on a stop";
}

TEST_F(Search, LeftoverStopRequestEndsTheFirstTry) {
    g_stopRequest = true;
    EXPECT_EQ(SearchDevice(progress, status), kSearchStopped);
    EXPECT_EQ(SearchBytesWritten(), 1);
}

TEST_F(Search, PortThatCannotOpenGivesInvalidPortCom) {
    backend.failOpen = true;
    EXPECT_EQ(SearchDevice(progress, status), kSearchPortUnusable);
    EXPECT_EQ(display.Outcomes(), std::vector<std::string>{"outcome|Invalid Port Com|255|0"});
    EXPECT_EQ(display.calls.back(), "idle");
    EXPECT_TRUE(backend.writes.empty());
}

TEST_F(Search, EverySearchReopensThePortAndForgetsTheLastDeviceRecord) {
    AnswerSearchByte(0xC2);
    g_protocol.record.skipStart = 0x100;
    g_protocol.record.skipLength = 0x80;
    g_protocol.record.text[0] = 'X';
    g_pass.skipStart = 0x100;
    const int opens = backend.opens;
    ASSERT_EQ(SearchDevice(progress, status), kSearchFound);
    ASSERT_EQ(SearchDevice(progress, status), kSearchFound);
    EXPECT_EQ(backend.opens, opens + 2);
    EXPECT_EQ(g_protocol.record.text[0], '\0');
    EXPECT_EQ(g_protocol.record.skipStart, 0);
    EXPECT_EQ(g_protocol.record.skipLength, 0);
    EXPECT_EQ(g_pass.skipStart, 0);
}

TEST_F(Search, PortIndexOutOfRangeIsRefusedWithoutTouchingTheSystem) {
    for (int index : {-1, 257}) {
        g_portIndex = static_cast<std::int16_t>(index);
        const int opens = backend.opens;
        EXPECT_EQ(SearchDevice(progress, status), kSearchPortUnusable);
        EXPECT_EQ(backend.opens, opens);
    }
    EXPECT_EQ(status.panels[0], "COM258");
    g_portIndex = -1;
    ShowPortName(status);
    EXPECT_EQ(status.panels[0], "-----");
}

}  // namespace
}  // namespace pelmark::test
