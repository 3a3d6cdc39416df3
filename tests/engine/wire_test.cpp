#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "fakes.h"

namespace pelmark::test {
namespace {

class Wire : public ::testing::Test, public EngineFixture {};

std::vector<std::uint8_t> Bytes(std::initializer_list<int> v) {
    std::vector<std::uint8_t> out;
    for (int b : v) out.push_back(static_cast<std::uint8_t>(b));
    return out;
}

void Feed(const std::vector<std::uint8_t>& bytes) {
    for (std::uint8_t b : bytes) ParseReplyByte(b);
}

TEST_F(Wire, UnlockFrameIsNineteenBytesWithSumHighFirst) {
    SendUnlockFrame();
    ASSERT_EQ(backend.writes.size(), 1u);
    const auto& f = backend.writes[0];
    ASSERT_EQ(f.size(), 19u);
    EXPECT_EQ(f[0], 0x00);
    EXPECT_EQ(f[1], 0x0F);
    EXPECT_EQ(std::string(f.begin() + 2, f.begin() + 17), "7Qm2Rx9Lb4Tz6Wk");
    unsigned sum = 0;
    for (int i = 0; i < 17; ++i) sum += f[i];
    EXPECT_EQ(f[17], (sum >> 8) & 0xFF);
    EXPECT_EQ(f[18], sum & 0xFF);
}

TEST_F(Wire, CommandFourFrame) {
    SendCommand4();
    ASSERT_EQ(backend.writes.size(), 1u);
    EXPECT_EQ(backend.writes[0], Bytes({0x04, 0x00, 0x00, 0x04}));
}

TEST_F(Wire, DataFrameChecksumMakesTheFrameSumToZero) {
    const auto frame = Bytes({0x00, 0x01, 0x40, 0x04, 0xAA, 0xBB, 0xCC, 0xDD});
    EXPECT_EQ(FrameChecksum(frame.data(), static_cast<int>(frame.size())), 0xAD);
    backend.responder = [](const auto&, auto& reply) { reply.push_back('K'); };
    std::uint8_t buffer[16];
    std::memcpy(buffer, frame.data(), frame.size());
    EXPECT_EQ(SendFrame(buffer, 8), kOk);
    ASSERT_EQ(backend.writes.size(), 1u);
    ASSERT_EQ(backend.writes[0].size(), 9u);
    EXPECT_EQ(backend.writes[0][8], 0xAD);
}

TEST_F(Wire, IdentityRecordCommitsOnK) {
    Feed(Bytes({'V', 0x05, 0x42, 0x03, 0x01}));
    EXPECT_EQ(g_protocol.identity.chip, 0) << "nothing is committed before the K";
    Feed(Bytes({'K'}));
    EXPECT_EQ(g_protocol.identity.chip, 0x42);
    EXPECT_EQ(g_protocol.identity.bios, 5);
    EXPECT_EQ(g_protocol.identity.board, 3);
    EXPECT_EQ(g_protocol.identity.preparation, 1);
    EXPECT_TRUE(g_protocol.identityRecordSeen);
    EXPECT_TRUE(g_protocol.acknowledged);
}

TEST_F(Wire, IdentityRecordSplitAcrossReadsEndsTheWaitWithAck) {
    // One byte per read: the parser keeps its place between reads.
    int slice = 0;
    const auto reply = Bytes({'V', 0x05, 0x42, 0x03, 0x01, 'K'});
    display.onPump = [&] {
        if (slice < static_cast<int>(reply.size())) backend.Feed({reply[static_cast<std::size_t>(slice)]});
        ++slice;
    };
    EXPECT_EQ(WaitReply(100), kReplyAck);
    EXPECT_EQ(slice, 6);
    EXPECT_EQ(g_protocol.identity.chip, 0x42);
    EXPECT_EQ(g_protocol.identity.preparation, 1);
}

TEST_F(Wire, LegacyIdentityCommitsChipWithVersionZero) {
    Feed(Bytes({'V', 0x09, 0x42, 0x03, 0x01, 'K'}));
    Feed(Bytes({0x43, 'K'}));
    EXPECT_EQ(g_protocol.identity.chip, 0x43);
    EXPECT_EQ(g_protocol.identity.bios, 0);
    EXPECT_FALSE(g_protocol.identityRecordSeen);
}

TEST_F(Wire, ControlByteValuesCannotBeCarriedInTheIdentity) {
    // A board code of 'N' is taken as a refusal, not as the board.
    Feed(Bytes({'V', 0x05, 0x42, 'N', 0x01, 'K'}));
    EXPECT_TRUE(g_protocol.refused);
    EXPECT_EQ(g_protocol.identity.board, 0x01) << "the next byte filled the board position";
}

std::vector<std::uint8_t> DeviceRecordBytes() {
    std::vector<std::uint8_t> r = Bytes({'R', 0x1C, 0x00});
    const char* text = "BOARD-7 REV C 2019-04-11";  // exactly 24 characters
    r.insert(r.end(), text, text + 24);
    r.insert(r.end(), {0x00, 0x01, 0x80, 0x00});  // skip 0x0100, length 0x0080
    r.push_back('K');
    return r;
}

TEST_F(Wire, DeviceRecordOnlyAfterVersionEightToThirtyOne) {
    struct Case {
        int bios;
        bool record;
    };
    for (const Case c : {Case{7, false}, Case{8, true}, Case{31, true}, Case{32, false}}) {
        SCOPED_TRACE(c.bios);
        ResetEngineState();
        Feed(Bytes({'V', c.bios, 0xFD, 0x05, 0x04, 'K'}));
        g_protocol.acknowledged = false;
        Feed(DeviceRecordBytes());
        EXPECT_EQ(g_protocol.record.complete, c.record);
        if (c.record) {
            EXPECT_STREQ(g_protocol.record.text, "BOARD-7 REV C 2019-04-11");
            EXPECT_EQ(g_protocol.record.skipStart, 0x0100);
            EXPECT_EQ(g_protocol.record.skipLength, 0x0080);
            EXPECT_FALSE(g_protocol.acknowledged) << "the record's closing K is not a verdict";
            EXPECT_EQ(g_protocol.identity.chip, 0xFD);
        } else {
            // Without a record the bytes are taken as identity bytes.
            EXPECT_EQ(g_protocol.record.text[0], '\0');
            EXPECT_TRUE(g_protocol.acknowledged);
        }
    }
}

TEST_F(Wire, OversizedRecordKeepsTheTextTerminatedAndDropsTheRest) {
    Feed(Bytes({'V', 9, 0xFD, 0x05, 0x04, 'K'}));
    std::vector<std::uint8_t> r = Bytes({'R', 0x40, 0x00});
    for (int i = 0; i < 0x40; ++i) r.push_back(static_cast<std::uint8_t>('a' + i % 26));
    r.push_back('K');
    Feed(r);
    EXPECT_TRUE(g_protocol.record.complete);
    EXPECT_EQ(std::strlen(g_protocol.record.text), 24u);
    EXPECT_EQ(g_protocol.parser, ParserState::Idle);
}

TEST_F(Wire, WaitReplyResultsAndSliceCounts) {
    EXPECT_EQ(WaitReply(100), kReplyTimeout);
    EXPECT_EQ(g_sleeps, 20);
    EXPECT_EQ(g_sleptMs, 100);
    g_sleeps = 0;
    EXPECT_EQ(WaitReply(2000), kReplyTimeout);
    EXPECT_EQ(g_sleeps, 400);
    EXPECT_EQ(display.pumps, 420) << "every slice dispatches events";

    backend.Feed({'K', 'N'});
    EXPECT_EQ(WaitReply(100), kReplyAck) << "K and N in one read: K wins";
    backend.Feed({'N'});
    EXPECT_EQ(WaitReply(100), kReplyNak);

    // A stop request and a K in the same slice: the stop wins, and it is
    // cleared by the wait that reports it.
    backend.Feed({'K'});
    g_stopRequest = true;
    g_protocol.acknowledged = false;
    g_protocol.refused = false;
    EXPECT_EQ(WaitReply(100), kReplyStop);
    EXPECT_FALSE(g_stopRequest.load());
}

TEST_F(Wire, PumpDelayRoundsUpToWholeSlices) {
    PumpDelay(7);
    EXPECT_EQ(g_sleeps, 2);
    PumpDelay(0);
    PumpDelay(-5);
    EXPECT_EQ(g_sleeps, 2);
}

TEST_F(Wire, SendFrameRefusedFiveTimesGivesChkErrorAfterFiveIdenticalWrites) {
    backend.responder = [](const auto&, auto& reply) { reply.push_back('N'); };
    std::uint8_t buffer[16] = {0x00, 0x00, 0x40, 0x02, 0x11, 0x22};
    EXPECT_EQ(SendFrame(buffer, 6), kRefused);
    ASSERT_EQ(backend.writes.size(), 5u);
    for (const auto& w : backend.writes) EXPECT_EQ(w, backend.writes[0]);
    EXPECT_EQ(display.mainStatus.TextsOf(1),
              (std::vector<std::string>{"Resend 0", "Resend 1", "Resend 2", "Resend 3", "Resend 4"}));
    EXPECT_EQ(display.mainStatus.repaints, 5);
}

TEST_F(Wire, SendFrameResendsAfterRefusalUntilAccepted) {
    int n = 0;
    backend.responder = [&](const auto&, auto& reply) { reply.push_back(++n < 3 ? 'N' : 'K'); };
    std::uint8_t buffer[16] = {0x00, 0x00, 0x40, 0x01, 0x11};
    EXPECT_EQ(SendFrame(buffer, 5), kOk);
    EXPECT_EQ(backend.writes.size(), 3u);
}

TEST_F(Wire, SendFrameCountsAFrameWrittenOnlyOnAVerdictOfItsOwn) {
    struct Case {
        const char* name;
        std::string pending;               // bytes waiting before the first send
        std::vector<std::string> replies;  // the device's answer to each send, in one read
        std::int16_t result;
        std::size_t writes;
    };
    const Case cases[] = {
        {"one K", "", {"K"}, kOk, 1},
        {"N and a stray K in one read", "", {"NK", "K"}, kOk, 2},
        {"K and N in one read", "", {"KN", "K"}, kOk, 2},
        {"two K in one read", "", {"KK", "K"}, kOk, 2},
        {"a K left from an earlier wait", "K", {"K", "K"}, kOk, 2},
        {"never a verdict alone", "", {"KK", "NK", "KN", "KK", "KK", "K"}, kRefused, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetEngineState();  // no frame written before
        backend.writes.clear();
        backend.pending.assign(c.pending.begin(), c.pending.end());
        std::size_t n = 0;
        backend.responder = [&](const auto&, auto& reply) {
            const std::string& r = c.replies[std::min(n++, c.replies.size() - 1)];
            reply.insert(reply.end(), r.begin(), r.end());
        };
        std::uint8_t buffer[16] = {0x00, 0x00, 0x40, 0x01, 0x11};
        EXPECT_EQ(SendFrame(buffer, 5), c.result);
        EXPECT_EQ(backend.writes.size(), c.writes);
        for (const auto& w : backend.writes) EXPECT_EQ(w, backend.writes[0]);
    }
}

TEST_F(Wire, AVerdictLeftForTheFrameBeforeSendsThatFrameAgain) {
    backend.responder = [](const auto&, auto& reply) { reply.push_back('K'); };
    std::uint8_t a[16] = {0x00, 0x00, 0x00, 0x01, 0x11};
    std::uint8_t b[16] = {0x00, 0x00, 0x40, 0x01, 0x22};
    ASSERT_EQ(SendFrame(a, 5), kOk);
    const auto rowA = backend.writes[0];
    // The K taken for the first row came before its own verdict, a refusal
    // that is still waiting when the next row goes.
    backend.Feed({'N'});
    EXPECT_EQ(SendFrame(b, 5), kOk);
    ASSERT_GE(backend.writes.size(), 3u);
    EXPECT_NE(std::find(backend.writes.begin() + 2, backend.writes.end(), rowA), backend.writes.end())
        << "the row before was not sent again";
    EXPECT_EQ(backend.writes.back()[4], 0x22);
}

TEST_F(Wire, SendFrameSilenceGivesNoReplyAfterOneWriteAndTwoSeconds) {
    std::uint8_t buffer[16] = {0x00, 0x00, 0x40, 0x01, 0x11};
    EXPECT_EQ(SendFrame(buffer, 5), kNoReply);
    EXPECT_EQ(backend.writes.size(), 1u);
    EXPECT_EQ(g_sleptMs, 2000);
}

TEST_F(Wire, SendFrameStopRequestGivesStopped) {
    g_stopRequest = true;
    std::uint8_t buffer[16] = {0x00, 0x00, 0x40, 0x01, 0x11};
    EXPECT_EQ(SendFrame(buffer, 5), kStopped);
    EXPECT_EQ(g_sleeps, 1);
}

TEST_F(Wire, ShowPassErrorTexts) {
    for (std::int16_t code : {0, -1, -2, -3, -4, -5, 1}) ShowPassError(code);
    EXPECT_EQ(display.Outcomes(), (std::vector<std::string>{
                                      "outcome| not Response |255|0",
                                      "outcome| User Abort !! |255|0",
                                      "outcome| CHK Error !! |255|0",
                                      "outcome| Incompatible Bootloader !! |255|0",
                                  }));
}

TEST_F(Wire, ParseRepliesOnAClosedPortReadsNothing) {
    ComPortCloseAll();
    backend.Feed({'K'});
    const int readsBefore = backend.reads;
    EXPECT_EQ(ParseReplies(), 0);
    EXPECT_EQ(backend.reads, readsBefore);
    EXPECT_EQ(WaitReply(10), kReplyTimeout);
}

}  // namespace
}  // namespace pelmark::test
