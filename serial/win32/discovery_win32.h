// Port discovery on Windows goes through the device-installation service
// (SetupDi) and the configuration manager. The calls it makes are gathered
// here so its tests can stand in for the system and show every end condition.
#pragma once

#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>

namespace pelmark::win32 {

using OpenDevNodeKeyFn = CONFIGRET(WINAPI*)(DEVINST, REGSAM, ULONG, REGDISPOSITION, PHKEY, ULONG);

struct DiscoveryApi {
    BOOL(WINAPI* classGuidsFromName)(PCSTR className, LPGUID list, DWORD listSize, PDWORD required);
    HDEVINFO(WINAPI* getClassDevs)(const GUID* classGuid, PCSTR enumerator, HWND parent, DWORD flags);
    BOOL(WINAPI* enumDeviceInfo)(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA device);
    BOOL(WINAPI* getDeviceRegistryProperty)(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD property,
                                            PDWORD type, PBYTE buffer, DWORD size, PDWORD required);
    // The device's hardware key, for a configuration manager that reports
    // success without handing out a key (Wine's).
    HKEY(WINAPI* openDevRegKey)(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD scope, DWORD profile,
                                DWORD keyType, REGSAM access);
    BOOL(WINAPI* destroyDeviceInfoList)(HDEVINFO set);
    HMODULE(WINAPI* loadLibrary)(LPCSTR name);
    FARPROC(WINAPI* getProcAddress)(HMODULE module, LPCSTR name);
    BOOL(WINAPI* freeLibrary)(HMODULE module);
    LONG(WINAPI* regQueryValueEx)(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                  LPDWORD size);
    LONG(WINAPI* regCloseKey)(HKEY key);
};

// The system's functions.
const DiscoveryApi& SystemDiscoveryApi();

// Makes discovery call `api` (nullptr: the system again) and forgets any
// enumeration in progress without releasing what it held.
void SetDiscoveryApi(const DiscoveryApi* api);

}  // namespace pelmark::win32
