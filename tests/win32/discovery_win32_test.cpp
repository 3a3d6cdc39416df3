// Port discovery on Windows. Most cases run on a stand-in for the
// installation service and the configuration manager, which shows every end
// condition and the buffer limits; the last one asks the real system for
// devices registered by the test.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "port_devices.h"
#include "serial/port_discovery.h"
#include "serial/win32/discovery_win32.h"

namespace pelmark::test {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// ---- The stand-in system ---------------------------------------------------------

struct FakeDevice {
    std::optional<std::string> portName;  // the value's bytes as stored (terminator included or not)
    std::optional<std::string> friendly;
    bool keyFails = false;
};

// A REG_SZ value as the registry keeps it, with its terminator.
std::string Sz(const std::string& text) { return text + '\0'; }

const GUID kPortsGuid = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const HDEVINFO kSet = reinterpret_cast<HDEVINFO>(static_cast<std::intptr_t>(0x5E70));
const HMODULE kCfgmgr = reinterpret_cast<HMODULE>(static_cast<std::intptr_t>(0xC0F0));
constexpr std::intptr_t kKeyBase = 0x1000;

struct FakeSystem {
    std::vector<FakeDevice> devices;
    bool noClass = false;
    bool noSet = false;
    bool noLibrary = false;
    bool noEntryPoint = false;
    bool keyOnlyThroughSetupDi = false;  // Wine: success without a key

    int loads = 0, frees = 0, destroys = 0, enumCalls = 0, openKeys = 0, setupDiKeys = 0;
    DWORD deviceDataSize = 0;
    DWORD classDevsFlags = 0;
    bool classDevsGuidIsPorts = false;
    bool classDevsWithEnumerator = false;
    std::vector<std::string> badOpenArguments;
    DWORD largestFriendlyBuffer = 0;
};

FakeSystem g_sys;

FakeDevice* DeviceOfKey(HKEY key) {
    const std::intptr_t i = reinterpret_cast<std::intptr_t>(key) - kKeyBase;
    return i >= 0 && i < static_cast<std::intptr_t>(g_sys.devices.size()) ? &g_sys.devices[static_cast<std::size_t>(i)]
                                                                          : nullptr;
}

HKEY KeyOf(DWORD devInst) { return reinterpret_cast<HKEY>(kKeyBase + static_cast<std::intptr_t>(devInst)); }

CONFIGRET WINAPI FakeOpenDevNodeKey(DEVINST inst, REGSAM access, ULONG profile, REGDISPOSITION disposition, PHKEY key,
                                    ULONG flags) {
    if (access != KEY_QUERY_VALUE || profile != 0 || disposition != RegDisposition_OpenExisting ||
        flags != CM_REGISTRY_HARDWARE)
        g_sys.badOpenArguments.push_back("device " + std::to_string(inst));
    if (inst >= g_sys.devices.size() || g_sys.devices[inst].keyFails) return CR_NO_SUCH_REGISTRY_KEY;
    if (g_sys.keyOnlyThroughSetupDi) return CR_SUCCESS;
    *key = KeyOf(inst);
    ++g_sys.openKeys;
    return CR_SUCCESS;
}

BOOL WINAPI FakeClassGuidsFromName(PCSTR name, LPGUID list, DWORD size, PDWORD required) {
    if (g_sys.noClass || std::strcmp(name, "Ports") != 0) {
        *required = 0;
        SetLastError(ERROR_INVALID_CLASS);
        return FALSE;
    }
    *required = 1;
    if (list == nullptr || size < 1) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    list[0] = kPortsGuid;
    return TRUE;
}

HDEVINFO WINAPI FakeGetClassDevs(const GUID* guid, PCSTR enumerator, HWND, DWORD flags) {
    g_sys.classDevsFlags = flags;
    g_sys.classDevsGuidIsPorts = guid != nullptr && std::memcmp(guid, &kPortsGuid, sizeof kPortsGuid) == 0;
    g_sys.classDevsWithEnumerator = enumerator != nullptr;
    return g_sys.noSet ? INVALID_HANDLE_VALUE : kSet;
}

BOOL WINAPI FakeEnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA data) {
    ++g_sys.enumCalls;
    g_sys.deviceDataSize = data->cbSize;
    if (set != kSet || data->cbSize != sizeof(SP_DEVINFO_DATA) || index >= g_sys.devices.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    data->DevInst = index;
    return TRUE;
}

BOOL WINAPI FakeGetDeviceRegistryProperty(HDEVINFO, PSP_DEVINFO_DATA data, DWORD property, PDWORD, PBYTE buffer,
                                          DWORD size, PDWORD required) {
    const FakeDevice& d = g_sys.devices.at(data->DevInst);
    if (property != SPDRP_FRIENDLYNAME || !d.friendly) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    g_sys.largestFriendlyBuffer = std::max(g_sys.largestFriendlyBuffer, size);
    const std::string value = Sz(*d.friendly);
    if (required != nullptr) *required = static_cast<DWORD>(value.size());
    if (buffer == nullptr || size < value.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(buffer, value.data(), value.size());
    return TRUE;
}

HKEY WINAPI FakeOpenDevRegKey(HDEVINFO, PSP_DEVINFO_DATA data, DWORD scope, DWORD profile, DWORD keyType,
                              REGSAM access) {
    if (scope != DICS_FLAG_GLOBAL || profile != 0 || keyType != DIREG_DEV || access != KEY_QUERY_VALUE)
        return static_cast<HKEY>(INVALID_HANDLE_VALUE);
    ++g_sys.openKeys;
    ++g_sys.setupDiKeys;
    return KeyOf(data->DevInst);
}

BOOL WINAPI FakeDestroy(HDEVINFO set) {
    ++g_sys.destroys;
    return set == kSet;
}

HMODULE WINAPI FakeLoadLibrary(LPCSTR name) {
    ++g_sys.loads;
    return g_sys.noLibrary || std::strcmp(name, "cfgmgr32") != 0 ? nullptr : kCfgmgr;
}

FARPROC WINAPI FakeGetProcAddress(HMODULE module, LPCSTR name) {
    if (module != kCfgmgr || g_sys.noEntryPoint || std::strcmp(name, "CM_Open_DevNode_Key") != 0) return nullptr;
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(FakeOpenDevNodeKey));
}

BOOL WINAPI FakeFreeLibrary(HMODULE) {
    ++g_sys.frees;
    return TRUE;
}

LONG WINAPI FakeRegQueryValueEx(HKEY key, LPCSTR name, LPDWORD, LPDWORD, LPBYTE data, LPDWORD size) {
    const FakeDevice* d = DeviceOfKey(key);
    if (d == nullptr) return ERROR_INVALID_HANDLE;
    if (_stricmp(name, "portname") != 0 || !d->portName) return ERROR_FILE_NOT_FOUND;
    const std::string& value = *d->portName;
    if (data == nullptr || *size < value.size()) {
        *size = static_cast<DWORD>(value.size());
        return ERROR_MORE_DATA;
    }
    std::memcpy(data, value.data(), value.size());
    *size = static_cast<DWORD>(value.size());
    return ERROR_SUCCESS;
}

LONG WINAPI FakeRegCloseKey(HKEY key) {
    if (DeviceOfKey(key) == nullptr) return ERROR_INVALID_HANDLE;
    --g_sys.openKeys;
    return ERROR_SUCCESS;
}

const win32::DiscoveryApi kFakeApi = {
    FakeClassGuidsFromName, FakeGetClassDevs, FakeEnumDeviceInfo, FakeGetDeviceRegistryProperty,
    FakeOpenDevRegKey,      FakeDestroy,      FakeLoadLibrary,    FakeGetProcAddress,
    FakeFreeLibrary,        FakeRegQueryValueEx, FakeRegCloseKey,
};

// ---- Fixture --------------------------------------------------------------------

constexpr unsigned char kGuard = 0x7E;

class Discovery : public ::testing::Test {
protected:
    DeviceSet set = reinterpret_cast<DeviceSet>(kSet);
    // The caller's buffers, with guard bytes behind them.
    char portName[kCallerNameBuffer + 16];
    char friendly[kCallerNameBuffer + 16];

    void SetUp() override {
        g_sys = FakeSystem{};
        win32::SetDiscoveryApi(&kFakeApi);
    }
    void TearDown() override { win32::SetDiscoveryApi(nullptr); }

    int Next(bool withFriendly = true) {
        std::memset(portName, kGuard, sizeof portName);
        std::memset(friendly, kGuard, sizeof friendly);
        return PortEnumNext(set, portName, withFriendly ? friendly : nullptr);
    }

    // Calls PortEnumNext until it stops delivering; `last` gets its final result.
    Pairs Collect(int* last = nullptr) {
        Pairs pairs;
        int r = 0;
        for (int guard = 0; guard < 100 && (r = Next()) == 1; ++guard) pairs.emplace_back(portName, friendly);
        if (last != nullptr) *last = r;
        return pairs;
    }

    bool GuardsIntact() const {
        for (int i = kCallerNameBuffer; i < kCallerNameBuffer + 16; ++i)
            if (static_cast<unsigned char>(portName[i]) != kGuard || static_cast<unsigned char>(friendly[i]) != kGuard)
                return false;
        return true;
    }

    // Nothing held after an enumeration ended.
    void ExpectIdle() const {
        EXPECT_EQ(g_sys.loads, g_sys.frees) << "cfgmgr32 left loaded";
        EXPECT_EQ(g_sys.openKeys, 0) << "a device key left open";
        EXPECT_EQ(g_sys.destroys, 0) << "the device set belongs to PortEnumEnd";
    }
};

TEST_F(Discovery, DeliversTheComPortsInSetOrderAndPassesOverOthers) {
    g_sys.devices = {
        {Sz("COM1"), "Communications Port (COM1)"},
        {Sz("LPT1"), "Printer Port (LPT1)"},
        {Sz("COM5"), "USB Serial Port (COM5)"},
    };
    int last = -9;
    EXPECT_EQ(Collect(&last), (Pairs{{"COM1", "Communications Port (COM1)"}, {"COM5", "USB Serial Port (COM5)"}}));
    EXPECT_EQ(last, 0);
    EXPECT_EQ(g_sys.loads, 1);  // one enumeration, one load
    EXPECT_EQ(g_sys.deviceDataSize, sizeof(SP_DEVINFO_DATA));
    EXPECT_TRUE(g_sys.badOpenArguments.empty());
    EXPECT_EQ(g_sys.largestFriendlyBuffer, static_cast<DWORD>(kFriendlyNameArea));
    ExpectIdle();
}

TEST_F(Discovery, NameIsDeliveredAsStored) {
    g_sys.devices = {{Sz("com7"), "Virtual port"}, {Sz("Com12"), "Adapter"}};
    EXPECT_EQ(Collect(), (Pairs{{"com7", "Virtual port"}, {"Com12", "Adapter"}}));
}

struct EarlyEnd {
    const char* what;
    FakeDevice bad;
};

class DiscoveryEndsEarly : public Discovery, public ::testing::WithParamInterface<EarlyEnd> {};

TEST_P(DiscoveryEndsEarly, PortsBehindTheDeviceAreNotListedAndTheNextEnumerationStartsOver) {
    g_sys.devices = {{Sz("COM1"), "first"}, GetParam().bad, {Sz("COM3"), "third"}};
    int last = -9;
    EXPECT_EQ(Collect(&last), (Pairs{{"COM1", "first"}}));
    EXPECT_EQ(last, 0);
    ExpectIdle();
    EXPECT_TRUE(GuardsIntact());
    // The next showing begins again at the first device.
    EXPECT_EQ(Next(), 1);
    EXPECT_STREQ(portName, "COM1");
    EXPECT_EQ(g_sys.loads, 2);
}

INSTANTIATE_TEST_SUITE_P(
    EndConditions, DiscoveryEndsEarly,
    ::testing::Values(EarlyEnd{"NoPortName", {std::nullopt, "no value"}},
                      EarlyEnd{"KeyDoesNotOpen", {Sz("COM2"), "no key", true}},
                      EarlyEnd{"SevenCharactersNoTerminator", {std::string("COM1000"), "fills the area"}},
                      EarlyEnd{"SevenCharacters", {Sz("COM1000"), "too long"}},
                      EarlyEnd{"ComZero", {Sz("COM0"), "zero"}},
                      EarlyEnd{"ComWithoutNumber", {Sz("COM"), "none"}},
                      EarlyEnd{"ComLetters", {Sz("COMx2"), "letters"}},
                      EarlyEnd{"ComNegative", {Sz("COM-3"), "negative"}}),
    [](const ::testing::TestParamInfo<EarlyEnd>& p) { return std::string(p.param.what); });

TEST_F(Discovery, SixCharacterNameFitsTheArea) {
    g_sys.devices = {{Sz("COM257"), "last port"}, {Sz("COM999"), "largest"}};
    EXPECT_EQ(Collect(), (Pairs{{"COM257", "last port"}, {"COM999", "largest"}}));
}

TEST_F(Discovery, WithoutCfgmgr32NothingIsDeliveredAndTheNextShowingTriesAgain) {
    g_sys.devices = {{Sz("COM1"), "first"}};
    g_sys.noLibrary = true;
    EXPECT_EQ(Next(), 0);
    EXPECT_EQ(g_sys.enumCalls, 0);
    EXPECT_EQ(Next(), 0);
    EXPECT_EQ(g_sys.loads, 2);
    EXPECT_EQ(g_sys.frees, 0);  // nothing was loaded
}

TEST_F(Discovery, Cfgmgr32WithoutTheEntryPointIsReleased) {
    g_sys.devices = {{Sz("COM1"), "first"}};
    g_sys.noEntryPoint = true;
    EXPECT_EQ(Next(), 0);
    EXPECT_EQ(g_sys.enumCalls, 0);
    EXPECT_EQ(g_sys.frees, 1);
}

TEST_F(Discovery, ConfigurationManagerThatHandsOutNoKey) {
    g_sys.devices = {{Sz("COM1"), "first"}, {Sz("COM2"), "second"}};
    g_sys.keyOnlyThroughSetupDi = true;
    EXPECT_EQ(Collect(), (Pairs{{"COM1", "first"}, {"COM2", "second"}}));
    EXPECT_EQ(g_sys.setupDiKeys, 2);
    ExpectIdle();
}

TEST_F(Discovery, FriendlyNames) {
    const std::string fits(kCallerNameBuffer - 1, 'a');
    const std::string longer(250, 'b');
    const std::string areaFull(kFriendlyNameArea - 1, 'c');  // with its terminator exactly 300 bytes
    const std::string beyondArea(kFriendlyNameArea, 'd');
    struct Case {
        std::optional<std::string> stored;
        std::string delivered;
    };
    const Case cases[] = {
        {std::nullopt, "COM4"},                               // none: the port name
        {std::string(), "COM4"},                              // empty: the port name
        {fits, fits},                                         // 199 characters: as it is
        {longer, longer.substr(0, kCallerNameBuffer - 1)},    // shortened to the caller's buffer
        {areaFull, areaFull.substr(0, kCallerNameBuffer - 1)},
        {beyondArea, "COM4"},                                 // does not fit discovery's area
    };
    for (const Case& c : cases) {
        g_sys = FakeSystem{};
        g_sys.devices = {{Sz("COM4"), c.stored}};
        ASSERT_EQ(Next(), 1);
        EXPECT_STREQ(portName, "COM4");
        EXPECT_EQ(std::string(friendly), c.delivered) << (c.stored ? c.stored->size() : 0);
        EXPECT_TRUE(GuardsIntact());
        EXPECT_EQ(Next(), 0);
    }
}

TEST_F(Discovery, FriendlyNameIsOptionalForTheCaller) {
    g_sys.devices = {{Sz("COM2"), "second"}};
    EXPECT_EQ(Next(false), 1);
    EXPECT_STREQ(portName, "COM2");
    EXPECT_EQ(static_cast<unsigned char>(friendly[0]), kGuard);
}

TEST_F(Discovery, NoSetOrNoPlaceForThePortName) {
    g_sys.devices = {{Sz("COM1"), "first"}};
    EXPECT_EQ(PortEnumNext(0, portName, friendly), -1);
    EXPECT_EQ(PortEnumNext(set, nullptr, friendly), -1);
    EXPECT_EQ(g_sys.loads, 0);
}

TEST_F(Discovery, BeginAsksForThePresentDevicesOfThePortsClass) {
    EXPECT_EQ(PortEnumBegin(), set);
    EXPECT_EQ(g_sys.classDevsFlags, static_cast<DWORD>(DIGCF_PRESENT));
    EXPECT_TRUE(g_sys.classDevsGuidIsPorts);
    EXPECT_FALSE(g_sys.classDevsWithEnumerator);
}

TEST_F(Discovery, WithoutClassOrSetThereIsNoSetAndNothingIsDelivered) {
    g_sys.devices = {{Sz("COM1"), "first"}};
    g_sys.noClass = true;
    EXPECT_EQ(PortEnumBegin(), kNoDeviceSet);
    g_sys.noClass = false;
    g_sys.noSet = true;
    EXPECT_EQ(PortEnumBegin(), kNoDeviceSet);
    set = kNoDeviceSet;
    EXPECT_EQ(Next(), 0);
    ExpectIdle();
}

TEST_F(Discovery, EndReleasesTheSetOnce) {
    g_sys.devices = {{Sz("COM1"), "first"}, {Sz("COM0"), "ends it"}};
    Collect();
    EXPECT_EQ(g_sys.destroys, 0);
    EXPECT_EQ(PortEnumEnd(set), 1);
    EXPECT_EQ(g_sys.destroys, 1);
    EXPECT_EQ(PortEnumEnd(kNoDeviceSet), 0);
}

// ---- The real system --------------------------------------------------------------

class SystemDiscovery : public ::testing::Test {
protected:
    std::vector<std::string> made;

    void Register(const char* portName, const char* friendlyName) {
        std::string error;
        const std::string id = RegisterPortDevice("PELMARKTEST", portName, friendlyName, &error);
        if (id.empty()) GTEST_SKIP() << "cannot register a test device: " << error;
        made.push_back(id);
    }
    void TearDown() override {
        for (const std::string& id : made) EXPECT_TRUE(RemovePortDevice(id)) << id;
    }
};

TEST_F(SystemDiscovery, FindsRegisteredPortsWithTheirFriendlyNames) {
    Register("COM201", "Pelmark test port (COM201)");
    Register("LPT9", "Pelmark test printer port (LPT9)");
    Register("COM202", "");
    if (IsSkipped()) return;

    Pairs pairs;
    const DeviceSet set = PortEnumBegin();
    ASSERT_NE(set, kNoDeviceSet);
    char name[kCallerNameBuffer];
    char friendly[kCallerNameBuffer];
    int r = 0;
    for (int guard = 0; guard < 300 && (r = PortEnumNext(set, name, friendly)) == 1; ++guard)
        if (std::strncmp(name, "COM20", 5) == 0 || std::strncmp(name, "LPT", 3) == 0) pairs.emplace_back(name, friendly);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(PortEnumEnd(set), 1);
    EXPECT_EQ(pairs, (Pairs{{"COM201", "Pelmark test port (COM201)"}, {"COM202", "COM202"}}));
}

}  // namespace
}  // namespace pelmark::test
