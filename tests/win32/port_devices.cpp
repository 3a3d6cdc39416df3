#include "port_devices.h"

#include <windows.h>
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>
#include <cfgmgr32.h>

namespace pelmark::test {

namespace {

std::string Failure(const char* step) { return std::string(step) + " failed, error " + std::to_string(GetLastError()); }

}  // namespace

std::string RegisterPortDevice(const std::string& enumeratorName, const std::string& portName,
                               const std::string& friendlyName, std::string* error) {
    std::string why;
    std::string id;
    HDEVINFO set = SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_PORTS, nullptr);
    if (set == INVALID_HANDLE_VALUE) {
        if (error != nullptr) *error = Failure("SetupDiCreateDeviceInfoList");
        return id;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (!SetupDiCreateDeviceInfoA(set, enumeratorName.c_str(), &GUID_DEVCLASS_PORTS, nullptr, nullptr,
                                  DICD_GENERATE_ID, &device)) {
        why = Failure("SetupDiCreateDeviceInfo");
    } else if (!SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr)) {
        why = Failure("SetupDiRegisterDeviceInfo");
    } else {
        if (!friendlyName.empty() &&
            !SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_FRIENDLYNAME,
                                               reinterpret_cast<const BYTE*>(friendlyName.c_str()),
                                               static_cast<DWORD>(friendlyName.size() + 1)))
            why = Failure("SetupDiSetDeviceRegistryProperty");
        HKEY key = SetupDiCreateDevRegKeyA(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr);
        if (key == INVALID_HANDLE_VALUE) {
            why = Failure("SetupDiCreateDevRegKey");
        } else {
            const LONG rc = RegSetValueExA(key, "PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(portName.c_str()),
                                           static_cast<DWORD>(portName.size() + 1));
            if (rc != ERROR_SUCCESS) why = "RegSetValueEx failed, error " + std::to_string(rc);
            RegCloseKey(key);
        }
        char instance[MAX_DEVICE_ID_LEN];
        if (SetupDiGetDeviceInstanceIdA(set, &device, instance, sizeof instance, nullptr)) id = instance;
        if (!why.empty()) {
            SetupDiRemoveDevice(set, &device);
            id.clear();
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    if (error != nullptr) *error = why;
    return id;
}

bool RemovePortDevice(const std::string& instanceId) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_PORTS, nullptr);
    if (set == INVALID_HANDLE_VALUE) return false;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    const bool removed = SetupDiOpenDeviceInfoA(set, instanceId.c_str(), nullptr, 0, &device) &&
                         SetupDiRemoveDevice(set, &device);
    SetupDiDestroyDeviceInfoList(set);
    return removed;
}

}  // namespace pelmark::test
