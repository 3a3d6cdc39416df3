// The settings store: the text form of the port, the three key paths, and an
// INI file that never ends up half written.
#include <sys/stat.h>

#include "gui_test_support.h"
#include "shell/settings.h"
#include "shell/settings_text.h"

namespace pelmark::test {
namespace {

TEST(PortSettingText, ReadsLikeAtolTruncatedTo16Bits) {
    struct Case {
        const char* text;
        std::int16_t port;
    } const cases[] = {
        {"0", 0},          {"12", 12},         {"12abc", 12},   {"abc", 0},
        {"", 0},           {"-1", -1},         {"-", 0},        {"+7", 7},
        {"  \t 3", 3},     {" -2x", -2},       {"3 4", 3},      {"70000", 4464},
        {"65535", -1},     {"32768", -32768},  {"-32769", 32767}, {"0012", 12},
        // Beyond a 32-bit long the number saturates before it is truncated.
        {"99999999999", -1}, {"-99999999999", 0}, {"2147483647", -1}, {"x12", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(ParsePortSetting(c.text), c.port) << '"' << c.text << '"';
    EXPECT_EQ(ParsePortSetting(static_cast<const char*>(nullptr)), 0);
}

TEST(PortSettingText, WritesSignedDecimal) {
    EXPECT_EQ(FormatPortSetting(0), "0");
    EXPECT_EQ(FormatPortSetting(12), "12");
    EXPECT_EQ(FormatPortSetting(-1), "-1");
    EXPECT_EQ(FormatPortSetting(-32768), "-32768");
    for (int i : {-32768, -1, 0, 1, 255, 32767})
        EXPECT_EQ(ParsePortSetting(FormatPortSetting(static_cast<std::int16_t>(i))), i);
}

using SettingsStore = GuiTest;

TEST_F(SettingsStore, KeyPathsBySelector) {
    EXPECT_STREQ(SettingsKeyPath(0), "Software\\Norvane\\Pelmark\\");
    EXPECT_STREQ(SettingsKeyPath(1), "Software\\Tarnwell\\Upgrade\\");
    EXPECT_STREQ(SettingsKeyPath(2), "Software\\Veldra\\Loader\\");
    EXPECT_STREQ(SettingsKeyPath(3), SettingsKeyPath(0));
    EXPECT_STREQ(SettingsKeyPath(-1), SettingsKeyPath(0));
}

TEST_F(SettingsStore, FileLocation) {
    EXPECT_EQ(SettingsFilePath(), settingsFile_);
    unsetenv("PELMARK_SETTINGS");
    setenv("XDG_CONFIG_HOME", "/somewhere/config", 1);
    EXPECT_EQ(SettingsFilePath(), "/somewhere/config/pelmark/settings.ini");
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(SettingsFilePath(), "/home/someone/.config/pelmark/settings.ini");
}

TEST_F(SettingsStore, MissingFileGroupOrValueReadsEmpty) {
    EXPECT_EQ(ReadSetting("com", 0), "");
    StoreSettings("[HKEY_LOCAL_MACHINE/Software/Norvane/Pelmark]\nother=5\n");
    EXPECT_EQ(ReadSetting("com", 0), "");
    EXPECT_EQ(ReadSetting("com", 1), "");
}

TEST_F(SettingsStore, FirstWriteCreatesFileAndGroup) {
    setenv("PELMARK_SETTINGS", (dir_.path() + "/new/dir/settings.ini").c_str(), 1);
    WriteSetting("com", "0", 0);
    EXPECT_EQ(ReadFile(dir_.path() + "/new/dir/settings.ini"),
              "[HKEY_LOCAL_MACHINE/Software/Norvane/Pelmark]\ncom=0\n");
    EXPECT_EQ(ReadSetting("com", 0), "0");
}

TEST_F(SettingsStore, SelectorsKeepTheirOwnValue) {
    WriteSetting("com", "3", 0);
    WriteSetting("com", "7", 1);
    WriteSetting("com", "-1", 2);
    WriteSetting("com", "4", 9);  // any other selector is the main updater window's
    EXPECT_EQ(ReadSetting("com", 0), "4");
    EXPECT_EQ(ReadSetting("com", 1), "7");
    EXPECT_EQ(ReadSetting("com", 2), "-1");
    EXPECT_EQ(ReadSetting("com", 5), "4");
    EXPECT_EQ(StoredSettings(),
              "[HKEY_LOCAL_MACHINE/Software/Norvane/Pelmark]\ncom=4\n\n"
              "[HKEY_LOCAL_MACHINE/Software/Tarnwell/Upgrade]\ncom=7\n\n"
              "[HKEY_LOCAL_MACHINE/Software/Veldra/Loader]\ncom=-1\n");
}

TEST_F(SettingsStore, RewriteKeepsEverythingElse) {
    StoreSettings("; kept\n[HKEY_LOCAL_MACHINE/Software/Veldra/Loader]\nCOM=2\nextra=x\n\n[Other]\ncom=9\n");
    EXPECT_EQ(ReadSetting("com", 2), "2");  // names compare without regard to case, as in the registry
    WriteSetting("com", "11", 2);
    EXPECT_EQ(StoredSettings(), "; kept\n[HKEY_LOCAL_MACHINE/Software/Veldra/Loader]\ncom=11\nextra=x\n\n[Other]\ncom=9\n");
    WriteSetting("mode", "1", 2);
    EXPECT_EQ(ReadSetting("mode", 2), "1");
    EXPECT_EQ(ReadSetting("com", 2), "11");
}

TEST_F(SettingsStore, ValuesThatAreNotTextReadAsMissing) {
    struct Case {
        const char* stored;
        const char* read;
    } const cases[] = {
        {"com=12abc\n", "12abc"},
        {"com=@Variant(\\0\\0\\0\\x7f)\n", ""},
        {"com=@ByteArray(3)\n", ""},
        {"com=\xff\xfe\n", ""},
        {"com=  5\n", "  5"},
    };
    for (const Case& c : cases) {
        StoreSettings(std::string("[HKEY_LOCAL_MACHINE/Software/Norvane/Pelmark]\n") + c.stored);
        EXPECT_EQ(ReadSetting("com", 0), c.read) << c.stored;
    }
}

TEST_F(SettingsStore, UnwritableFileChangesNothingSilently) {
    // The settings "file" lies below a regular file: no directory can be made.
    WriteFile(dir_.path() + "/blocker", "x");
    setenv("PELMARK_SETTINGS", (dir_.path() + "/blocker/settings.ini").c_str(), 1);
    WriteSetting("com", "5", 0);
    EXPECT_EQ(ReadSetting("com", 0), "");
    EXPECT_EQ(ReadFile(dir_.path() + "/blocker"), "x");

    // A settings path that is a directory cannot be read, and is not replaced.
    const std::string asDir = dir_.path() + "/isdir.ini";
    mkdir(asDir.c_str(), 0700);
    setenv("PELMARK_SETTINGS", asDir.c_str(), 1);
    WriteSetting("com", "5", 0);
    struct stat st {};
    ASSERT_EQ(stat(asDir.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(SettingsStore, ReadsARegularFileOnly) {
    // A link is followed for reading: the file it leads to is read.
    WriteFile(dir_.path() + "/real.ini", "[HKEY_LOCAL_MACHINE/Software/Norvane/Pelmark]\ncom=6\n");
    ASSERT_EQ(symlink("real.ini", settingsFile_.c_str()), 0);
    EXPECT_EQ(ReadSetting("com", 0), "6");
    // A fifo would block the program's start: it reads as no file at all.
    const std::string fifo = dir_.path() + "/fifo.ini";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(symlink("fifo.ini", (dir_.path() + "/to-fifo.ini").c_str()), 0);
    for (const std::string& path : {fifo, dir_.path() + "/to-fifo.ini"}) {
        setenv("PELMARK_SETTINGS", path.c_str(), 1);
        EXPECT_EQ(ReadSetting("com", 0), "") << path;
    }
}

TEST_F(SettingsStore, WriteReplacesTheFileAtomically) {
    WriteSetting("com", "1", 0);
    struct stat before {};
    ASSERT_EQ(stat(settingsFile_.c_str(), &before), 0);
    WriteSetting("com", "2", 0);
    struct stat after {};
    ASSERT_EQ(stat(settingsFile_.c_str(), &after), 0);
    // A new file took the old one's place (rename), rather than the old one
    // being truncated and rewritten where a crash would leave it damaged.
    EXPECT_NE(before.st_ino, after.st_ino);
    EXPECT_EQ(ReadSetting("com", 0), "2");
}

}  // namespace
}  // namespace pelmark::test
