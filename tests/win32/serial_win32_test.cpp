// The Windows serial backend: how the link's line settings land in the
// device-control block, the device path of a port index, the causes of a
// failed open, and, on a port given by PELMARK_TEST_COM (a COM number mapped
// to the virtual device), the whole link on the real port.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "../engine/fakes.h"
// After the program's headers: windows.h defines MessageBox as a macro.
#include "serial/win32/serial_win32.h"

namespace pelmark::test {
namespace {

using serial::LineState;
using serial::OpenError;
namespace w = serial::win32;

// A block as a driver might hand it out: every flag set, odd characters.
DCB BusyBlock() {
    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = 9600;
    dcb.fBinary = 0;
    dcb.fParity = 1;
    dcb.fOutxCtsFlow = 1;
    dcb.fOutxDsrFlow = 1;
    dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
    dcb.fDsrSensitivity = 1;
    dcb.fTXContinueOnXoff = 1;
    dcb.fOutX = 1;
    dcb.fInX = 1;
    dcb.fErrorChar = 1;
    dcb.fNull = 1;
    dcb.fRtsControl = RTS_CONTROL_TOGGLE;
    dcb.fAbortOnError = 1;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.ErrorChar = '?';
    dcb.EofChar = 0x1A;
    dcb.EvtChar = '\n';
    return dcb;
}

// What the link sets (as port_link.cpp does) on a state read from the port.
LineState BootloaderLine(LineState s) {
    s.baudRate = 115200;
    s.fBinary = true;
    s.fParity = s.fOutxCtsFlow = s.fOutxDsrFlow = false;
    s.fDtrControl = 0;
    s.fDsrSensitivity = s.fTXContinueOnXoff = s.fOutX = s.fInX = false;
    s.fErrorChar = s.fNull = false;
    s.fRtsControl = 0;
    s.fAbortOnError = false;
    s.byteSize = 8;
    s.parity = NOPARITY;
    s.stopBits = TWOSTOPBITS;
    return s;
}

TEST(Win32Dcb, LinkSettingsChangeOnlyTheNamedFields) {
    const DCB original = BusyBlock();
    const DCB dcb = w::ToDcb(BootloaderLine(w::FromDcb(original)), DCB{});

    EXPECT_EQ(dcb.DCBlength, 28u);
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(dcb.fParity, 0u);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb.fOutxDsrFlow, 0u);
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
    EXPECT_EQ(dcb.fDsrSensitivity, 0u);
    EXPECT_EQ(dcb.fTXContinueOnXoff, 0u);
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fInX, 0u);
    EXPECT_EQ(dcb.fErrorChar, 0u);
    EXPECT_EQ(dcb.fNull, 0u);
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
    EXPECT_EQ(dcb.fAbortOnError, 0u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
    // Everything else as the port reported it.
    EXPECT_EQ(dcb.XonLim, original.XonLim);
    EXPECT_EQ(dcb.XoffLim, original.XoffLim);
    EXPECT_EQ(dcb.XonChar, original.XonChar);
    EXPECT_EQ(dcb.XoffChar, original.XoffChar);
    EXPECT_EQ(dcb.ErrorChar, original.ErrorChar);
    EXPECT_EQ(dcb.EofChar, original.EofChar);
    EXPECT_EQ(dcb.EvtChar, original.EvtChar);
}

TEST(Win32Dcb, ReadBackGivesTheSameBlock) {
    const DCB original = BusyBlock();
    const LineState state = w::FromDcb(original);
    EXPECT_EQ(state.baudRate, 9600u);
    EXPECT_EQ(state.fDtrControl, DTR_CONTROL_HANDSHAKE);
    EXPECT_EQ(state.fRtsControl, RTS_CONTROL_TOGGLE);
    EXPECT_EQ(state.byteSize, 7);
    EXPECT_EQ(state.parity, EVENPARITY);
    EXPECT_TRUE(state.fAbortOnError);
    const DCB back = w::ToDcb(state, DCB{});
    EXPECT_EQ(std::memcmp(&back, &original, sizeof back), 0);
}

TEST(Win32Dcb, StateNotReadFromThePortStartsFromThePortsBlock) {
    LineState fresh;  // native area empty
    fresh.baudRate = 115200;
    fresh.byteSize = 8;
    fresh.stopBits = TWOSTOPBITS;
    const DCB current = BusyBlock();
    const DCB dcb = w::ToDcb(fresh, current);
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
    EXPECT_EQ(dcb.XoffChar, current.XoffChar);
    EXPECT_EQ(dcb.XonLim, current.XonLim);
}

TEST(Win32Port, AWriteThatWroteFewerBytesThanAskedFailed) {
    struct Case {
        BOOL accepted;
        DWORD written, count;
        bool completed;
    };
    const Case cases[] = {
        {TRUE, 5, 5, true},
        {TRUE, 0, 0, true},
        {TRUE, 3, 5, false},  // the write time-out ran out half way
        {TRUE, 0, 5, false},
        {FALSE, 5, 5, false},
        {FALSE, 0, 5, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(w::WriteCompleted(c.accepted, c.written, c.count), c.completed)
            << c.accepted << " " << c.written << "/" << c.count;
}

TEST(Win32Port, DevicePathOfAPortIndex) {
    const std::pair<int, const char*> cases[] = {
        {0, "\\\\.\\COM1"}, {9, "\\\\.\\COM10"}, {255, "\\\\.\\COM256"}, {256, "\\\\.\\COM257"}, {-1, ""},
    };
    for (const auto& [index, path] : cases) EXPECT_EQ(w::DevicePath(index), path) << index;
}

TEST(Win32Port, CausesOfAFailedOpen) {
    const std::pair<DWORD, OpenError> cases[] = {
        {ERROR_FILE_NOT_FOUND, OpenError::Absent},   {ERROR_PATH_NOT_FOUND, OpenError::Absent},
        {ERROR_ACCESS_DENIED, OpenError::Busy},      {ERROR_SHARING_VIOLATION, OpenError::Busy},
        {ERROR_NOT_SUPPORTED, OpenError::NotASerialPort}, {ERROR_GEN_FAILURE, OpenError::Other},
    };
    for (const auto& [error, cause] : cases) EXPECT_EQ(w::OpenErrorFor(error), cause) << error;
    const std::string text = w::SystemMessage(ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n');
    EXPECT_NE(text.back(), '.');
}

// The link on the platform's own backend.
class Win32Link : public ::testing::Test {
protected:
    RecordingDisplay display;

    void SetUp() override {
        ResetEngineState();
        serial::SetBackend(nullptr);
        SetDisplay(&display);
    }
    void TearDown() override {
        ComPortCloseAll();
        SetDisplay(nullptr);
        ResetEngineState();
    }

    void OpenPort(int index) {
        g_portIndex = static_cast<std::int16_t>(index);
        g_openPortIndex = -1;
        ComPortOpen();
    }
};

TEST_F(Win32Link, AbsentPortGivesInvalidPortComWithoutMessageBox) {
    OpenPort(239);  // COM240: nothing is mapped there
    EXPECT_EQ(display.calls, std::vector<std::string>{"outcome|Invalid Port Com|255|0"});
    EXPECT_EQ(ComPortStatus(239), 0xFFFE);
    EXPECT_EQ(serial::Backend().LastOpenError(), OpenError::Absent);
    EXPECT_EQ(serial::Backend().LastOpenErrorText().rfind("\\\\.\\COM240: ", 0), 0u)
        << serial::Backend().LastOpenErrorText();
}

// The port of the virtual device, if the run provides one.
int TestComNumber() {
    const char* text = std::getenv("PELMARK_TEST_COM");
    return text != nullptr ? std::atoi(text) : 0;
}

class Win32LinkOnDevice : public Win32Link {
protected:
    int index = -1;

    void SetUp() override {
        Win32Link::SetUp();
        const int com = TestComNumber();
        if (com < 1) GTEST_SKIP() << "PELMARK_TEST_COM names no COM port with the virtual device";
        index = com - 1;
        OpenPort(index);
        ASSERT_TRUE(display.calls.empty()) << display.calls.front();
        ASSERT_EQ(ComPortStatus(static_cast<std::int16_t>(index)), 0);
    }
    HANDLE Port() const { return reinterpret_cast<HANDLE>(g_portTable[index].handle); }
};

TEST_F(Win32LinkOnDevice, PortCarriesTheBootloaderLineSettings) {
    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(Port(), &dcb));
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fInX, 0u);
    // DTR and RTS are not read back: a pseudo-terminal has no modem lines, and
    // Wine reports both as enabled whatever was set.

    COMMTIMEOUTS t{};
    ASSERT_TRUE(GetCommTimeouts(Port(), &t));
    EXPECT_EQ(t.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 10u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 1000u);
}

TEST_F(Win32LinkOnDevice, ReadsDoNotWaitAndTheDeviceAnswersASearchByte) {
    ComPortDrain();
    const DWORD before = GetTickCount();
    EXPECT_EQ(ComPortDiscard(), 0);  // nothing pending: one read, at once
    EXPECT_LT(GetTickCount() - before, 200u);

    const std::uint8_t search = 0xC2;
    EXPECT_EQ(ComPortWrite(index, &search, 1), 2);
    // The identity record "V" ... "K" arrives within a few milliseconds.
    std::string got;
    for (int i = 0; i < 200 && got.find('K') == std::string::npos; ++i) {
        Sleep(5);
        const std::uint16_t n = ComPortDiscard();
        got.append(reinterpret_cast<const char*>(g_receiveBuffer), n);
    }
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.front(), 'V');
    EXPECT_EQ(got.back(), 'K');
}

TEST_F(Win32LinkOnDevice, ClosedPortIsFreeForTheNextOpen) {
    ComPortClose(index);
    EXPECT_EQ(ComPortStatus(static_cast<std::int16_t>(index)), 0xFFFE);
    const std::uint8_t search = 0xC2;
    EXPECT_EQ(ComPortWrite(index, &search, 1), 0);
    OpenPort(index);
    EXPECT_TRUE(display.calls.empty());
    EXPECT_EQ(ComPortStatus(static_cast<std::int16_t>(index)), 0);
}

}  // namespace
}  // namespace pelmark::test
