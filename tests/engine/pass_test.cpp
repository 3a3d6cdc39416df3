#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "fakes.h"
#include "images.h"
#include "report/board_names.h"

namespace pelmark::test {
namespace {

using Frame = std::vector<std::uint8_t>;

// A device on the fake port: answers the search with its identity (and a
// device record for versions 8 to 31), the entry byte and every frame with K.
class Pass : public ::testing::Test, public EngineFixture {
protected:
    std::uint8_t chip = 0x48, bios = 5, board = 5, prep = 4;
    bool legacy = false;
    bool sendRecord = false;
    int entryBytes = 0;

    Pass() {
        backend.responder = [this](const Frame& w, Frame& reply) {
            if (w.size() == 1 && (w[0] == 0xC2 || w[0] == 0xC5 || w[0] == 0xC6)) {
                if (legacy) {
                    reply.insert(reply.end(), {chip, 'K'});
                } else {
                    reply.insert(reply.end(), {'V', bios, chip, board, prep, 'K'});
                }
                if (sendRecord) {
                    reply.insert(reply.end(), {'R', 28, 0});
                    const char text[24] = "RECORD";
                    reply.insert(reply.end(), text, text + 24);
                    reply.insert(reply.end(), {0, 0, 0, 0, 'K'});
                }
                return;
            }
            if (w.size() == 1 && w[0] == 0xCC) ++entryBytes;
            reply.push_back('K');
        };
    }

    int Run() {
        if (SearchDevice(progress, status) != kSearchFound) return -100;
        return PrgMode(progress, status);
    }

    std::size_t DataFrames() const {
        return static_cast<std::size_t>(std::count_if(backend.writes.begin(), backend.writes.end(),
                                                       [](const Frame& f) { return f.size() > 4; }));
    }

    ImageSet images;
};

TEST_F(Pass, SuccessInEachFrontEnd) {
    std::vector<std::uint8_t> program = Pattern(130);
    program[14] = 0x05;
    program[15] = 0x04;
    images.Add({9, 0, program, Frame(4, 0xAB)});
    images.Install();
    struct Case {
        FrontEnd fe;
        std::vector<std::string> expectedTail;
    };
    const Case cases[] = {
        {FrontEnd::Main, {"outcome| Program Ok |32768|1", "idle"}},
        {FrontEnd::Loader, {"status|Successfully updated|32768", "idle"}},
        {FrontEnd::Upgrade, {"idle"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.fe));
        display.front = c.fe;
        display.calls.clear();
        status = FakeStatus{};
        backend.writes.clear();
        EXPECT_EQ(Run(), 0) << "single-image mode returns 0";
        ASSERT_GE(display.calls.size(), c.expectedTail.size());
        EXPECT_EQ(std::vector<std::string>(display.calls.end() - static_cast<long>(c.expectedTail.size()),
                                           display.calls.end()),
                  c.expectedTail);
        EXPECT_TRUE(display.Has("status| Programming... |" + std::to_string(clBtnFace)));
        EXPECT_TRUE(display.Has("kind|masked"));
        // three program rows, the trailer row, four EEPROM frames
        EXPECT_EQ(DataFrames(), 3u + 1u + 4u);
        EXPECT_EQ(progress.position, 0);
        if (c.fe == FrontEnd::Upgrade) {
            EXPECT_EQ(status.panels[1], "Program OK");
        }
        if (c.fe == FrontEnd::Main) {
            EXPECT_EQ(status.panels[3], "Loaded 130 bytes (0000 to 0082)");
        }
    }
    EXPECT_EQ(g_pendingCount, 0);
}

TEST_F(Pass, IncompatibleBootloaderWritesNothing) {
    images.Add({9, 0, Board5Image(130)});
    images.Install();
    bios = 33;
    backend.writes.clear();
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(display.Outcomes(), std::vector<std::string>{"outcome| Incompatible Bootloader !! |255|0"});
    EXPECT_EQ(backend.writes.size(), 1u) << "only the search byte";
    EXPECT_TRUE(display.Has("field|0|BIOS:21 - PM16-CAN - Preparation04"));
}

TEST_F(Pass, EntryByteByVersion) {
    images.Add({9, 0, Board5Image(130)});
    images.Install();
    struct Case {
        int bios;
        bool legacy;
        int entries;
    };
    for (const Case c : {Case{4, false, 0}, Case{5, false, 1}, Case{32, false, 1}, Case{7, true, 0}}) {
        SCOPED_TRACE(c.bios);
        bios = static_cast<std::uint8_t>(c.bios);
        legacy = c.legacy;
        entryBytes = 0;
        display.calls.clear();
        EXPECT_EQ(Run(), 0);
        EXPECT_EQ(entryBytes, c.entries);
        EXPECT_EQ(display.Outcomes(), std::vector<std::string>{"outcome| Program Ok |32768|1"});
    }
}

TEST_F(Pass, LegacyDeviceIsBoardTwoWithoutSuitabilityCheck) {
    std::vector<std::uint8_t> generic = Pattern(130, 1);
    std::vector<std::uint8_t> board2 = Pattern(130, 2);
    board2[14] = 0x09;  // made for another board and preparation
    board2[15] = 0x07;
    images.Add({1, 0, generic});
    images.Add({1, 2, board2});
    images.Install();
    legacy = true;
    chip = 0x43;
    ASSERT_EQ(SearchDevice(progress, status), kSearchFound);
    EXPECT_FALSE(g_protocol.identityRecordSeen);
    EXPECT_EQ(PrgMode(progress, status), 0);
    EXPECT_EQ(display.Outcomes(), std::vector<std::string>{"outcome| Program Ok |32768|1"});
    EXPECT_EQ(entryBytes, 0);
    // Board 2's own image went out, and the identity line shows its codes.
    const Frame& second = backend.writes[2];
    ASSERT_EQ(second.size(), 69u);
    EXPECT_EQ(second[4] ^ Mask(0x40), board2[64]);
    EXPECT_TRUE(display.Has(std::string("field|0|BIOS:00 - ") + BoardName(9) + " - Preparation07"));
}

TEST_F(Pass, UnsuitableImageEndsBeforeAnythingIsWritten) {
    std::vector<std::uint8_t> program = Pattern(130);
    program[14] = 0x09;
    program[15] = 0x04;
    images.Add({9, 0, program});
    images.Install();
    backend.writes.clear();
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(display.Outcomes(), std::vector<std::string>{std::string("outcome|") + BoardName(9) +
                                                           " - Preparation 4|255|0"});
    EXPECT_EQ(DataFrames(), 0u);
    EXPECT_EQ(entryBytes, 0);
}

TEST_F(Pass, DeviceRecordIsAwaitedAndShown) {
    images.Add({7, 0, Pattern(600), {}, {1}, true});
    images.Install();
    chip = 0xFD;
    bios = 9;
    sendRecord = true;
    EXPECT_EQ(Run(), 0);
    EXPECT_TRUE(g_protocol.record.complete);
    EXPECT_TRUE(display.Has("field|1|RECORD"));
    EXPECT_TRUE(display.Has("kind|plain"));
}

TEST_F(Pass, MissingDeviceRecordWaitsTwoHundredFiftyOneRounds) {
    images.Add({7, 0, Pattern(600), {}, {1}, true});
    images.Install();
    chip = 0xFD;
    bios = 8;
    ASSERT_EQ(SearchDevice(progress, status), kSearchFound);
    const int before = g_sleeps;
    display.front = FrontEnd::Upgrade;  // nothing else waits before the transfer
    PrgMode(progress, status);
    // 251 rounds of 5 ms, then one wait slice per frame answered at once.
    EXPECT_GE(g_sleeps - before, 251);
    EXPECT_LT(g_sleeps - before, 251 + 10);
}

TEST_F(Pass, TransferFailureIsShownOnce) {
    images.Add({9, 0, Board5Image(130)});
    images.Install();
    int frames = 0;
    backend.responder = [&, inner = backend.responder](const Frame& w, Frame& reply) {
        if (w.size() > 4 && ++frames == 2) return;  // the middle row draws no reply
        inner(w, reply);
    };
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(display.Outcomes(), std::vector<std::string>{"outcome| not Response |255|0"});
    EXPECT_EQ(g_imageTable[0][9].pending, kPendingYes) << "a failed pass marks nothing done";
}

TEST_F(Pass, MultiImageResultsAndFollowUps) {
    images.Add({9, 0, Board5Image(130)});
    images.Add({7, 0, Pattern(600), {}, {1}, true});
    images.Install();
    g_multiImage = true;
    display.front = FrontEnd::Upgrade;
    ASSERT_EQ(g_pendingCount, 2);

    // Slot 9 first: one image left, after a two-second pause and a discard.
    const long long slept = g_sleptMs;
    EXPECT_EQ(Run(), 1);
    EXPECT_GE(g_sleptMs - slept, 2000);
    EXPECT_EQ(PendingFlag(9), kPendingDone);

    // The same device again: follow-up 1 is a blocking one-second sleep.
    backend.writes.clear();
    g_sleptMs = 0;
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(DataFrames(), 0u);

    // The PIC24 image: nothing left.
    chip = 0xFD;
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(g_pendingCount, 0);

    // Found again: follow-up 2 sends exactly the unlock frame and command 4.
    backend.writes.clear();
    EXPECT_EQ(Run(), 1);
    ASSERT_EQ(backend.writes.size(), 3u);
    EXPECT_EQ(backend.writes[1].size(), 19u);
    EXPECT_EQ(backend.writes[2], (Frame{0x04, 0x00, 0x00, 0x04}));
}

TEST_F(Pass, StopDuringTheTransfer) {
    images.Add({9, 0, Board5Image(640)});
    images.Install();
    int frames = 0;
    backend.responder = [&, inner = backend.responder](const Frame& w, Frame& reply) {
        if (w.size() > 4 && ++frames == 4) g_stopRequest = true;
        inner(w, reply);
    };
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(display.Outcomes(), std::vector<std::string>{"outcome| User Abort !! |255|0"});
    EXPECT_EQ(frames, 4);
}

// A fixture that resets the engine gets what a fresh process starts with,
// the panel positions the Upgrade window moved included.
TEST(EngineState, ResetGoesBackToProgramStart) {
    g_panels.device = 3;
    g_panels.info = 4;
    g_pass.rowSize = 256;
    g_protocol.identity.bios = 9;
    g_stopRequest = true;
    g_alternateSearch = true;
    g_multiImage = true;
    g_framesRepeatable = false;
    g_verdictsInDoubt = true;
    SetFastVerdicts(true);
    g_searchEnd = EngineEnd{EndKind::Success, 1, nullptr};
    g_passEnd = EngineEnd{EndKind::Failed, -3, nullptr};

    ResetEngineState();

    const PanelIndex fresh{};
    EXPECT_EQ(g_panels.port, fresh.port);
    EXPECT_EQ(g_panels.message, fresh.message);
    EXPECT_EQ(g_panels.device, fresh.device);
    EXPECT_EQ(g_panels.info, fresh.info);
    EXPECT_EQ(g_pass.rowSize, PassState{}.rowSize);
    EXPECT_EQ(g_protocol.identity.bios, DeviceIdentity{}.bios);
    EXPECT_FALSE(g_stopRequest);
    EXPECT_FALSE(g_alternateSearch);
    EXPECT_FALSE(g_multiImage);
    EXPECT_TRUE(g_framesRepeatable);
    EXPECT_FALSE(g_verdictsInDoubt);
    EXPECT_FALSE(FastVerdicts());
    EXPECT_EQ(g_searchEnd.kind, EndKind::None);
    EXPECT_EQ(g_passEnd.kind, EndKind::None);
    EXPECT_EQ(g_passEnd.code, 0);
}

}  // namespace
}  // namespace pelmark::test
