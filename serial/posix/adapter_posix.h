// The adapter facts on Linux: udev's view of the devices above a tty, one
// level each from the tty up to the USB device, and the rules that turn it
// into AdapterFacts (apart, so that they can be tried without hardware).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "serial/adapter_facts.h"

namespace pelmark::serial {

// One device on the way from the tty to the root: its subsystem and device
// type ("usb", "usb_device" for the USB device itself), the udev properties
// and the sysfs attributes the rules read.
struct UdevLevel {
    std::string subsystem;
    std::string devtype;
    std::map<std::string, std::string> properties;
    std::map<std::string, std::string> sysattrs;
};

// The property names and the USB device's attribute names the rules read.
extern const char* const kAdapterProperties[];
extern const char* const kAdapterSysattrs[];

// The facts from the levels, the tty first. Properties are taken from the
// nearest level that has them (udev copies the USB ones down to the tty):
// vendor id ID_VENDOR_ID, product id ID_MODEL_ID, vendor
// ID_VENDOR_FROM_DATABASE then ID_VENDOR (its \x-encoded form ID_VENDOR_ENC
// first, which keeps the spaces), product ID_MODEL_FROM_DATABASE then
// ID_MODEL_ENC / ID_MODEL, serial ID_SERIAL_SHORT; each missing one from the
// USB device's attributes idVendor, idProduct, manufacturer, product, serial.
// Nothing when no level is a USB device or every field is empty.
std::optional<AdapterFacts> AdapterFactsFromLevels(const std::vector<UdevLevel>& levels);

}  // namespace pelmark::serial
