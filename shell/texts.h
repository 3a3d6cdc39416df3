// The system's own texts, each written once: the engine, the port layer, the
// windows, the console and the tests take them from here. They are shown
// exactly as they stand, spaces included.
#pragma once

namespace pelmark::text {

// ---- The engine and the port layer --------------------------------------------
constexpr const char kProgramOk[] = " Program Ok ";          // main updater window
constexpr const char kUpgradeProgramOk[] = "Program OK";     // Upgrade window
constexpr const char kLoaderUpdated[] = "Successfully updated";  // Loader window

// ---- The front ends -------------------------------------------------------------
constexpr const char kMainTitle[] = "Updater 2.7";       // main updater window, before the tag
constexpr const char kUpgradeTitle[] = "Upgrade 1.1";    // Upgrade window, before the tag
constexpr const char kLoaderTitle[] = "Loader 1.0";      // Loader window, before the tag
constexpr const char kAlternateSearchMark[] = "   -(N)-";  // Loader title with the alternate search
constexpr const char kLoaderGuide[] = "Push 'Update FW' button and connect a device";
constexpr const char kDeviceNotFound[] = "The device is not find.";          // Loader, nothing answered
constexpr const char kPortNotValid[] = "Port not valid. Select a new port.";  // Loader, port unusable

}  // namespace pelmark::text
