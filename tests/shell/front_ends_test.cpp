// The front ends' steps that need no device: what the tag changes, how the
// stored port setting is taken at creation, and what a close does.
#include <gtest/gtest.h>

#include <string>

#include "bootloader/engine.h"
#include "bootloader/wire.h"
#include "serial/port_link.h"
#include "shell/build_info.h"
#include "frontend_logic/front_ends.h"
#include "shell/panels.h"
#include "shell/texts.h"

namespace pelmark {
namespace {

class FrontEndSteps : public ::testing::Test {
protected:
    void TearDown() override {
        ResetEngineState();
    }
};

TEST_F(FrontEndSteps, TagRules) {
    struct Case {
        const char* tag;
        bool hidesPicture;
        bool imageSeries;
        bool alternateSearch;
    };
    const Case cases[] = {
        {nullptr, false, false, false},  // a build without a tag
        {"", false, false, false},
        {"PX500 2B", true, false, false},
        {"LUX ZOT 1.0", true, false, false},
        {"PX 2B", false, false, false},  // "PX" alone is a Loader code, not "PX500"
        {"VRN YKP 1.0", false, true, false},
        {"MORIC DLM", false, false, true},
        {"GNV 2 1.0", false, false, true},
        {"ykp dlm zot", false, false, false},  // the codes are upper case
    };
    for (const Case& c : cases) {
        const char* name = c.tag ? c.tag : "(none)";
        EXPECT_EQ(TagHidesPicture(c.tag), c.hidesPicture) << name;
        EXPECT_EQ(TagHasImageSeries(c.tag), c.imageSeries) << name;
        EXPECT_EQ(TagUsesAlternateSearch(c.tag), c.alternateSearch) << name;
    }
}

TEST_F(FrontEndSteps, CreationLook) {
    struct Case {
        FrontEnd frontEnd;
        const char* tag;
        const char* titleStart;
        bool alternateMark;
        bool picture;
        bool secondBar;
        bool multiImage;
        bool alternateSearch;
        int devicePanel;
    };
    const Case cases[] = {
        {FrontEnd::Main, "PX500 2B", text::kMainTitle, false, false, false, false, false, 2},
        {FrontEnd::Main, "LUX 1.0 YKP GNV", text::kMainTitle, false, true, false, false, false, 2},
        {FrontEnd::Upgrade, "VRN YKP 1.0", "Upgrade 1.1 -   VRN YKP 1.0   - ", false, true, true, true, false, 3},
        {FrontEnd::Upgrade, "VRN 1C", "Upgrade 1.1 -   VRN 1C   - ", false, true, false, false, false, 3},
        {FrontEnd::Loader, "GNV 2 1.0", "Loader 1.0 -   GNV 2 1.0   - ", true, false, false, false, true, 2},
        {FrontEnd::Loader, "PX 2B", "Loader 1.0 -   PX 2B   - ", false, true, false, false, false, 2},
    };
    for (const Case& c : cases) {
        ResetEngineState();
        const FrontEndLook look = CreateFrontEnd(c.frontEnd, c.tag, nullptr);
        EXPECT_EQ(look.title.rfind(c.titleStart, 0), 0u) << c.tag << ": " << look.title;
        const std::string mark = "   -(N)-";
        const bool marked = look.title.size() > mark.size() &&
                            look.title.compare(look.title.size() - mark.size(), mark.size(), mark) == 0;
        EXPECT_EQ(marked, c.alternateMark) << c.tag << ": " << look.title;
        EXPECT_EQ(look.picture, c.picture) << c.tag;
        EXPECT_EQ(look.secondBar, c.secondBar) << c.tag;
        EXPECT_EQ(g_multiImage, c.multiImage) << c.tag;
        EXPECT_EQ(g_alternateSearch, c.alternateSearch) << c.tag;
        EXPECT_EQ(g_panels.device, c.devicePanel) << c.tag;
    }
}

TEST_F(FrontEndSteps, PortSettingAtCreation) {
    struct Case {
        FrontEnd frontEnd;
        const char* com;
        std::int16_t portIndex;
        std::int16_t openPortIndex;
        bool valid;
    };
    const Case cases[] = {
        // Main and Upgrade: the first search opens the port afresh.
        {FrontEnd::Main, "", 0, -1, true},
        {FrontEnd::Main, "4", 4, 3, true},
        {FrontEnd::Upgrade, "", 0, -1, true},
        {FrontEnd::Upgrade, "7", 7, 6, true},
        // Loader: its port counts as open; none stored, or one below COM1, is
        // not valid.
        {FrontEnd::Loader, "", 0, -1, false},
        {FrontEnd::Loader, "4", 4, 5, true},
        {FrontEnd::Loader, "-2", -2, -1, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ApplyPortSetting(c.frontEnd, c.com), c.valid) << c.com;
        EXPECT_EQ(g_portIndex, c.portIndex) << c.com;
        EXPECT_EQ(g_openPortIndex, c.openPortIndex) << c.com;
    }
}

TEST_F(FrontEndSteps, CloseDuringAnUpdateOnlyAsksTheEngineToStop) {
    g_portIndex = 6;
    g_openPortIndex = 5;
    std::string setting = "unchanged";
    g_stopRequest = false;
    EXPECT_FALSE(CloseFrontEnd(true, setting));
    EXPECT_TRUE(g_stopRequest.load());
    EXPECT_EQ(setting, "unchanged");

    g_stopRequest = false;
    EXPECT_TRUE(CloseFrontEnd(false, setting));
    EXPECT_FALSE(g_stopRequest.load());
    EXPECT_EQ(setting, "6");  // the selected port, stored for the next start
}

}  // namespace
}  // namespace pelmark
