// Line noise around the device's replies, on the in-process port: a stray
// byte after the identity must not turn a "V" device into a legacy one (board
// 2's image, no entry byte, no suitability check) behind the pass's back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../engine/fakes.h"

namespace pelmark::test {
namespace {

using Frame = std::vector<std::uint8_t>;

struct Noise {
    const char* what;
    std::uint8_t bios;
    bool record;
    Frame before;  // sent ahead of the identity
    Frame after;   // sent after the identity (and the record)
    friend void PrintTo(const Noise& n, std::ostream* os) { *os << n.what; }
};

class LineNoise : public ::testing::TestWithParam<Noise>, public EngineFixture {
protected:
    static void SetUpTestSuite() { InitImageTable(); }

    int entryBytes = 0;

    void SetUp() override {
        const Noise& n = GetParam();
        backend.responder = [this, n](const Frame& w, Frame& reply) {
            if (w.size() == 1 && w[0] == 0xC2) {
                reply.insert(reply.end(), n.before.begin(), n.before.end());
                // Chip 0x42 on board 5: slot 0, whose row 2 holds another image.
                reply.insert(reply.end(), {'V', n.bios, 0x42, 0x05, 0x04, 'K'});
                if (n.record) {
                    reply.insert(reply.end(), {'R', 28, 0});
                    const char text[24] = "RIG-42";
                    reply.insert(reply.end(), text, text + 24);
                    reply.insert(reply.end(), {0, 0, 0, 0, 'K'});
                }
                reply.insert(reply.end(), n.after.begin(), n.after.end());
                return;
            }
            if (w.size() == 1 && w[0] == 0xCC) ++entryBytes;
            reply.push_back('K');
        };
    }
};

TEST_P(LineNoise, TheDeviceKeepsItsIdentityAndGetsItsOwnImage) {
    ASSERT_TRUE(HoldsImage(g_imageTable[2][0])) << "the test needs a board-2 image beside the generic one";
    ASSERT_EQ(SearchDevice(progress, status), kSearchFound);
    EXPECT_EQ(PrgMode(progress, status), 0);
    EXPECT_EQ(display.Outcomes(), std::vector<std::string>{"outcome| Program Ok |32768|1"});
    EXPECT_EQ(entryBytes, 1) << "a device with an identity record and version 5 or more takes the entry byte";
    EXPECT_EQ(g_pass.image.program, g_imageTable[0][0].program) << "board 5 has no row: the generic image";
    EXPECT_TRUE(display.Has("field|0|BIOS:" + std::string(GetParam().bios == 5 ? "05" : "09") +
                            " - PM16-CAN - Preparation04"))
        << "the identity line shows the device's own board";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LineNoise,
    ::testing::Values(Noise{"zero_after_identity", 5, false, {}, {0x00}},
                      Noise{"ff_after_identity", 5, false, {}, {0xFF, 0xFF}},
                      Noise{"chip_code_after_identity", 5, false, {}, {0x43}},
                      Noise{"noise_after_record", 9, true, {}, {0x00, 0x13}},
                      Noise{"v_after_record", 9, true, {}, {'V', 0x01}},
                      Noise{"noise_before_identity", 5, false, {0x00, 0xFF, 0x43}, {}},
                      Noise{"noise_on_both_sides", 9, true, {0xF0, 0x0F}, {0x80}}),
    [](const ::testing::TestParamInfo<Noise>& p) { return std::string(p.param.what); });

}  // namespace
}  // namespace pelmark::test
