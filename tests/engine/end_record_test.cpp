// The end record: how the last search and the last pass ended, as the front
// ends read it (kind, code and the outcome text shown).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "fakes.h"
#include "images.h"
#include "shell/texts.h"

namespace pelmark::test {
namespace {

using Frame = std::vector<std::uint8_t>;

// A device with a "V" identity that answers every frame with K, unless a
// case changes how it answers data frames.
class Device : public EngineFixture {
public:
    std::uint8_t chip = 0x48, bios = 5, board = 5, prep = 4;
    std::function<void(const Frame&, Frame&)> dataFrames = [](const Frame&, Frame& reply) { reply.push_back('K'); };

    Device() {
        backend.responder = [this](const Frame& w, Frame& reply) {
            if (w.size() == 1 && (w[0] == 0xC2 || w[0] == 0xC5 || w[0] == 0xC6)) {
                reply.insert(reply.end(), {'V', bios, chip, board, prep, 'K'});
                return;
            }
            if (w.size() > 4) {
                dataFrames(w, reply);
                return;
            }
            reply.push_back('K');
        };
    }

    ImageSet images;
};

class EndRecord : public ::testing::Test, public Device {};

// What a front end would have to read off the record; a record left as this
// was not written by the run.
constexpr EngineEnd kUnwritten{EndKind::None, 99, "unwritten"};

std::string Str(const char* text) { return text ? text : "(none)"; }

TEST_F(EndRecord, StartsEmptyAfterReset) {
    g_searchEnd = kUnwritten;
    g_passEnd = kUnwritten;
    ResetEngineState();
    EXPECT_EQ(g_searchEnd.kind, EndKind::None);
    EXPECT_EQ(g_searchEnd.text, nullptr);
    EXPECT_EQ(g_passEnd.kind, EndKind::None);
    EXPECT_EQ(g_passEnd.code, 0);
}

TEST(EndRecordTable, EverySearchResult) {
    struct Case {
        const char* name;
        std::function<void(Device&)> setUp;
        std::int16_t result;
        EndKind kind;
        const char* text;
    };
    const Case cases[] = {
        {"found", [](Device&) {}, kSearchFound, EndKind::Success, nullptr},
        {"silent device",
         [](Device& t) { t.backend.responder = [](const Frame&, Frame&) {}; },
         kSearchNotFound, EndKind::Failed, text::kDeviceNotFound},
        {"stop request",
         [](Device& t) {
             t.backend.responder = [](const Frame&, Frame&) { g_stopRequest = true; };
         },
         kSearchStopped, EndKind::Stopped, text::kUserAbort},
        {"port that cannot open", [](Device& t) { t.backend.failOpen = true; }, kSearchPortUnusable,
         EndKind::Failed, text::kInvalidPortCom},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Device t;
        c.setUp(t);
        g_searchEnd = kUnwritten;
        EXPECT_EQ(SearchDevice(t.progress, t.status), c.result);
        EXPECT_EQ(g_searchEnd.kind, c.kind);
        EXPECT_EQ(g_searchEnd.code, c.result);
        EXPECT_EQ(Str(g_searchEnd.text), Str(c.text));
        EXPECT_EQ(g_passEnd.kind, EndKind::None) << "a search leaves the pass's record alone";
    }
}

TEST_F(EndRecord, SearchTextIsTheOneShown) {
    // Not found: the message panel; stopped: the outcome.
    backend.responder = [](const Frame&, Frame&) {};
    ASSERT_EQ(SearchDevice(progress, status), kSearchNotFound);
    ASSERT_NE(g_searchEnd.text, nullptr);
    EXPECT_EQ(status.panels[g_panels.message], g_searchEnd.text);

    backend.responder = [](const Frame&, Frame&) { g_stopRequest = true; };
    ASSERT_EQ(SearchDevice(progress, status), kSearchStopped);
    ASSERT_NE(g_searchEnd.text, nullptr);
    ASSERT_FALSE(display.Outcomes().empty());
    EXPECT_EQ(display.Outcomes().back(), std::string("outcome|") + g_searchEnd.text + "|255|0");
}

TEST(EndRecordTable, EveryWayAPassEnds) {
    struct Case {
        const char* name;
        std::function<void(Device&)> setUp;
        FrontEnd fe;
        EndKind kind;
        std::int16_t code;
        const char* text;  // nullptr: compared with the outcome shown instead
    };
    const auto image = [](Device& t) {
        t.images.Add({9, 0, Board5Image(200)});
        t.images.Install();
    };
    const Case cases[] = {
        {"success", image, FrontEnd::Main, EndKind::Success, kOk, text::kProgramOk},
        {"success in the Loader window", image, FrontEnd::Loader, EndKind::Success, kOk, text::kLoaderUpdated},
        {"success in the Upgrade window", image, FrontEnd::Upgrade, EndKind::Success, kOk,
         text::kUpgradeProgramOk},
        {"bootloader 33",
         [&](Device& t) {
             image(t);
             t.bios = 33;
         },
         FrontEnd::Main, EndKind::Failed, kIncompatible, text::kIncompatibleBootloader},
        {"unknown chip",
         [&](Device& t) {
             image(t);
             t.chip = 0x99;
         },
         FrontEnd::Main, EndKind::Failed, kUnknownChip, text::kUnknownDeviceError},
        {"no image", [](Device& t) { t.images.Install(); }, FrontEnd::Main, EndKind::Failed, kNoImage,
         text::kNoHexInside},
        {"image too big",
         [](Device& t) {
             t.images.Add({6, 0, Pattern(86000), {}, {1}, true});
             t.images.Install();
             t.chip = 0xFC;
         },
         FrontEnd::Loader, EndKind::Failed, kImageTooBig, text::kHexTooBig},
        {"unsuitable board",
         [](Device& t) {
             Frame program = Board5Image(200);
             program[14] = 0x09;
             t.images.Add({9, 0, program});
             t.images.Install();
         },
         FrontEnd::Main, EndKind::Failed, kUnsuitable, nullptr},
        {"row never answered",
         [&](Device& t) {
             image(t);
             t.dataFrames = [](const Frame&, Frame&) {};
         },
         FrontEnd::Main, EndKind::Failed, kNoReply, text::kNotResponse},
        {"row refused",
         [&](Device& t) {
             image(t);
             t.dataFrames = [](const Frame&, Frame& reply) { reply.push_back('N'); };
         },
         FrontEnd::Main, EndKind::Failed, kRefused, text::kChkError},
        {"stop during the transfer",
         [&](Device& t) {
             image(t);
             t.dataFrames = [](const Frame&, Frame& reply) {
                 g_stopRequest = true;
                 reply.push_back('K');
             };
         },
         FrontEnd::Main, EndKind::Stopped, kStopped, text::kUserAbort},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Device t;
        c.setUp(t);
        t.display.front = c.fe;
        ASSERT_EQ(SearchDevice(t.progress, t.status), kSearchFound);
        g_passEnd = kUnwritten;
        EXPECT_EQ(PrgMode(t.progress, t.status), 0);
        EXPECT_EQ(g_passEnd.kind, c.kind);
        EXPECT_EQ(g_passEnd.code, c.code);
        ASSERT_NE(g_passEnd.text, nullptr);
        if (c.text != nullptr) {
            EXPECT_STREQ(g_passEnd.text, c.text);
        }
        // The text recorded is the one the front end was shown.
        if (c.fe == FrontEnd::Upgrade) {
            EXPECT_EQ(t.status.panels[g_panels.message], g_passEnd.text);
        } else if (c.fe == FrontEnd::Loader && c.kind == EndKind::Success) {
            EXPECT_TRUE(t.display.Has(std::string("status|") + g_passEnd.text + "|32768"));
        } else {
            ASSERT_FALSE(t.display.Outcomes().empty());
            const std::string shown = t.display.Outcomes().back();
            EXPECT_EQ(shown.substr(0, shown.find('|', 8)), std::string("outcome|") + g_passEnd.text);
        }
    }
}

TEST_F(EndRecord, UpgradeWindowShowsNoSizeOutcome) {
    images.Install();
    display.front = FrontEnd::Upgrade;
    ASSERT_EQ(SearchDevice(progress, status), kSearchFound);
    EXPECT_EQ(PrgMode(progress, status), 0);
    EXPECT_EQ(g_passEnd.kind, EndKind::Failed);
    EXPECT_EQ(g_passEnd.code, kNoImage);
    EXPECT_EQ(g_passEnd.text, nullptr) << "the Upgrade window shows no outcome for an image it lacks";
    EXPECT_TRUE(display.Outcomes().empty());
}

TEST_F(EndRecord, MultiImageFollowUpIsSkippedAndAFinishedPassIsSuccess) {
    images.Add({9, 0, Board5Image(200)});
    images.Add({7, 0, Pattern(600), {}, {1}, true});
    images.Install();
    g_multiImage = true;
    display.front = FrontEnd::Upgrade;

    // One image written, one left: the pass succeeded although it returns 1.
    ASSERT_EQ(SearchDevice(progress, status), kSearchFound);
    EXPECT_EQ(PrgMode(progress, status), 1);
    EXPECT_EQ(g_passEnd.kind, EndKind::Success);
    EXPECT_EQ(g_passEnd.code, kOk);

    // The same device again: its follow-up action, nothing written.
    backend.writes.clear();
    ASSERT_EQ(SearchDevice(progress, status), kSearchFound);
    EXPECT_EQ(PrgMode(progress, status), 1);
    EXPECT_EQ(g_passEnd.kind, EndKind::Skipped);
    EXPECT_EQ(g_passEnd.code, kOk);
    EXPECT_EQ(g_passEnd.text, nullptr);
    for (const Frame& w : backend.writes) EXPECT_LE(w.size(), 4u) << "no data frame";
}

}  // namespace
}  // namespace pelmark::test
