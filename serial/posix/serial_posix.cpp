// The serial backend for Linux and other POSIX systems: a tty opened
// non-blocking and exclusively, configured through termios. Reads never wait
// (O_NONBLOCK with VMIN 0); the write time-out is kept per descriptor and
// enforced by Write itself, since termios has none.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <utility>

#include "serial/backend.h"
#include "serial/port_map.h"
#include "serial/posix/latency_posix.h"
#include "serial/posix/serial_posix.h"

namespace pelmark::serial {

namespace {

static_assert(sizeof(termios) <= sizeof(LineState::native), "termios must fit the native area");

struct BaudEntry {
    std::uint32_t rate;
    speed_t speed;
};

constexpr BaudEntry kBauds[] = {
    {50, B50},         {75, B75},           {110, B110},         {134, B134},
    {150, B150},       {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},     {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},     {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1152000
    {1152000, B1152000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
};

bool SpeedForRate(std::uint32_t rate, speed_t* speed) {
    for (const BaudEntry& entry : kBauds) {
        if (entry.rate == rate) {
            *speed = entry.speed;
            return true;
        }
    }
    return false;
}

std::uint32_t RateForSpeed(speed_t speed) {
    for (const BaudEntry& entry : kBauds) {
        if (entry.speed == speed) return entry.rate;
    }
    return 0;
}

tcflag_t SizeFlag(std::uint8_t byteSize) {
    switch (byteSize) {
        case 5: return CS5;
        case 6: return CS6;
        case 7: return CS7;
        case 8: return CS8;
        default: return 0;
    }
}

std::uint8_t ByteSizeOf(tcflag_t cflag) {
    switch (cflag & CSIZE) {
        case CS5: return 5;
        case CS6: return 6;
        case CS7: return 7;
        default: return 8;
    }
}

constexpr tcflag_t Flags(long bits) {
    return static_cast<tcflag_t>(bits);
}

bool ValidFd(Handle h) {
    return h >= 0 && h <= INT32_MAX && fcntl(static_cast<int>(h), F_GETFD) != -1;
}

int Fd(Handle h) {
    return static_cast<int>(h);
}

LineDriverApply g_lineDriverApply = nullptr;

int ApplyLine(int fd, const termios& settings) {
    return g_lineDriverApply != nullptr ? g_lineDriverApply(fd, TCSANOW, &settings)
                                        : tcsetattr(fd, TCSANOW, &settings);
}

class PosixSerial final : public SerialBackend {
public:
    Handle Open(int portIndex) override {
        openError_ = OpenError::None;
        openErrorText_.clear();
        if (portIndex < 0) {
            Fail(OpenError::Absent, "no such port");
            return kInvalidHandle;
        }
        const int comNumber = portIndex + 1;
        const std::string path = ComDevicePath(comNumber);
        if (path.empty()) {
            Fail(OpenError::Absent, "COM" + std::to_string(comNumber) + " has no device");
            return kInvalidHandle;
        }
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            FailErrno(errno, path);
            return kInvalidHandle;
        }
        if (isatty(fd) == 0) {
            close(fd);
            Fail(OpenError::NotASerialPort, path + ": " + std::strerror(ENOTTY));
            return kInvalidHandle;
        }
        // TIOCEXCL keeps other processes out, except root; the lock also
        // turns away a second opener of ours running as root.
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int err = errno;
            close(fd);
            FailErrno(err, path);
            return kInvalidHandle;
        }
        if (ioctl(fd, TIOCEXCL) != 0) {
            const int err = errno;
            flock(fd, LOCK_UN);
            close(fd);
            FailErrno(err, path);
            return kInvalidHandle;
        }
        timeouts_[fd] = Timeouts{};
        latency_[fd] = LowerLatency(fd, path);
        return fd;
    }

    bool Flush(Handle h) override {
        if (!ValidFd(h)) return false;
        while (tcdrain(Fd(h)) != 0) {
            if (errno != EINTR) return false;
        }
        return true;
    }

    bool GetState(Handle h, LineState* state) override {
        if (state == nullptr || !ValidFd(h)) return false;
        termios t{};
        if (tcgetattr(Fd(h), &t) != 0) return false;
        *state = LineState{};
        state->baudRate = RateForSpeed(cfgetospeed(&t));
        state->fBinary = true;
        state->fParity = (t.c_iflag & INPCK) != 0;
        state->fOutxCtsFlow = (t.c_cflag & CRTSCTS) != 0;
        state->fOutX = (t.c_iflag & IXON) != 0;
        state->fInX = (t.c_iflag & IXOFF) != 0;
        state->byteSize = ByteSizeOf(t.c_cflag);
        if ((t.c_cflag & PARENB) == 0) {
            state->parity = 0;
        } else if ((t.c_cflag & CMSPAR) != 0) {
            state->parity = (t.c_cflag & PARODD) != 0 ? 3 : 4;  // mark, space
        } else {
            state->parity = (t.c_cflag & PARODD) != 0 ? 1 : 2;  // odd, even
        }
        state->stopBits = (t.c_cflag & CSTOPB) != 0 ? 2 : 0;
        std::memcpy(state->native, &t, sizeof t);
        return true;
    }

    bool SetState(Handle h, const LineState& state) override {
        if (!ValidFd(h)) return false;
        const int fd = Fd(h);
        termios t{};
        static const unsigned char kBlank[sizeof(LineState::native)] = {};
        if (std::memcmp(state.native, kBlank, sizeof kBlank) == 0) {
            // Not filled by GetState: start from what the device has now.
            if (tcgetattr(fd, &t) != 0) return false;
        } else {
            std::memcpy(&t, state.native, sizeof t);
        }

        speed_t speed{};
        if (!SpeedForRate(state.baudRate, &speed)) return false;
        const tcflag_t size = SizeFlag(state.byteSize);
        if (size == 0) return false;
        tcflag_t parity = 0;
        switch (state.parity) {
            case 0: parity = 0; break;
            case 1: parity = Flags(PARENB | PARODD); break;
            case 2: parity = Flags(PARENB); break;
            case 3: parity = Flags(PARENB | PARODD | CMSPAR); break;
            case 4: parity = Flags(PARENB | CMSPAR); break;
            default: return false;
        }
        if (state.stopBits > 2) return false;

        // Raw bytes both ways: no line editing, echo, signals or translation.
        t.c_iflag &= ~Flags(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                            IXANY | INPCK | IUCLC | IMAXBEL);
        if (state.fParity) t.c_iflag |= Flags(INPCK);
        if (state.fOutX) t.c_iflag |= Flags(IXON);
        if (state.fInX) t.c_iflag |= Flags(IXOFF);
        t.c_oflag &= ~Flags(OPOST);
        t.c_lflag &= ~Flags(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
        t.c_cflag &= ~Flags(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL);
        t.c_cflag |= size | parity | Flags(CLOCAL | CREAD);
        if (state.stopBits != 0) t.c_cflag |= Flags(CSTOPB);
        if (state.fOutxCtsFlow) t.c_cflag |= Flags(CRTSCTS);
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        if (cfsetispeed(&t, speed) != 0 || cfsetospeed(&t, speed) != 0) return false;

        if (ApplyLine(fd, t) != 0) return false;
        // tcsetattr succeeds when any of the changes took; a driver that
        // ignored one the bootloader cannot do without fails the open like a
        // refused device-control block.
        termios now{};
        if (tcgetattr(fd, &now) != 0) return false;
        return LineSettingsTook(t, now);
    }

    bool SetupQueues(Handle h, std::uint32_t, std::uint32_t) override {
        // The tty layer sizes its own buffers.
        return ValidFd(h);
    }

    bool GetTimeouts(Handle h, Timeouts* timeouts) override {
        if (timeouts == nullptr || !ValidFd(h)) return false;
        const auto it = timeouts_.find(Fd(h));
        *timeouts = it != timeouts_.end() ? it->second : Timeouts{};
        return true;
    }

    bool SetTimeouts(Handle h, const Timeouts& timeouts) override {
        if (!ValidFd(h)) return false;
        timeouts_[Fd(h)] = timeouts;
        return true;
    }

    bool ClearDtr(Handle h) override {
        return ClearLine(h, TIOCM_DTR);
    }

    bool ClearRts(Handle h) override {
        return ClearLine(h, TIOCM_RTS);
    }

    bool Write(Handle h, const std::uint8_t* bytes, std::uint32_t count) override {
        if (h < 0 || h > INT32_MAX) return false;
        if (count == 0) return true;
        if (bytes == nullptr) return false;
        const int fd = Fd(h);

        // Both totals zero means no time-out at all, as on the original link.
        Timeouts limits{};
        const auto it = timeouts_.find(fd);
        if (it != timeouts_.end()) limits = it->second;
        const std::uint64_t budgetMs = std::uint64_t{limits.writeTotalTimeoutConstant} +
                                       std::uint64_t{limits.writeTotalTimeoutMultiplier} * count;
        const bool bounded = budgetMs != 0;
        using Clock = std::chrono::steady_clock;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(budgetMs);

        std::uint32_t sent = 0;
        while (sent < count) {
            const ssize_t n = write(fd, bytes + sent, count - sent);
            if (n > 0) {
                sent += static_cast<std::uint32_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;

            int waitMs = -1;
            if (bounded) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
                if (left <= 0) return false;
                waitMs = left > INT32_MAX ? INT32_MAX : static_cast<int>(left);
            }
            pollfd p{fd, POLLOUT, 0};
            const int ready = poll(&p, 1, waitMs);
            if (ready < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            if (ready == 0) return false;  // time-out
            if ((p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 && (p.revents & POLLOUT) == 0) return false;
        }
        return true;
    }

    bool Read(Handle h, std::uint8_t* buffer, std::uint32_t max, std::uint32_t* got) override {
        if (got != nullptr) *got = 0;
        if (h < 0 || h > INT32_MAX || buffer == nullptr || got == nullptr) return false;
        if (max == 0) return true;
        const int fd = Fd(h);
        for (;;) {
            const ssize_t n = read(fd, buffer, max);
            if (n > 0) {
                *got = static_cast<std::uint32_t>(n);
                return true;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;  // EIO
            // Nothing arrived, or the tty was hung up (an adapter unplugged,
            // the other end of a pseudo-terminal closed): only poll tells.
            pollfd p{fd, POLLIN, 0};
            return !(poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0);
        }
    }

    bool WaitReadable(Handle h, std::chrono::steady_clock::time_point deadline) override {
        return WaitForInput(h, deadline);
    }

    PortLatency Latency(Handle h) const override {
        const auto it = latency_.find(static_cast<int>(h));
        return it != latency_.end() ? it->second : PortLatency{};
    }

    void Close(Handle h) override {
        if (h < 0 || h > INT32_MAX) return;
        const int fd = Fd(h);
        timeouts_.erase(fd);
        latency_.erase(fd);
        if (fcntl(fd, F_GETFD) == -1) return;
        ioctl(fd, TIOCNXCL);
        flock(fd, LOCK_UN);
        close(fd);
    }

    OpenError LastOpenError() const override {
        return openError_;
    }

    std::string LastOpenErrorText() const override {
        return openErrorText_;
    }

private:
    static bool ClearLine(Handle h, int line) {
        if (h < 0 || h > INT32_MAX) return false;
        int bits = line;
        return ioctl(Fd(h), TIOCMBIC, &bits) == 0;
    }

    void Fail(OpenError error, std::string text) {
        openError_ = error;
        openErrorText_ = std::move(text);
    }

    void FailErrno(int err, const std::string& path) {
        OpenError kind = OpenError::Other;
        switch (err) {
            case ENOENT:
            case ENXIO:
            case ENODEV: kind = OpenError::Absent; break;
            case EBUSY:
            case EWOULDBLOCK: kind = OpenError::Busy; break;
            case EACCES:
            case EPERM: kind = OpenError::PermissionDenied; break;
            case ENOTTY: kind = OpenError::NotASerialPort; break;
            default: break;
        }
        Fail(kind, path + ": " + std::strerror(err));
    }

    // Bytes to read, or the deadline: ppoll to the microsecond, since a slice
    // is only 5 ms. A hang-up or an error is no input: the caller sleeps.
    static bool WaitForInput(Handle h, std::chrono::steady_clock::time_point deadline) {
        if (h < 0 || h > INT32_MAX) return false;
        pollfd p{Fd(h), POLLIN, 0};
        for (;;) {
            const auto left = deadline - std::chrono::steady_clock::now();
            const long long ns =
                left.count() <= 0 ? 0 : std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            timespec timeout{static_cast<time_t>(ns / 1000000000LL), static_cast<long>(ns % 1000000000LL)};
            const int ready = ppoll(&p, 1, &timeout, nullptr);
            if (ready < 0 && errno == EINTR) continue;
            return ready > 0 && (p.revents & POLLIN) != 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0;
        }
    }

    std::map<int, Timeouts> timeouts_;
    std::map<int, PortLatency> latency_;
    OpenError openError_ = OpenError::None;
    std::string openErrorText_;
};

}  // namespace

void SetLineDriverApply(LineDriverApply apply) {
    g_lineDriverApply = apply;
}

bool LineSettingsTook(const termios& asked, const termios& now) {
    const auto same = [](tcflag_t a, tcflag_t b, long mask) {
        return (a & Flags(mask)) == (b & Flags(mask));
    };
    return cfgetospeed(&now) == cfgetospeed(&asked) && cfgetispeed(&now) == cfgetispeed(&asked) &&
           same(asked.c_cflag, now.c_cflag, CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS | CREAD) &&
           same(asked.c_iflag, now.c_iflag,
                IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK) &&
           same(asked.c_oflag, now.c_oflag, OPOST) &&
           same(asked.c_lflag, now.c_lflag, ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN) &&
           now.c_cc[VMIN] == asked.c_cc[VMIN] && now.c_cc[VTIME] == asked.c_cc[VTIME];
}

SerialBackend& PosixBackend() {
    static PosixSerial backend;
    return backend;
}

}  // namespace pelmark::serial
