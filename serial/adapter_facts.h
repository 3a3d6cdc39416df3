// What the system knows about the USB adapter behind a serial device: its
// vendor and product ids, the names of both and its serial number. A station
// records them beside each update, so that a board is tied to the cable and
// adapter it was programmed through.
#pragma once

#include <optional>
#include <string>

namespace pelmark::serial {

// Each field empty when the system does not know it.
struct AdapterFacts {
    std::string vendorId;   // "0403": four lower-case hex digits
    std::string productId;  // "6001"
    std::string vendor;     // "Future Technology Devices International, Ltd", else what the adapter calls its maker
    std::string product;    // "FT232 Serial (UART) IC", else what the adapter calls itself
    std::string serial;     // "A50285BI"
};

// The facts of the USB adapter behind the device `devicePath` (symlinks
// followed); nothing when no USB device stands behind it (a pseudo-terminal,
// a built-in UART) or nothing is known about it. On Linux from udev; Windows
// returns nothing.
std::optional<AdapterFacts> UsbAdapterFacts(const std::string& devicePath);

}  // namespace pelmark::serial
