#include <gtest/gtest.h>

#include <cstring>

#include "fakes.h"
#include "images.h"
#include "report/board_names.h"

namespace pelmark::test {
namespace {

TEST(BoardNames, LookupIsBoundedByTheTable) {
    for (int code : {0, 33, 255, -1, 1000}) EXPECT_STREQ(BoardName(code), kBoardNames[2]) << code;
    EXPECT_STREQ(BoardName(1), "UNK");
    EXPECT_STREQ(BoardName(26), "27");
    EXPECT_STREQ(BoardName(31), "32");
    EXPECT_STREQ(BoardName(32), kBoardNames[32]);
    for (int i = 2; i <= 25; ++i) {
        EXPECT_LE(std::strlen(kBoardNames[i]), 14u) << i;
        EXPECT_GT(std::strlen(kBoardNames[i]), 0u) << i;
    }
}

TEST(VersionReport, LineFormats) {
    struct Case {
        int n;
        unsigned char board, prep;
        std::string expected;
    };
    const std::string b5 = kBoardNames[5];
    const Case cases[] = {
        {0, 5, 0x04, "258    - " + b5 + "[16PIN] - CAN   [Code:04]"},
        {0, 5, 0x84, "258    - " + b5 + "[16PIN] - CAN  RES[Code:84]"},
        {0, 5, 0x14, "258    - " + b5 + "[16PIN] - CAN   [Code:14]"},
        {0, 5, 0x0B, "258    - " + b5 + "[16PIN] - UNKNOWN   [Code:0b]"},
        {0, 5, 0x02, "258    - " + b5 + "[16PIN] -    [Code:02]"},
        {0, 5, 0x00, "258    - " + b5 + "[16PIN] - UNKNOWN   [Code:00]"},
        {0, 14, 0x0A, "258    - " + std::string(kBoardNames[14]) + "[DB9] - ETH0   [Code:0a]"},
        {0, 0, 0x84, "258    - " + std::string(kBoardNames[2]) + "[14PIN] - UNKNOWN   [Code:84]"},
        {5, 33, 0x04, "258    - " + std::string(kBoardNames[2]) + "[14PIN] - UNKNOWN   [Code:04]"},
        {6, 0x80, 0x04, "258    - UNK[16PIN] - UNKNOWN   [Code:04]"},
    };
    for (const Case& c : cases) EXPECT_EQ(ReportLine(c.n, "258   ", c.board, c.prep), c.expected);
}

TEST(VersionReport, ListsOnlyTheSlotsItKnowsInItsOrder) {
    auto withCodes = [](std::size_t n, int at, std::uint8_t board, std::uint8_t prep) {
        std::vector<std::uint8_t> p = Pattern(n);
        p[static_cast<std::size_t>(at)] = board;
        p[static_cast<std::size_t>(at) + 1] = prep;
        return p;
    };
    ImageSet images;
    images.Add({7, 0, Pattern(74240), {}, {1}, true});
    images.Add({9, 0, Pattern(7857)});
    images.Install();
    EXPECT_EQ(VersionReportLines(),
              (std::vector<std::string>{"Device - Print          - Preparation",
                                        "-------------------------------------"}));

    ImageSet more;
    more.Add({6, 19, withCodes(2048, 1024, 0x13, 0x05)});
    more.Add({6, 5, withCodes(2048, 1024, 0x05, 0x04)});
    more.Add({0, 0, withCodes(64, 14, 0x05, 0x04)});
    more.Add({4, 0, Pattern(10)});  // too short to hold codes: board 0
    more.Install();
    const auto lines = VersionReportLines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[2].substr(0, 15), "24HJ64 - " + std::string(kBoardNames[5]).substr(0, 6));
    EXPECT_NE(lines[3].find(kBoardNames[19]), std::string::npos);
    EXPECT_EQ(lines[4], "258    - " + std::string(kBoardNames[5]) + "[16PIN] - CAN   [Code:04]");
    EXPECT_EQ(lines[5].substr(0, 9), "2320   - ");
}

class Identity : public ::testing::Test, public EngineFixture {};

TEST_F(Identity, MainWindowLines) {
    g_protocol.identity = DeviceIdentity{0x48, 0x05, 3, 0x04};
    g_protocol.identityRecordSeen = true;
    ShowIdentity();
    EXPECT_EQ(display.calls, (std::vector<std::string>{
                                 "field|0|BIOS:05 - " + std::string(kBoardNames[3]) + " - Preparation04",
                                 "hide|1",
                             }));

    display.calls.clear();
    g_protocol.identity.bios = 0x08;
    std::strcpy(g_protocol.record.text, "AB");
    ShowIdentity();
    EXPECT_EQ(display.calls.back(), "field|1|AB");

    display.calls.clear();
    g_protocol.record.text[0] = static_cast<char>(0xFF);
    ShowIdentity();
    EXPECT_EQ(display.calls.back(), "field|1|");
    EXPECT_EQ(g_protocol.record.text[0], '\0') << "the erased text stays emptied";

    display.calls.clear();
    g_protocol.identity.bios = 32;
    ShowIdentity();
    EXPECT_EQ(display.calls.back(), "hide|1");
}

TEST_F(Identity, LegacyDeviceShowsTheImageCodes) {
    g_protocol.identity = DeviceIdentity{0x43, 0, 2, 0};
    g_protocol.identityRecordSeen = false;
    g_pass.image.boardCode = 7;
    g_pass.image.preparationCode = 0x81;
    ShowIdentity();
    EXPECT_EQ(display.calls.front(), "field|0|BIOS:00 - " + std::string(kBoardNames[7]) + " - Preparation81");
}

TEST_F(Identity, LoaderAndUpgrade) {
    display.front = FrontEnd::Loader;
    g_protocol.identity = DeviceIdentity{0x48, 0x07, 3, 0x14};
    g_protocol.identityRecordSeen = true;
    g_pass.image.boardCode = 5;
    ShowIdentity();
    EXPECT_EQ(display.calls, (std::vector<std::string>{"field|2|" + std::string(kBoardNames[5]) + " - 0x14",
                                                       "field|3|0x07"}));
    display.calls.clear();
    g_protocol.identityRecordSeen = false;
    ShowIdentity();
    EXPECT_TRUE(display.calls.empty()) << "a legacy device leaves the Loader lines";
    display.front = FrontEnd::Upgrade;
    g_protocol.identityRecordSeen = true;
    ShowIdentity();
    EXPECT_TRUE(display.calls.empty());
}

}  // namespace
}  // namespace pelmark::test
