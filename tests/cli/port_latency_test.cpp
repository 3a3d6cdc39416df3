// What the console front end says about an adapter's latency: the column of
// --list-ports and the one hint line for a port that holds replies back.
#include <gtest/gtest.h>

#include <string>

#include "cli/port_latency.h"
#include "cli/quiet_port.h"
#include "serial/backend.h"
#include "serial/port_link.h"

namespace pelmark::cli {
namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(PortLatency, ListLineShowsTheTimerOnlyWhenKnown) {
    EXPECT_EQ(PortListLine("COM33", "FT232R USB UART", 16), "COM33\tFT232R USB UART\tlatency 16 ms");
    EXPECT_EQ(PortListLine("COM33", "FT232R USB UART", 1), "COM33\tFT232R USB UART\tlatency 1 ms");
    EXPECT_EQ(PortListLine("COM1", "ttyS0", -1), "COM1\tttyS0");
}

TEST(PortLatency, HintOnlyAboveOneMillisecondAndSaysHowToLowerIt) {
    struct Case {
        const char* what;
        int timerMs;
        bool windows;
        std::vector<std::string> parts;  // empty: no hint
    };
    const Case cases[] = {
        {"FTDI default on Linux",
         16,
         false,
         {"hint: ", "COM33 (/dev/ttyUSB0)", "up to 16 ms", "several times as long",
          "echo 1 | sudo tee /sys/class/tty/ttyUSB0/device/latency_timer",
          "ACTION==\"add\", SUBSYSTEM==\"usb-serial\", DRIVER==\"ftdi_sio\", ATTR{latency_timer}=\"1\""}},
        {"FTDI default on Windows", 16, true, {"hint: ", "up to 16 ms", "advanced port settings", "Latency Timer"}},
        {"2 ms still costs", 2, false, {"up to 2 ms"}},
        {"lowered to 1 ms", 1, false, {}},
        {"no timer (a pseudo-terminal, a built-in UART)", -1, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string hint = LatencyHint(c.timerMs, 32, "/dev/ttyUSB0", c.windows);
        if (c.parts.empty()) {
            EXPECT_EQ(hint, "");
            continue;
        }
        for (const std::string& part : c.parts) EXPECT_TRUE(Contains(hint, part)) << hint;
        EXPECT_FALSE(Contains(hint, "\n")) << "one line";
        EXPECT_EQ(Contains(hint, "sysfs") || Contains(hint, "/sys/"), !c.windows) << hint;
    }
}

// The hint for the port the link opened, from what its backend learnt.
class LatencyPort : public QuietPort {
public:
    int timerMs = -1;
    serial::PortLatency Latency(serial::Handle) const override { return {true, timerMs}; }
};

TEST(PortLatency, SelectedPortHintFollowsWhatTheOpenLearnt) {
    LatencyPort port;
    serial::SetBackend(&port);
    for (const int timer : {16, 1, -1}) {
        SCOPED_TRACE(timer);
        port.timerMs = timer;
        g_portIndex = 2;
        g_openPortIndex = -1;
        ComPortOpen();
        const std::string hint = SelectedPortLatencyHint();
        EXPECT_EQ(hint.empty(), timer <= 1) << hint;
        if (!hint.empty()) {
            EXPECT_TRUE(Contains(hint, "COM3")) << hint;
        }
        ComPortCloseAll();
        EXPECT_EQ(SelectedPortLatencyHint(), "") << "nothing once the port is closed";
    }
    serial::SetBackend(nullptr);
    g_portIndex = 0;
    g_openPortIndex = 0;
}

}  // namespace
}  // namespace pelmark::cli
