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

}  // namespace pelmark::text
