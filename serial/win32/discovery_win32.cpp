// Port discovery on Windows: the present devices of the setup class "Ports",
// each device's hardware key opened through the configuration manager (loaded
// at run time from cfgmgr32), its "portname" read there, and the friendly name
// its driver gives it. One pair per call; the enumeration state lives between
// calls, so only one enumeration runs at a time.
#include "serial/port_discovery.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "serial/com_name.h"
#include "serial/win32/discovery_win32.h"

namespace pelmark {

namespace win32 {

const DiscoveryApi& SystemDiscoveryApi() {
    static const DiscoveryApi api = {
        SetupDiClassGuidsFromNameA,
        SetupDiGetClassDevsA,
        SetupDiEnumDeviceInfo,
        SetupDiGetDeviceRegistryPropertyA,
        SetupDiOpenDevRegKey,
        SetupDiDestroyDeviceInfoList,
        LoadLibraryA,
        GetProcAddress,
        FreeLibrary,
        RegQueryValueExA,
        RegCloseKey,
    };
    return api;
}

}  // namespace win32

namespace {

using win32::DiscoveryApi;

const DiscoveryApi* g_api = nullptr;

const DiscoveryApi& Api() { return g_api != nullptr ? *g_api : win32::SystemDiscoveryApi(); }

// The enumeration in progress: idle while no entry point is held.
struct Enumeration {
    HMODULE cfgmgr = nullptr;
    win32::OpenDevNodeKeyFn openDevNodeKey = nullptr;
    DWORD position = 0;
};

Enumeration g_enumeration;

// Releases the configuration manager, so the next call starts over at the
// first device. The device set stays: PortEnumEnd releases it.
void EndEnumeration() {
    if (g_enumeration.cfgmgr != nullptr) Api().freeLibrary(g_enumeration.cfgmgr);
    g_enumeration = Enumeration{};
}

HDEVINFO SetOf(DeviceSet set) { return reinterpret_cast<HDEVINFO>(set); }

// The device's hardware key, or null.
HKEY OpenHardwareKey(HDEVINFO set, SP_DEVINFO_DATA* device) {
    HKEY key = nullptr;
    const CONFIGRET result = g_enumeration.openDevNodeKey(device->DevInst, KEY_QUERY_VALUE, 0,
                                                          RegDisposition_OpenExisting, &key, CM_REGISTRY_HARDWARE);
    if (result != CR_SUCCESS) return nullptr;
    if (key != nullptr) return key;
    // Success without a key: the same key through the installation service.
    key = Api().openDevRegKey(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    return key == INVALID_HANDLE_VALUE ? nullptr : key;
}

}  // namespace

namespace win32 {

void SetDiscoveryApi(const DiscoveryApi* api) {
    g_api = api;
    g_enumeration = Enumeration{};
}

}  // namespace win32

DeviceSet PortEnumBegin() {
    const DiscoveryApi& api = Api();
    DWORD count = 0;
    api.classGuidsFromName("Ports", nullptr, 0, &count);
    if (count == 0) return kNoDeviceSet;
    std::vector<GUID> guids(count);
    if (api.classGuidsFromName("Ports", guids.data(), count, &count) == 0) return kNoDeviceSet;
    const HDEVINFO set = api.getClassDevs(&guids[0], nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return kNoDeviceSet;
    return reinterpret_cast<DeviceSet>(set);
}

int PortEnumNext(DeviceSet set, char* portName, char* friendlyName) {
    if (set == 0 || portName == nullptr) return -1;
    const DiscoveryApi& api = Api();
    if (g_enumeration.openDevNodeKey == nullptr) {
        g_enumeration = Enumeration{};
        g_enumeration.cfgmgr = api.loadLibrary("cfgmgr32");
        if (g_enumeration.cfgmgr == nullptr) return 0;
        g_enumeration.openDevNodeKey =
            reinterpret_cast<win32::OpenDevNodeKeyFn>(
                reinterpret_cast<void*>(api.getProcAddress(g_enumeration.cfgmgr, "CM_Open_DevNode_Key")));
        if (g_enumeration.openDevNodeKey == nullptr) {
            EndEnumeration();
            return 0;
        }
        g_enumeration.position = 0;
    }

    for (;;) {
        SP_DEVINFO_DATA device;
        std::memset(&device, 0, sizeof device);
        device.cbSize = sizeof device;  // 28 in a 32-bit program, 32 in a 64-bit one
        if (api.enumDeviceInfo(SetOf(set), g_enumeration.position, &device) == 0) {
            EndEnumeration();
            return 0;
        }
        const HKEY key = OpenHardwareKey(SetOf(set), &device);
        if (key == nullptr) {
            EndEnumeration();
            return 0;
        }

        char name[kPortNameArea];
        std::memset(name, 0, sizeof name);
        DWORD nameSize = kPortNameArea;
        const LONG nameRead =
            api.regQueryValueEx(key, "portname", nullptr, nullptr, reinterpret_cast<BYTE*>(name), &nameSize);

        char friendly[kFriendlyNameArea];
        std::memset(friendly, 0, sizeof friendly);
        DWORD needed = 0;
        api.getDeviceRegistryProperty(SetOf(set), &device, SPDRP_FRIENDLYNAME, nullptr, nullptr, 0, &needed);
        const bool haveFriendly =
            needed <= kFriendlyNameArea &&
            api.getDeviceRegistryProperty(SetOf(set), &device, SPDRP_FRIENDLYNAME, nullptr,
                                          reinterpret_cast<BYTE*>(friendly), kFriendlyNameArea, nullptr) != 0;
        friendly[kFriendlyNameArea - 1] = '\0';

        api.regCloseKey(key);

        // A value of seven bytes fills the area without its terminator: a
        // name longer than six characters.
        if (nameRead != ERROR_SUCCESS || name[kPortNameArea - 1] != '\0') {
            EndEnumeration();
            return 0;
        }
        ++g_enumeration.position;

        if (!serial::HasComPrefix(name)) continue;  // a parallel port or another member of the class
        if (serial::ComNumberAfterPrefix(name) < 1) {
            EndEnumeration();
            return 0;
        }

        std::memcpy(portName, name, std::strlen(name) + 1);
        if (friendlyName != nullptr) {
            // A device without a friendly name (or one too long for the
            // area) is shown by its port name; a long one is shortened to
            // what the caller's buffer holds.
            const char* text = haveFriendly && friendly[0] != '\0' ? friendly : name;
            const std::size_t length = std::min<std::size_t>(std::strlen(text), kCallerNameBuffer - 1);
            std::memcpy(friendlyName, text, length);
            friendlyName[length] = '\0';
        }
        return 1;
    }
}

int PortEnumEnd(DeviceSet set) {
    return Api().destroyDeviceInfoList(SetOf(set)) != 0 ? 1 : 0;
}

}  // namespace pelmark
