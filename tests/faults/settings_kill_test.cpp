// The settings file survives a kill in the middle of a write: a process that
// writes the port setting over and over is killed at random moments, and the
// file is each time exactly the old or the new file, never a mix or a stump,
// with every other front end's value and every other line as they were.
#include <gtest/gtest.h>

#include <dirent.h>

#include <random>
#include <string>
#include <vector>

#include "fault_support.h"
#include "shell/settings.h"

namespace pelmark::test {
namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> Entries(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d))
            if (e->d_name[0] != '.') names.emplace_back(e->d_name);
        closedir(d);
    }
    return names;
}

TEST(SettingsKill, TheFileIsWholeAfterAKillAtAnyMoment) {
    ScratchDir dir;
    const std::string file = dir.path() + "/settings.ini";
    setenv("PELMARK_SETTINGS", file.c_str(), 1);

    // The three front ends' groups and a large group of something else, so
    // that one write takes long enough to be hit in the middle.
    std::string others = "[HKEY_LOCAL_MACHINE/Software/Tarnwell/Upgrade]\ncom=11\n\n"
                         "[HKEY_LOCAL_MACHINE/Software/Veldra/Loader]\ncom=-1\n\n[Bench]\n";
    for (int i = 0; i < 10000; ++i) others += "line" + std::to_string(i) + "=" + std::string(12, 'x') + "\n";
    const std::string head = "[HKEY_LOCAL_MACHINE/Software/Norvane/Pelmark]\ncom=";
    auto fileWith = [&](const std::string& value) { return head + value + "\n\n" + others; };
    {
        std::ofstream out(file, std::ios::binary);
        out << fileWith("start");
    }

    const unsigned seed = std::random_device{}();
    RecordProperty("seed", static_cast<int>(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delayUs(0, 200000);
    std::string last = "start";
    int changed = 0;
    for (int round = 0; round < 25; ++round) {
        Child writer(PELMARK_SETTINGS_WRITER, {});
        ASSERT_TRUE(writer.WaitForOutput("ready", std::chrono::seconds(10)));
        const int delay = delayUs(random);
        std::this_thread::sleep_for(std::chrono::microseconds(delay));
        writer.Signal(SIGKILL);
        const RunResult r = writer.Finish(std::chrono::seconds(30));
        EXPECT_EQ(r.status, 128 + SIGKILL);

        SCOPED_TRACE("seed " + std::to_string(seed) + ", killed after " + std::to_string(delay) + " us");
        const std::string value = ReadSetting("com", kSettingsMain);
        ASSERT_FALSE(value.empty()) << "the main window's value is lost";
        ASSERT_EQ(ReadAll(file), fileWith(value)) << "the file is not one that a whole write leaves";
        EXPECT_EQ(ReadSetting("com", kSettingsUpgrade), "11");
        EXPECT_EQ(ReadSetting("com", kSettingsLoader), "-1");
        if (value != last) ++changed;
        last = value;
    }
    RecordProperty("rounds_with_writes", changed);
    EXPECT_GT(changed, 5) << "most kills should come after some writes";
    // What a killed write leaves beside the file: its unfinished temporary copy.
    RecordProperty("files_left_beside", static_cast<int>(Entries(dir.path()).size()) - 1);
}

}  // namespace
}  // namespace pelmark::test
