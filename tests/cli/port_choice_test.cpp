// Choosing the port: COM names, device paths, the ports present, and the hint
// for a port that cannot be opened.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "cli/port_choice.h"
#include "serial/port_map.h"

namespace pelmark::cli {
namespace {

namespace fs = std::filesystem;

TEST(ComName, ParsedInAnyLetterCaseFromCom1ToCom257) {
    struct Case {
        const char* text;
        std::optional<int> index;
    };
    const Case cases[] = {
        {"COM9", 8},          {"com9", 8},          {"Com10", 9},         {"cOM1", 0},
        {"COM1", 0},          {"COM257", 256},      {"COM0", std::nullopt}, {"COM258", std::nullopt},
        {"COM", std::nullopt}, {"COM9x", std::nullopt}, {"COM-1", std::nullopt}, {"COM 9", std::nullopt},
        {" COM9", std::nullopt}, {"9", std::nullopt},  {"LPT1", std::nullopt}, {"COM99999", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseComName(c.text), c.index) << '"' << c.text << '"';
}

// A port-map directory of its own for each test.
class PortMapDir : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("pelmark-cli-ports-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        const char* old = std::getenv("PELMARK_PORT_DIR");
        if (old) saved_ = old;
        ::setenv("PELMARK_PORT_DIR", dir_.c_str(), 1);
    }
    void TearDown() override {
        for (int n = 1; n <= 257; ++n) serial::SetComOverride(n, "");
        if (saved_)
            ::setenv("PELMARK_PORT_DIR", saved_->c_str(), 1);
        else
            ::unsetenv("PELMARK_PORT_DIR");
        fs::remove_all(dir_);
    }
    std::string MakeFile(const std::string& name) {
        const fs::path p = dir_ / name;
        std::ofstream(p) << "";
        return p.string();
    }

    fs::path dir_;
    std::optional<std::string> saved_;
};

TEST_F(PortMapDir, ComNamesAndBadArguments) {
    EXPECT_EQ(PortFromArgument("COM9").index, 8);
    EXPECT_EQ(PortFromArgument("com12").index, 11);
    for (const char* bad : {"COM0", "COM258", "ttyUSB0", "9", ""}) {
        const PortChoice c = PortFromArgument(bad);
        EXPECT_EQ(c.index, -1) << bad;
        EXPECT_FALSE(c.error.empty()) << bad;
    }
}

TEST_F(PortMapDir, PathNamedByAMapEntryUsesThatComNumber) {
    const std::string device = MakeFile("device-a");
    fs::create_symlink(device, dir_ / "com12");
    const PortChoice c = PortFromArgument(device);
    EXPECT_EQ(c.index, 11) << c.error;
}

TEST_F(PortMapDir, PathWithoutComNumberBorrowsAFreeOne) {
    const std::string device = MakeFile("device-b");
    fs::create_symlink(MakeFile("other"), dir_ / "com257");  // the highest number is taken
    const PortChoice c = PortFromArgument(device);
    ASSERT_GE(c.index, 0) << c.error;
    EXPECT_NE(c.index, 256);
    EXPECT_EQ(serial::ComDevicePath(c.index + 1), device);
    EXPECT_EQ(serial::ComNumberForPath(device), c.index + 1);
}

TEST(PresentPortsChoice, OnlyASinglePortIsTakenWithoutAsking) {
    const PortChoice one = PortFromPresent({{"COM33", "FT232R USB UART (COM33)"}});
    EXPECT_EQ(one.index, 32);
    EXPECT_EQ(PortFromPresent({{"com100", "pts/7"}}).index, 99);

    const PortChoice none = PortFromPresent({});
    EXPECT_EQ(none.index, -1);
    EXPECT_NE(none.error.find("--port"), std::string::npos);

    const PortChoice several = PortFromPresent({{"COM1", "ttyS0 (COM1)"}, {"COM33", "FT232R USB UART (COM33)"}});
    EXPECT_EQ(several.index, -1);
    EXPECT_NE(several.error.find("COM1\tttyS0 (COM1)"), std::string::npos) << several.error;
    EXPECT_NE(several.error.find("COM33\tFT232R USB UART (COM33)"), std::string::npos) << several.error;
}

TEST(PortHint, NamesTheCauseTheSystemGave) {
    using serial::OpenError;
    struct Case {
        OpenError error;
        const char* mustContain[3];
    };
    const Case cases[] = {
        {OpenError::Absent, {"COM33 (/dev/ttyUSB0)", "not present", "No such file or directory"}},
        {OpenError::Busy, {"COM33 (/dev/ttyUSB0)", "in use", "No such file or directory"}},
        {OpenError::PermissionDenied, {"permission", "dialout", "sudo usermod -aG dialout $USER"}},
        {OpenError::NotASerialPort, {"COM33", "not a serial port", "No such file"}},
        {OpenError::Other, {"COM33", "could not be opened", "No such file"}},
    };
    for (const Case& c : cases) {
        const std::string hint = PortOpenHint(c.error, "No such file or directory", 32, "/dev/ttyUSB0");
        EXPECT_EQ(hint.find('\n'), std::string::npos) << hint;
        EXPECT_EQ(hint.rfind("hint: ", 0), 0u) << hint;
        for (const char* part : c.mustContain) EXPECT_NE(hint.find(part), std::string::npos) << hint << " / " << part;
    }
    EXPECT_EQ(PortOpenHint(OpenError::None, "", 0, "/dev/ttyS0"), "");
    EXPECT_EQ(PortOpenHint(OpenError::Busy, "/dev/ttyUSB0: Device or resource busy", 32, "/dev/ttyUSB0"),
              "hint: COM33 (/dev/ttyUSB0) is in use by another program: Device or resource busy; close it and try again");
    EXPECT_NE(PortOpenHint(OpenError::Absent, "", 299, "").find("no device is known as COM300"), std::string::npos);
}

}  // namespace
}  // namespace pelmark::cli
