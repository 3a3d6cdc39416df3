// The settings store in the registry. HKEY_LOCAL_MACHINE is redirected to a
// scratch key of the current user for each test (RegOverridePredefKey), so
// the tests neither need administrator rights nor touch a real setting.
#include <gtest/gtest.h>

#include <string>

#include "shell/settings.h"

#include <windows.h>

namespace pelmark {
namespace {

constexpr const char* kScratch = "Software\\PelmarkSettingsTest";

class RegistryStore : public ::testing::Test {
protected:
    HKEY root = nullptr;

    void SetUp() override {
        RegDeleteTreeA(HKEY_CURRENT_USER, kScratch);
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kScratch, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegOverridePredefKey(HKEY_LOCAL_MACHINE, root), ERROR_SUCCESS);
    }
    void TearDown() override {
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        if (root != nullptr) RegCloseKey(root);
        RegDeleteTreeA(HKEY_CURRENT_USER, kScratch);
    }

    // The value as the registry holds it under the scratch root: its type and
    // bytes, or type REG_NONE when it is missing.
    std::pair<DWORD, std::string> Stored(const char* keyPath, const char* name) const {
        HKEY key = nullptr;
        if (RegOpenKeyExA(root, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return {REG_NONE, {}};
        char data[256] = {};
        DWORD size = sizeof data;
        DWORD type = REG_NONE;
        const LONG rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
        RegCloseKey(key);
        if (rc != ERROR_SUCCESS) return {REG_NONE, {}};
        return {type, std::string(data, size)};
    }

    void Put(const char* keyPath, const char* name, DWORD type, const void* data, DWORD size) const {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(root, keyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
        RegCloseKey(key);
    }
};

TEST_F(RegistryStore, MissingKeyOrValueReadsEmpty) {
    for (int selector : {kSettingsMain, kSettingsUpgrade, kSettingsLoader}) EXPECT_EQ(ReadSetting("com", selector), "");
    Put("Software\\Norvane\\Pelmark", "other", REG_SZ, "5", 2);
    EXPECT_EQ(ReadSetting("com", kSettingsMain), "");
}

TEST_F(RegistryStore, FirstWriteCreatesTheKeyWithAStringValue) {
    WriteSetting("com", "0", kSettingsMain);
    EXPECT_EQ(Stored("Software\\Norvane\\Pelmark", "com"), (std::pair<DWORD, std::string>{REG_SZ, std::string("0\0", 2)}));
    EXPECT_EQ(ReadSetting("com", kSettingsMain), "0");
}

TEST_F(RegistryStore, EachFrontEndHasItsOwnKey) {
    WriteSetting("com", "3", kSettingsMain);
    WriteSetting("com", "7", kSettingsUpgrade);
    WriteSetting("com", "-1", kSettingsLoader);
    WriteSetting("com", "12", 9);  // any other selector is the main updater window's
    EXPECT_EQ(ReadSetting("com", kSettingsMain), "12");
    EXPECT_EQ(ReadSetting("com", -1), "12");
    EXPECT_EQ(ReadSetting("com", kSettingsUpgrade), "7");
    EXPECT_EQ(ReadSetting("com", kSettingsLoader), "-1");
    EXPECT_EQ(Stored("Software\\Tarnwell\\Upgrade", "com").second, std::string("7\0", 2));
    EXPECT_EQ(Stored("Software\\Veldra\\Loader", "com").second, std::string("-1\0", 3));
}

TEST_F(RegistryStore, StringValuesAreReadAsTheyAre) {
    struct Case {
        DWORD type;
        std::string bytes;  // as stored
        std::string read;
    };
    const Case cases[] = {
        {REG_SZ, std::string("12abc\0", 6), "12abc"},          // the window turns it into COM13
        {REG_SZ, std::string("5", 1), "5"},                    // stored without its terminator
        {REG_SZ, std::string("4\0junk\0", 7), "4"},            // up to the first terminator
        {REG_EXPAND_SZ, std::string("%X%1\0", 5), "%X%1"},     // not expanded
        {REG_DWORD, std::string("\x05\0\0\0", 4), ""},         // not a string
        {REG_BINARY, std::string("7", 1), ""},
        {REG_MULTI_SZ, std::string("8\0\0", 3), ""},
    };
    for (const Case& c : cases) {
        Put("Software\\Veldra\\Loader", "com", c.type, c.bytes.data(), static_cast<DWORD>(c.bytes.size()));
        EXPECT_EQ(ReadSetting("com", kSettingsLoader), c.read) << "type " << c.type;
    }
}

TEST_F(RegistryStore, TextOutsideAsciiSurvivesTheRoundTrip) {
    const std::string text = "Port \xC3\xA9\xE2\x82\xAC";  // "Port é€" in UTF-8
    WriteSetting("label", text, kSettingsUpgrade);
    EXPECT_EQ(ReadSetting("label", kSettingsUpgrade), text);
}

}  // namespace
}  // namespace pelmark
