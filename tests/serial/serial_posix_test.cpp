// The Linux serial backend on real pseudo-terminals, reached as COM ports
// through a scratch port-map directory.
#include <sys/wait.h>
#include <termios.h>

#include <chrono>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "serial/backend.h"
#include "serial/port_link.h"
#include "serial/port_map.h"
#include "serial/posix/serial_posix.h"
#include "serial_support.h"
#include "../engine/fakes.h"

namespace pelmark::test {
namespace {

using serial::Handle;
using serial::kInvalidHandle;
using serial::LineState;
using serial::OpenError;
using serial::SerialBackend;
using serial::Timeouts;
using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class PosixSerial : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(pty.slavePath().empty());
        Symlink(pty.slavePath(), dir / "com5");
    }
    void TearDown() override {
        for (Handle h : opened) backend.Close(h);
    }

    // Opens COM5 (index 4) and remembers the handle for TearDown.
    Handle OpenCom5() {
        const Handle h = backend.Open(4);
        if (h != kInvalidHandle) opened.push_back(h);
        return h;
    }

    // The link's own settings: 115200 8N2, no flow control, reads that
    // return at once, writes bounded by 1000 ms + 10 ms per byte.
    void Configure(Handle h) {
        ASSERT_TRUE(backend.Flush(h));
        LineState state;
        ASSERT_TRUE(backend.GetState(h, &state));
        state.baudRate = 115200;
        state.fBinary = true;
        state.fParity = false;
        state.fOutxCtsFlow = false;
        state.fOutxDsrFlow = false;
        state.fOutX = false;
        state.fInX = false;
        state.byteSize = 8;
        state.parity = 0;
        state.stopBits = 2;
        ASSERT_TRUE(backend.SetState(h, state));
        ASSERT_TRUE(backend.SetupQueues(h, 32768, 9216));
        Timeouts t;
        ASSERT_TRUE(backend.GetTimeouts(h, &t));
        t.readIntervalTimeout = 0xFFFFFFFFu;
        t.readTotalTimeoutMultiplier = 0;
        t.readTotalTimeoutConstant = 0;
        t.writeTotalTimeoutMultiplier = 10;
        t.writeTotalTimeoutConstant = 1000;
        ASSERT_TRUE(backend.SetTimeouts(h, t));
        backend.ClearDtr(h);  // a pseudo-terminal has no modem lines
        backend.ClearRts(h);
    }

    std::vector<std::uint8_t> ReadFor(Handle h, std::size_t want, int waitMs = 1000) {
        std::vector<std::uint8_t> got;
        const auto start = Clock::now();
        while (got.size() < want && MsSince(start) < waitMs) {
            std::uint8_t buffer[3072];
            std::uint32_t n = 0;
            if (!backend.Read(h, buffer, sizeof buffer, &n)) break;
            got.insert(got.end(), buffer, buffer + n);
            if (n == 0) usleep(2000);
        }
        return got;
    }

    ScratchDir dir;
    ScopedEnv env{"PELMARK_PORT_DIR", dir.path()};
    Pty pty;
    SerialBackend& backend = serial::PlatformBackend();
    std::vector<Handle> opened;
};

TEST_F(PosixSerial, ConfiguresTheLineForTheBootloader) {
    const Handle h = OpenCom5();
    ASSERT_NE(h, kInvalidHandle) << backend.LastOpenErrorText();
    EXPECT_EQ(backend.LastOpenError(), OpenError::None);
    Configure(h);

    termios t{};
    ASSERT_EQ(tcgetattr(static_cast<int>(h), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), B115200);
    EXPECT_EQ(cfgetispeed(&t), B115200);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(t.c_cflag & (PARENB | CRTSCTS | HUPCL), 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | INPCK), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);

    // And the backend reads back what it set.
    LineState state;
    ASSERT_TRUE(backend.GetState(h, &state));
    EXPECT_EQ(state.baudRate, 115200u);
    EXPECT_EQ(state.byteSize, 8);
    EXPECT_EQ(state.parity, 0);
    EXPECT_EQ(state.stopBits, 2);
    EXPECT_FALSE(state.fOutxCtsFlow || state.fOutX || state.fInX || state.fParity);
}

TEST_F(PosixSerial, SetStateKeepsWhatItDoesNotName) {
    const Handle h = OpenCom5();
    ASSERT_NE(h, kInvalidHandle);
    termios t{};
    ASSERT_EQ(tcgetattr(static_cast<int>(h), &t), 0);
    t.c_cc[VSTART] = 0x07;
    ASSERT_EQ(tcsetattr(static_cast<int>(h), TCSANOW, &t), 0);
    LineState state;
    ASSERT_TRUE(backend.GetState(h, &state));
    state.baudRate = 115200;
    state.stopBits = 2;
    ASSERT_TRUE(backend.SetState(h, state));
    ASSERT_EQ(tcgetattr(static_cast<int>(h), &t), 0);
    EXPECT_EQ(t.c_cc[VSTART], 0x07);
}

TEST_F(PosixSerial, SetStateRefusesWhatTheLineCannotDo) {
    const Handle h = OpenCom5();
    ASSERT_NE(h, kInvalidHandle);
    struct Case {
        const char* what;
        std::uint32_t baud;
        std::uint8_t byteSize, parity, stopBits;
    };
    const Case cases[] = {
        {"rate without a termios speed", 12345, 8, 0, 2},
        {"nine data bits", 115200, 9, 0, 2},
        {"unknown parity code", 115200, 8, 5, 2},
        {"unknown stop-bits code", 115200, 8, 0, 3},
        // A pseudo-terminal always carries 8 bits; the check after
        // tcsetattr must notice that 7 did not take.
        {"byte size the device ignores", 115200, 7, 0, 2},
    };
    for (const Case& c : cases) {
        LineState state;
        ASSERT_TRUE(backend.GetState(h, &state));
        state.baudRate = c.baud;
        state.byteSize = c.byteSize;
        state.parity = c.parity;
        state.stopBits = c.stopBits;
        EXPECT_FALSE(backend.SetState(h, state)) << c.what;
    }
}

// A tty driver that takes the settings with one of them left as it was.
void (*g_driverIgnores)(termios*) = nullptr;
int ForgetfulDriver(int fd, int actions, const termios* settings) {
    termios kept = *settings;
    g_driverIgnores(&kept);
    return tcsetattr(fd, actions, &kept);
}

TEST_F(PosixSerial, LinkRefusesALineWhoseDriverIgnoredASetting) {
    struct Case {
        const char* what;
        void (*ignore)(termios*);
    };
    const Case cases[] = {
        {"nothing (the control case)", [](termios*) {}},
        {"two stop bits", [](termios* t) { t->c_cflag &= ~static_cast<tcflag_t>(CSTOPB); }},
        {"the speed", [](termios* t) {
             cfsetispeed(t, B9600);
             cfsetospeed(t, B9600);
         }},
        {"no hardware flow control", [](termios* t) { t->c_cflag |= CRTSCTS; }},
        {"no software flow control", [](termios* t) { t->c_iflag |= IXON | IXOFF; }},
        {"no line editing", [](termios* t) { t->c_lflag |= ICANON; }},
        {"no echo", [](termios* t) { t->c_lflag |= ECHO; }},
        {"no signal characters", [](termios* t) { t->c_lflag |= ISIG; }},
        {"no carriage-return translation", [](termios* t) { t->c_iflag |= ICRNL; }},
        {"no output processing", [](termios* t) { t->c_oflag |= OPOST; }},
        {"reads that return at once", [](termios* t) { t->c_cc[VMIN] = 1; }},
    };
    RecordingDisplay display;
    SetDisplay(&display);
    serial::SetBackend(nullptr);
    const std::vector<std::string> refused = {"box|Unable to configure the serial port|Error",
                                              "outcome|Invalid Port Com|255|0"};
    for (const Case& c : cases) {
        g_driverIgnores = c.ignore;
        serial::SetLineDriverApply(ForgetfulDriver);
        display.calls.clear();
        g_portIndex = 4;
        g_openPortIndex = -1;
        ComPortOpen();
        const bool control = c.ignore == cases[0].ignore;
        EXPECT_EQ(display.calls, control ? std::vector<std::string>{} : refused) << c.what;
        EXPECT_EQ(ComPortStatus(4), control ? 0 : 0xFFFE) << c.what;

        // The port was released: with a driver that takes everything it opens.
        serial::SetLineDriverApply(nullptr);
        display.calls.clear();
        g_openPortIndex = -1;
        ComPortOpen();
        EXPECT_EQ(display.calls, std::vector<std::string>{}) << c.what;
        EXPECT_EQ(ComPortStatus(4), 0) << c.what;
        ComPortCloseAll();
    }
    SetDisplay(nullptr);
}

TEST_F(PosixSerial, SecondOpenOfTheSamePortIsBusy) {
    const Handle first = OpenCom5();
    ASSERT_NE(first, kInvalidHandle);
    EXPECT_EQ(OpenCom5(), kInvalidHandle);
    EXPECT_EQ(backend.LastOpenError(), OpenError::Busy);
    EXPECT_NE(backend.LastOpenErrorText().find(dir / "com5"), std::string::npos);

    // Another process of ours, running as root too, is turned away as well.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SerialBackend& b = serial::PlatformBackend();
        const Handle h = b.Open(4);
        _exit(h == kInvalidHandle && b.LastOpenError() == OpenError::Busy ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    // Closing frees the port for the next open.
    backend.Close(first);
    opened.clear();
    const Handle again = OpenCom5();
    EXPECT_NE(again, kInvalidHandle);
    EXPECT_EQ(backend.LastOpenError(), OpenError::None);
}

TEST_F(PosixSerial, OpenFailuresNameTheirCause) {
    Symlink(dir / "unplugged", dir / "com6");
    WriteFile(dir / "com7", "not a device");
    struct Case {
        int portIndex;
        OpenError error;
    };
    const Case cases[] = {
        {5, OpenError::Absent},          // dangling map entry
        {6, OpenError::NotASerialPort},  // a regular file
        {199, OpenError::Absent},        // COM200 has no device at all
        {-1, OpenError::Absent},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(backend.Open(c.portIndex), kInvalidHandle) << c.portIndex;
        EXPECT_EQ(backend.LastOpenError(), c.error) << c.portIndex;
        EXPECT_FALSE(backend.LastOpenErrorText().empty()) << c.portIndex;
    }
}

TEST_F(PosixSerial, PermissionDenied) {
    // A device the user may not open. Root may open anything, so as root the
    // open is tried from a child that has given up root.
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(pty.slavePath().c_str(), 0600), 0);
    const auto attempt = [] {
        SerialBackend& b = serial::PlatformBackend();
        return b.Open(4) == kInvalidHandle && b.LastOpenError() == OpenError::PermissionDenied;
    };
    if (geteuid() != 0) {
        EXPECT_TRUE(attempt());
        return;
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        _exit(attempt() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(PosixSerial, BytesPassUnchangedBothWays) {
    const Handle h = OpenCom5();
    ASSERT_NE(h, kInvalidHandle);
    Configure(h);

    // Line ends, control characters and flow-control bytes are data here.
    const std::vector<std::uint8_t> out = {0xC2, '\n', '\r', 0x03, 0x11, 0x13, 0x00, 0xFF, 0x7F, 0x04};
    ASSERT_TRUE(backend.Write(h, out.data(), static_cast<std::uint32_t>(out.size())));
    ASSERT_TRUE(backend.Flush(h));
    EXPECT_EQ(pty.Receive(out.size()), out);

    const std::vector<std::uint8_t> in = {'K', '\r', '\n', 0x03, 0x1A, 0x11, 0x13, 0x00, 0x7F, 0x15, 0x04};
    pty.Send(in);
    EXPECT_EQ(ReadFor(h, in.size()), in);
}

TEST_F(PosixSerial, ReadReturnsAtOnceWhenNothingArrived) {
    const Handle h = OpenCom5();
    ASSERT_NE(h, kInvalidHandle);
    Configure(h);
    std::uint8_t buffer[3072];
    std::uint32_t got = 99;
    const auto start = Clock::now();
    EXPECT_TRUE(backend.Read(h, buffer, sizeof buffer, &got));
    EXPECT_EQ(got, 0u);
    EXPECT_LT(MsSince(start), 200);  // one system call; a waiting read would never return
}

TEST_F(PosixSerial, ReadTakesAtMostWhatIsAsked) {
    const Handle h = OpenCom5();
    ASSERT_NE(h, kInvalidHandle);
    Configure(h);
    pty.Send(std::vector<std::uint8_t>(100, 0x55));
    usleep(50000);  // let all of it reach the slave side
    std::uint8_t buffer[16] = {};
    std::uint32_t got = 0;
    ASSERT_TRUE(backend.Read(h, buffer, 10, &got));
    EXPECT_EQ(got, 10u);
    EXPECT_EQ(buffer[10], 0);  // nothing past what was asked for
    EXPECT_EQ(ReadFor(h, 90).size(), 90u);
}

TEST_F(PosixSerial, ReadAfterTheDeviceWentAwayFails) {
    const Handle h = OpenCom5();
    ASSERT_NE(h, kInvalidHandle);
    Configure(h);
    pty.CloseMaster();
    // Once the other side is gone the tty is hung up: Read reports a failure
    // instead of an endless stream of empty reads. The hang-up may take a
    // moment to reach the tty; until then a read finds nothing.
    std::uint8_t buffer[64];
    std::uint32_t got = 99;
    bool ok = true;
    const auto start = Clock::now();
    while (ok && MsSince(start) < 1000) {
        ok = backend.Read(h, buffer, sizeof buffer, &got);
        EXPECT_EQ(got, 0u);
        if (ok) usleep(2000);
    }
    EXPECT_FALSE(ok);
}

TEST_F(PosixSerial, WriteGivesUpAfterItsTimeOut) {
    const Handle h = OpenCom5();
    ASSERT_NE(h, kInvalidHandle);
    Configure(h);

    // Nobody reads the master, so the pseudo-terminal fills and blocks.
    Timeouts t;
    t.writeTotalTimeoutConstant = 200;
    t.writeTotalTimeoutMultiplier = 0;
    ASSERT_TRUE(backend.SetTimeouts(h, t));
    const std::vector<std::uint8_t> flood(1 << 20, 0xA5);
    auto start = Clock::now();
    EXPECT_FALSE(backend.Write(h, flood.data(), static_cast<std::uint32_t>(flood.size())));
    long long elapsed = MsSince(start);
    EXPECT_GE(elapsed, 190);
    EXPECT_LT(elapsed, 1500);

    // The per-byte part counts too: 100 + 3 * 100 ms for 100 bytes.
    t.writeTotalTimeoutConstant = 100;
    t.writeTotalTimeoutMultiplier = 3;
    ASSERT_TRUE(backend.SetTimeouts(h, t));
    start = Clock::now();
    EXPECT_FALSE(backend.Write(h, flood.data(), 100));
    elapsed = MsSince(start);
    EXPECT_GE(elapsed, 390);
    EXPECT_LT(elapsed, 1700);
}

TEST_F(PosixSerial, TimeoutsAreKeptPerPort) {
    Pty other;
    Symlink(other.slavePath(), dir / "com6");
    const Handle a = OpenCom5();
    const Handle b = backend.Open(5);
    ASSERT_NE(a, kInvalidHandle);
    ASSERT_NE(b, kInvalidHandle);
    opened.push_back(b);

    Timeouts ta;
    ta.writeTotalTimeoutConstant = 1000;
    ta.writeTotalTimeoutMultiplier = 10;
    Timeouts tb;
    tb.readIntervalTimeout = 0xFFFFFFFFu;
    tb.writeTotalTimeoutConstant = 5;
    ASSERT_TRUE(backend.SetTimeouts(a, ta));
    ASSERT_TRUE(backend.SetTimeouts(b, tb));
    Timeouts got;
    ASSERT_TRUE(backend.GetTimeouts(a, &got));
    EXPECT_EQ(got.writeTotalTimeoutConstant, 1000u);
    EXPECT_EQ(got.writeTotalTimeoutMultiplier, 10u);
    ASSERT_TRUE(backend.GetTimeouts(b, &got));
    EXPECT_EQ(got.writeTotalTimeoutConstant, 5u);
    EXPECT_EQ(got.readIntervalTimeout, 0xFFFFFFFFu);

    // A port opened later under the same descriptor starts afresh.
    backend.Close(b);
    opened.pop_back();
    const Handle c = backend.Open(5);
    ASSERT_NE(c, kInvalidHandle);
    opened.push_back(c);
    ASSERT_TRUE(backend.GetTimeouts(c, &got));
    EXPECT_EQ(got.writeTotalTimeoutConstant, 0u);
    EXPECT_EQ(got.readIntervalTimeout, 0u);
}

TEST_F(PosixSerial, ClosedHandleIsRefused) {
    const Handle h = OpenCom5();
    ASSERT_NE(h, kInvalidHandle);
    backend.Close(h);
    opened.clear();
    LineState state;
    Timeouts t;
    std::uint8_t byte = 0;
    std::uint32_t got = 0;
    EXPECT_FALSE(backend.GetState(h, &state));
    EXPECT_FALSE(backend.SetState(h, state));
    EXPECT_FALSE(backend.Flush(h));
    EXPECT_FALSE(backend.SetupQueues(h, 32768, 9216));
    EXPECT_FALSE(backend.SetTimeouts(h, t));
    EXPECT_FALSE(backend.Write(h, &byte, 1));
    EXPECT_FALSE(backend.Read(h, &byte, 1, &got));
    EXPECT_FALSE(backend.GetState(kInvalidHandle, &state));
    EXPECT_FALSE(backend.Write(kInvalidHandle, &byte, 1));
}

// The serial link itself, over this backend, as the engine uses it.
TEST_F(PosixSerial, LinkOpensWritesAndReadsThroughTheMap) {
    SerialBackend* previous = &serial::Backend();
    serial::SetBackend(nullptr);
    g_portIndex = 4;
    g_openPortIndex = -1;
    ComPortOpen();
    ASSERT_EQ(ComPortStatus(4), 0);

    const std::uint8_t search = 0xC2;
    EXPECT_EQ(ComPortWrite(4, &search, 1), 2);
    EXPECT_EQ(pty.Receive(1), std::vector<std::uint8_t>{0xC2});

    pty.Send({'K'});
    std::uint16_t got = 0;
    const auto start = Clock::now();
    while (got == 0 && MsSince(start) < 1000) {
        got = ComPortDiscard();
        if (got == 0) usleep(2000);
    }
    EXPECT_EQ(got, 1);
    EXPECT_EQ(g_receiveBuffer[0], 'K');

    ComPortCloseAll();
    EXPECT_EQ(ComPortStatus(4), 0xFFFE);
    serial::SetBackend(previous == &serial::PlatformBackend() ? nullptr : previous);
}

}  // namespace
}  // namespace pelmark::test
