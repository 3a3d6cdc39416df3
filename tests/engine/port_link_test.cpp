#include <gtest/gtest.h>

#include "fakes.h"

namespace pelmark::test {
namespace {

class PortLink : public ::testing::Test, public EngineFixture {};

TEST_F(PortLink, OpenAppliesTheBootloaderLineSettings) {
    EXPECT_EQ(backend.lastState.baudRate, 115200u);
    EXPECT_EQ(backend.lastState.byteSize, 8);
    EXPECT_EQ(backend.lastState.parity, 0);
    EXPECT_EQ(backend.lastState.stopBits, 2);
    EXPECT_TRUE(backend.lastState.fBinary);
    EXPECT_FALSE(backend.lastState.fOutxCtsFlow || backend.lastState.fOutxDsrFlow || backend.lastState.fOutX ||
                 backend.lastState.fInX);
    EXPECT_EQ(backend.lastState.fDtrControl, 0);
    EXPECT_EQ(backend.lastState.fRtsControl, 0);
    EXPECT_EQ(backend.lastTimeouts.readIntervalTimeout, 0xFFFFFFFFu);
    EXPECT_EQ(backend.lastTimeouts.readTotalTimeoutConstant, 0u);
    EXPECT_EQ(backend.lastTimeouts.writeTotalTimeoutMultiplier, 10u);
    EXPECT_EQ(backend.lastTimeouts.writeTotalTimeoutConstant, 1000u);
    // Lines without modem control refuse these; the open still succeeds.
    EXPECT_EQ(backend.clearDtr, 1);
    EXPECT_EQ(backend.clearRts, 1);
    EXPECT_EQ(ComPortStatus(0), 0);
    EXPECT_TRUE(display.Outcomes().empty());
}

TEST_F(PortLink, OpenDoesNothingWhileTheSelectionIsUnchanged) {
    const int opens = backend.opens;
    ComPortOpen();
    EXPECT_EQ(backend.opens, opens);
    ComPortCloseAll();
    ComPortOpen();  // not even when the port is closed
    EXPECT_EQ(backend.opens, opens);
    EXPECT_TRUE(display.calls.empty());
}

TEST_F(PortLink, ConfigurationFailures) {
    struct Case {
        bool getState, setState, setTimeouts;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {true, false, false, {"outcome|Invalid Port Com|255|0"}},
        {false, true, false, {"box|Unable to configure the serial port|Error", "outcome|Invalid Port Com|255|0"}},
        {false, false, true, {"box|Unable to set the time-out parameters|Error", "outcome|Invalid Port Com|255|0"}},
    };
    for (const Case& c : cases) {
        backend.failGetState = c.getState;
        backend.failSetState = c.setState;
        backend.failSetTimeouts = c.setTimeouts;
        display.calls.clear();
        const int closes = backend.closes;
        g_openPortIndex = -1;
        ComPortOpen();
        EXPECT_EQ(display.calls, c.calls);
        EXPECT_EQ(ComPortStatus(0), 0xFFFE);
        EXPECT_GE(backend.closes, closes + 1) << "the handle is released again";
    }
    // Once the cause is gone the same port opens.
    backend.failSetState = backend.failGetState = backend.failSetTimeouts = false;
    g_openPortIndex = -1;
    ComPortOpen();
    EXPECT_EQ(ComPortStatus(0), 0);
}

TEST_F(PortLink, IndexRangeAndDevicePaths) {
    g_portIndex = 256;
    ComPortOpen();
    EXPECT_EQ(backend.openedIndices.back(), 256) << "COM257 is the last port";
    EXPECT_EQ(ComPortStatus(256), 0);
    const int opens = backend.opens;
    g_portIndex = 257;
    ComPortOpen();
    EXPECT_EQ(backend.opens, opens);
    EXPECT_EQ(display.Outcomes(), std::vector<std::string>{"outcome|Invalid Port Com|255|0"});
}

TEST_F(PortLink, SwitchingPortsReleasesTheEarlierOne) {
    g_portIndex = 4;
    ComPortOpen();
    EXPECT_EQ(ComPortStatus(4), 0);
    EXPECT_EQ(ComPortStatus(0), 0xFFFE);
}

TEST_F(PortLink, ClosedPortWritesAndReadsNothing) {
    ComPortCloseAll();
    const std::uint8_t b = 0xC2;
    EXPECT_EQ(ComPortWrite(0, &b, 1), 0);
    EXPECT_TRUE(backend.writes.empty());
    const int reads = backend.reads;
    ComPortDrain();
    EXPECT_EQ(ComPortDiscard(), 0);
    EXPECT_EQ(backend.reads, reads);
    EXPECT_EQ(ComPortStatus(0), 0xFFFE);
    EXPECT_EQ(ComPortStatus(-1), 0xFFFE);
}

TEST_F(PortLink, DrainAndDiscard) {
    const std::uint8_t b = 0xC2;
    EXPECT_EQ(ComPortWrite(0, &b, 1), 2);
    int reads = backend.reads;
    ComPortDrain();
    EXPECT_EQ(backend.reads, reads + 1) << "nothing pending: exactly one read";

    for (int i = 0; i < 5000; ++i) backend.pending.push_back(0x55);
    EXPECT_EQ(ComPortDiscard(), 3072);
    EXPECT_EQ(backend.pending.size(), 5000u - 3072u);
    reads = backend.reads;
    ComPortDrain();
    EXPECT_TRUE(backend.pending.empty());
    EXPECT_EQ(backend.reads, reads + 2);
}

}  // namespace
}  // namespace pelmark::test
