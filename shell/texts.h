// The system's own texts, each written once: the engine, the port layer, the
// windows, the console and the tests take them from here. They are shown
// exactly as they stand, spaces included.
#pragma once

namespace pelmark::text {

// ---- The engine and the port layer --------------------------------------------
// Outcomes of a pass.
constexpr const char kProgramOk[] = " Program Ok ";          // main updater window
constexpr const char kUpgradeProgramOk[] = "Program OK";     // Upgrade window
constexpr const char kLoaderUpdated[] = "Successfully updated";  // Loader window
constexpr const char kNotResponse[] = " not Response ";
constexpr const char kUserAbort[] = " User Abort !! ";
constexpr const char kChkError[] = " CHK Error !! ";
constexpr const char kIncompatibleBootloader[] = " Incompatible Bootloader !! ";
constexpr const char kUnknownDeviceError[] = " Error !! ";
constexpr const char kNoHexInside[] = " No Hex inside !! ";
constexpr const char kHexTooBig[] = " Hex too Big !! ";
constexpr const char kUnsuitablePattern[] = "%s - Preparation %x";  // board name, preparation code

// Status texts of the search and the pass.
constexpr const char kSearchDevice[] = "Search Device";
constexpr const char kTryPattern[] = "Try %d";
constexpr const char kDeviceNotFound[] = "Device not Found";
constexpr const char kUnknowDevice[] = "Unknow Device";
constexpr const char kWarning[] = "Warning";
constexpr const char kWarningBang[] = "Warning!!";
constexpr const char kNotSuitableApparatus[] = "not suitable apparatus";
constexpr const char kLoadedPattern[] = "Loaded %d bytes (%04X to %04X)";
constexpr const char kEntryInPrgMode[] = "Entry in PrgMode";
constexpr const char kProgramming[] = " Programming... ";
constexpr const char kProgramRowPattern[] = "Program %05d (%05x)";
constexpr const char kFixProgram[] = "Fix Program";
constexpr const char kProgramEepPattern[] = "Program EEP %d";
constexpr const char kResendPattern[] = "Resend %d";

// What the device panel says of the chip found.
constexpr const char kFound258[] = "Found 258";
constexpr const char kFound2580[] = "Found 2580";
constexpr const char kFound2480[] = "Found 2480";
constexpr const char kFound248[] = "Found 248";
constexpr const char kFound2320[] = "Found 2320";
constexpr const char kFound18F25k80[] = "Found 18F25k80";
constexpr const char kFound18F26k80[] = "Found 18F26k80";
constexpr const char kFound24j10[] = "Found 24j10";
constexpr const char kFound33FJ64[] = "Found 33FJ64";
constexpr const char kFound24HJ64[] = "Found 24HJ64";
constexpr const char kFound33FJ128[] = "Found 33FJ128 - 24HJ128";

// The identity line (main updater window) and the Loader window's values.
constexpr const char kIdentityPattern[] = "BIOS:%02x - %s - Preparation%02x";
constexpr const char kHardwarePattern[] = "%s - 0x%02x";
constexpr const char kBootloaderPattern[] = "0x%02x";

// The version report.
constexpr const char kReportHeading[] = "Device - Print          - Preparation";
constexpr const char kReportRule[] = "-------------------------------------";
constexpr const char kReportLinePattern[] = "%s - %s[%s] - %s  %s[Code:%02x]";
constexpr const char kReportUnknownInterface[] = "UNKNOWN";
constexpr const char kReportNoResetMark[] = " ";
constexpr const char kReportResetMark[] = "RES";
constexpr const char kReportChip24HJ64[] = "24HJ64";
constexpr const char kReportChip2580[] = "2580  ";
constexpr const char kReportChip258[] = "258   ";
constexpr const char kReportChip2480[] = "2480  ";
constexpr const char kReportChip248[] = "248   ";
constexpr const char kReportChip2320[] = "2320  ";
constexpr const char kReportChip24J10[] = "24J10 ";

// The port layer.
constexpr const char kInvalidPortCom[] = "Invalid Port Com";
constexpr const char kErrorCaption[] = "Error";
constexpr const char kUnableToConfigure[] = "Unable to configure the serial port";
constexpr const char kUnableToSetTimeouts[] = "Unable to set the time-out parameters";
constexpr const char kNoPortName[] = "-----";
constexpr const char kComPattern[] = "COM%d";

// ---- The front ends -------------------------------------------------------------
constexpr const char kMainTitle[] = "Updater 2.7";       // main updater window, before the tag
constexpr const char kUpgradeTitle[] = "Upgrade 1.1";    // Upgrade window, before the tag
constexpr const char kLoaderTitle[] = "Loader 1.0";      // Loader window, before the tag
constexpr const char kAlternateSearchMark[] = "   -(N)-";  // Loader title with the alternate search
constexpr const char kLoaderGuide[] = "Push 'Update FW' button and connect a device";
constexpr const char kLoaderNotFound[] = "The device is not find.";          // Loader, nothing answered
constexpr const char kPortNotValid[] = "Port not valid. Select a new port.";  // Loader, port unusable

}  // namespace pelmark::text
