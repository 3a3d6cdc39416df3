// The adapter facts: udev's levels above a tty turned into vendor, product
// and serial, and a pseudo-terminal, which has no adapter.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "serial/posix/adapter_posix.h"

namespace pelmark::serial {
namespace {

UdevLevel Tty(std::map<std::string, std::string> properties = {}) {
    return UdevLevel{"tty", "", std::move(properties), {}};
}
UdevLevel Interface() { return UdevLevel{"usb", "usb_interface", {}, {}}; }
UdevLevel UsbDevice(std::map<std::string, std::string> sysattrs, std::map<std::string, std::string> properties = {}) {
    return UdevLevel{"usb", "usb_device", std::move(properties), std::move(sysattrs)};
}

const std::map<std::string, std::string> kFtdiSysattrs = {
    {"idVendor", "0403"}, {"idProduct", "6001"}, {"manufacturer", "FTDI"},
    {"product", "FT232R USB UART"}, {"serial", "A50285BI"}};

TEST(AdapterFacts, UdevPropertiesComeFirstThenTheUsbDevicesAttributes) {
    struct Case {
        const char* what;
        std::vector<UdevLevel> levels;
        AdapterFacts expected;
    };
    const Case cases[] = {
        {"the tty carries the database names",
         {Tty({{"ID_VENDOR_ID", "0403"}, {"ID_MODEL_ID", "6001"},
               {"ID_VENDOR_FROM_DATABASE", "Future Technology Devices International, Ltd"},
               {"ID_VENDOR", "FTDI"}, {"ID_MODEL_FROM_DATABASE", "FT232 Serial (UART) IC"},
               {"ID_MODEL", "FT232R_USB_UART"}, {"ID_SERIAL_SHORT", "A50285BI"}}),
          Interface(), UsbDevice(kFtdiSysattrs)},
         {"0403", "6001", "Future Technology Devices International, Ltd", "FT232 Serial (UART) IC", "A50285BI"}},
        {"no database entry: the encoded names keep their spaces",
         {Tty({{"ID_VENDOR_ENC", "Silicon\\x20Labs"}, {"ID_VENDOR", "Silicon_Labs"},
               {"ID_MODEL_ENC", "CP2102\\x20USB\\x20to\\x20UART"}, {"ID_MODEL", "CP2102_USB_to_UART"}}),
          UsbDevice({{"idVendor", "10C4"}, {"idProduct", "ea60"}})},
         {"10c4", "ea60", "Silicon Labs", "CP2102 USB to UART", ""}},
        {"plain names only: underscores back to spaces",
         {Tty({{"ID_VENDOR", "Prolific_Technology_Inc."}, {"ID_MODEL", "USB-Serial_Controller"}}),
          UsbDevice({})},
         {"", "", "Prolific Technology Inc.", "USB-Serial Controller", ""}},
        {"no udev database: the attributes of the USB device alone",
         {Tty(), Interface(), UsbDevice(kFtdiSysattrs)},
         {"0403", "6001", "FTDI", "FT232R USB UART", "A50285BI"}},
        {"an id that is not four hex digits is left out",
         {Tty({{"ID_VENDOR_ID", "40"}, {"ID_MODEL_ID", "60x1"}}), UsbDevice({{"idProduct", "12345"}})},
         {"0040", "", "", "", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<AdapterFacts> facts = AdapterFactsFromLevels(c.levels);
        ASSERT_TRUE(facts.has_value());
        EXPECT_EQ(facts->vendorId, c.expected.vendorId);
        EXPECT_EQ(facts->productId, c.expected.productId);
        EXPECT_EQ(facts->vendor, c.expected.vendor);
        EXPECT_EQ(facts->product, c.expected.product);
        EXPECT_EQ(facts->serial, c.expected.serial);
    }
}

TEST(AdapterFacts, NothingWithoutAUsbDeviceOrWithNothingKnown) {
    // A built-in UART: udev may still name it, but there is no adapter.
    EXPECT_FALSE(AdapterFactsFromLevels({Tty({{"ID_MODEL", "16550A"}}), UdevLevel{"platform", "", {}, {}}}));
    EXPECT_FALSE(AdapterFactsFromLevels({Tty(), UsbDevice({{"serial", "  "}})}));
    EXPECT_FALSE(AdapterFactsFromLevels({}));
}

TEST(AdapterFacts, APseudoTerminalHasNoAdapter) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string slave = ptsname(master);
    EXPECT_FALSE(UsbAdapterFacts(slave).has_value()) << slave;
    EXPECT_FALSE(UsbAdapterFacts("/dev/null").has_value());
    EXPECT_FALSE(UsbAdapterFacts("/no/such/device").has_value());
    EXPECT_FALSE(UsbAdapterFacts("").has_value());
    close(master);
}

}  // namespace
}  // namespace pelmark::serial
