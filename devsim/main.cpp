// pelmark-devsim: a PIC serial bootloader played on a pseudo-terminal.
//
// Prints the slave path of its pty as the first line on stdout (and "COM<N>"
// as the second when --com is given), then answers whatever is written to
// that path the way the device's bootloader does, until SIGINT, SIGTERM or
// SIGHUP, until --exit-after-idle seconds pass without a received byte, or,
// with --once, once the line has been quiet for one second after at least one
// data frame (program row, trailer row or EEPROM frame) was received.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "devsim/device_model.h"
#include "devsim/realtime.h"
#include "images/intel_hex.h"
#include "images/mask.h"
#include "serial/com_name.h"
#include "serial/port_link.h"
#include "serial/port_map.h"

namespace {

using Clock = std::chrono::steady_clock;
using pelmark::devsim::DeviceConfig;
using pelmark::devsim::DeviceModel;

constexpr auto kPartialFrameSilence = std::chrono::milliseconds(100);
constexpr auto kOnceSilence = std::chrono::seconds(1);
// With --realtime, how long before a reply is due the simulator stops
// sleeping and waits awake.
constexpr auto kReleaseSpin = std::chrono::microseconds(500);
constexpr std::size_t kMaxQueuedReply = 64 * 1024;
constexpr int kFirstAutoCom = 100;
constexpr int kLastCom = pelmark::kPortCount;

volatile sig_atomic_t g_signal = 0;
volatile sig_atomic_t g_endFaults = 0;

void OnSignal(int signo) { g_signal = signo; }
// SIGUSR1: the faults asked for on the command line end; the device behaves.
void OnEndFaults(int) { g_endFaults = 1; }

// Decimal or 0x-prefixed hexadecimal, at most `max`.
std::optional<unsigned long> ParseNumber(const std::string& text, unsigned long max) {
    if (text.empty()) return std::nullopt;
    int base = 10;
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits = digits.substr(2);
    }
    for (char c : digits)
        if (!(base == 16 ? std::isxdigit(static_cast<unsigned char>(c))
                         : std::isdigit(static_cast<unsigned char>(c))))
            return std::nullopt;
    errno = 0;
    const unsigned long value = std::strtoul(digits.c_str(), nullptr, base);
    if (errno != 0 || value > max) return std::nullopt;
    return value;
}

CLI::Validator NumberUpTo(unsigned long max) {
    return CLI::Validator(
        [max](std::string& text) -> std::string {
            if (ParseNumber(text, max)) return {};
            return "expected a number (decimal or 0x hex) from 0 to " + std::to_string(max);
        },
        "NUMBER");
}

std::uint8_t Byte(const std::string& text) {
    return static_cast<std::uint8_t>(*ParseNumber(text, 0xFF));
}

std::uint16_t Word(const std::string& text) {
    return static_cast<std::uint16_t>(*ParseNumber(text, 0xFFFF));
}

// "c2,c5,c6", "0xC5", "" or "none": which search bytes the device answers.
bool ParseSearchBytes(const std::string& text, DeviceConfig& config) {
    config.answerC2 = config.answerC5 = config.answerC6 = false;
    if (text.empty() || text == "none") return true;
    std::size_t from = 0;
    while (from <= text.size()) {
        std::size_t comma = text.find(',', from);
        if (comma == std::string::npos) comma = text.size();
        std::string item = text.substr(from, comma - from);
        if (item.size() > 2 && item[0] == '0' && (item[1] == 'x' || item[1] == 'X'))
            item = item.substr(2);
        std::transform(item.begin(), item.end(), item.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (item == "c2")
            config.answerC2 = true;
        else if (item == "c5")
            config.answerC5 = true;
        else if (item == "c6")
            config.answerC6 = true;
        else
            return false;
        from = comma + 1;
    }
    return true;
}

bool MakeDirectories(const std::string& path) {
    for (std::size_t at = 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/') continue;
        const std::string part = path.substr(0, at);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A link left behind by a simulator that is gone may be replaced: it leads
// nowhere, or to this simulator's own terminal when the system gave the
// number of the old one to the new one. Anything else is someone else's.
bool LeftBehind(const std::string& entry, const std::string& slave) {
    struct stat target {};
    struct stat self {};
    struct stat own {};
    const bool isLink = lstat(entry.c_str(), &self) == 0 && S_ISLNK(self.st_mode);
    return isLink && (stat(entry.c_str(), &target) != 0 ||
                      (stat(slave.c_str(), &own) == 0 && target.st_rdev == own.st_rdev &&
                       target.st_ino == own.st_ino));
}

// Places comN -> slave in the port-map directory the updater reads. comNumber
// 0 picks the lowest free N from 100 on. Returns the link path and sets
// comNumber, or empty.
std::string PlaceComLink(int& comNumber, const std::string& slave) {
    const std::string dir = pelmark::serial::PortMapDir();
    if (dir.empty()) {
        std::fprintf(stderr, "pelmark-devsim: no port-map directory: set PELMARK_PORT_DIR or HOME\n");
        return {};
    }
    if (!MakeDirectories(dir)) {
        std::fprintf(stderr, "pelmark-devsim: cannot create %s: %s\n", dir.c_str(),
                     std::strerror(errno));
        return {};
    }
    if (comNumber != 0) {
        // Every spelling of the number goes, or none: the one COMn opens is
        // looked at first, then the next one in its place.
        for (std::string existing = pelmark::serial::PortMapEntry(comNumber); !existing.empty();
             existing = pelmark::serial::PortMapEntry(comNumber)) {
            if (!LeftBehind(existing, slave)) {
                std::fprintf(stderr, "pelmark-devsim: %s is already present\n", existing.c_str());
                return {};
            }
            if (unlink(existing.c_str()) != 0) {
                std::fprintf(stderr, "pelmark-devsim: cannot remove %s: %s\n", existing.c_str(),
                             std::strerror(errno));
                return {};
            }
        }
        const std::string link = pelmark::serial::NewPortMapEntryPath(comNumber);
        if (symlink(slave.c_str(), link.c_str()) != 0) {
            std::fprintf(stderr, "pelmark-devsim: cannot create %s: %s\n", link.c_str(),
                         std::strerror(errno));
            return {};
        }
        return link;
    }
    for (int n = kFirstAutoCom; n <= kLastCom; ++n) {
        if (!pelmark::serial::PortMapEntry(n).empty()) continue;  // taken, in any letter case
        const std::string link = pelmark::serial::NewPortMapEntryPath(n);
        if (symlink(slave.c_str(), link.c_str()) == 0) {
            comNumber = n;
            return link;
        }
        if (errno != EEXIST) {
            std::fprintf(stderr, "pelmark-devsim: cannot create %s: %s\n", link.c_str(),
                         std::strerror(errno));
            return {};
        }
    }
    std::fprintf(stderr, "pelmark-devsim: no free COM number from %d to %d in %s\n", kFirstAutoCom,
                 kLastCom, dir.c_str());
    return {};
}

// Removes the link only while it is still ours.
void RemoveComLink(const std::string& link, const std::string& slave) {
    if (link.empty()) return;
    char target[4096];
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n < 0) return;
    target[n] = '\0';
    if (slave == target) unlink(link.c_str());
}

void SetRaw(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return;
    cfmakeraw(&tio);
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CRTSCTS);
    tio.c_cflag |= CS8 | CSTOPB | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &tio);
}

std::string HexBytes(const std::uint8_t* data, std::size_t n) {
    std::string text;
    char field[4];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(field, sizeof field, i ? " %02x" : "%02x", static_cast<unsigned>(data[i]));
        text += field;
    }
    return text;
}

struct Options {
    std::string chip = "0x48";
    std::string bios = "5";
    std::string board = "5";
    std::string preparation = "0x04";
    bool legacy = false;
    std::optional<std::string> recordText;
    std::optional<std::string> skipStart;
    std::optional<std::string> skipLength;
    std::string searchBytes = "c2,c5,c6";
    bool plain = false;
    std::optional<std::string> maskBase;
    std::string dump;
    std::string log;
    bool verbose = false;
    std::optional<std::string> com;
    double exitAfterIdle = 0;
    bool once = false;
    std::uint32_t nakFrame = 0;
    std::uint32_t nakCount = 1;
    std::uint32_t silentFrame = 0;
    std::uint32_t silentCount = 0;
    std::uint32_t slowFrame = 0;
    std::uint32_t slowCount = 1;
    std::uint32_t slowMs = 0;
    std::uint32_t vanishFrame = 0;
    bool refuseSearch = false;
    std::uint32_t garbageBefore = 0;
    std::uint32_t garbageAfter = 0;
    std::uint32_t lateEntryMs = 0;
    std::uint32_t strayFrame = 0;
    std::uint32_t strayCount = 1;
    std::string strayBefore;
    std::string strayAfter;
    std::uint32_t strayMs = 0;
    std::optional<std::string> recordLength;
    std::optional<std::uint32_t> recordBytes;
    bool realtime = false;
    pelmark::devsim::DeviceTiming timing;
    std::string timingFile;
    std::optional<double> adapterLatencyMs;
};

class Simulator {
public:
    Simulator(const DeviceConfig& config, const Options& options)
        : model_(config), options_(options) {
        if (options.realtime) realtime_.emplace(options.timing, config);
        if (realtime_ && options.adapterLatencyMs)
            adapter_.emplace(*options.adapterLatencyMs, realtime_->ByteSeconds());
    }

    ~Simulator() {
        if (log_) std::fclose(log_);
        RemoveComLink(comLink_, slavePath_);
        if (slave_ >= 0) close(slave_);
        if (master_ >= 0) close(master_);
    }

    int Run() {
        CatchEndingSignals();
        if (!options_.log.empty()) {
            log_ = std::fopen(options_.log.c_str(), "w");
            if (!log_) {
                std::fprintf(stderr, "pelmark-devsim: cannot write %s: %s\n", options_.log.c_str(),
                             std::strerror(errno));
                return 1;
            }
        }
        if (!OpenPty()) return 1;
        int comNumber = 0;
        if (options_.com) {
            if (*options_.com != "auto") comNumber = static_cast<int>(*ParseNumber(*options_.com, kLastCom));
            comLink_ = PlaceComLink(comNumber, slavePath_);
            if (comLink_.empty()) return 1;
        }
        std::printf("%s\n", slavePath_.c_str());
        if (options_.com) std::printf("%s\n", pelmark::serial::ComName(comNumber).c_str());
        std::fflush(stdout);
        if (options_.verbose) {
            const auto& layout = model_.layout();
            std::fprintf(stderr,
                         "pelmark-devsim: chip 0x%02X (%s, row %u, limit 0x%X), bios %u, on %s\n",
                         model_.config().chip,
                         layout.family == pelmark::devsim::Family::Pic24 ? "PIC24" : "PIC18",
                         layout.rowSize, layout.addressLimit, model_.config().bios,
                         slavePath_.c_str());
        }
#ifdef __linux__
        // Replies leave on time to the microsecond, not up to the default
        // 50 us of timer slack late.
        if (realtime_) prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
        Serve();
        if (realtime_ && !options_.timingFile.empty()) {
            std::FILE* timing = std::fopen(options_.timingFile.c_str(), "w");
            if (!timing) {
                std::fprintf(stderr, "pelmark-devsim: cannot write %s: %s\n", options_.timingFile.c_str(),
                             std::strerror(errno));
                return 1;
            }
            realtime_->WriteTiming(timing);
            std::fclose(timing);
        }
        if (!options_.dump.empty()) {
            try {
                pelmark::hex::WriteFile(options_.dump, model_.Written());
            } catch (const pelmark::hex::Error& e) {
                std::fprintf(stderr, "pelmark-devsim: %s\n", e.what());
                return 1;
            }
        }
        return 0;
    }

private:
    bool OpenPty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
            std::fprintf(stderr, "pelmark-devsim: cannot create a pseudo-terminal: %s\n",
                         std::strerror(errno));
            return false;
        }
        const char* name = ptsname(master_);
        if (!name) {
            std::fprintf(stderr, "pelmark-devsim: ptsname: %s\n", std::strerror(errno));
            return false;
        }
        slavePath_ = name;
        // Held open for the whole run, never read: without it the master sees
        // a hang-up (EIO) whenever no updater has the port open.
        slave_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY);
        if (slave_ < 0) {
            std::fprintf(stderr, "pelmark-devsim: cannot open %s: %s\n", slavePath_.c_str(),
                         std::strerror(errno));
            return false;
        }
        SetRaw(master_);
        SetRaw(slave_);
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        return true;
    }

    // The ending signals stay blocked except inside ppoll(), so one that
    // arrives at any other moment (even before the pty path is printed) ends
    // the loop cleanly instead of killing the process mid-way.
    void CatchEndingSignals() {
        sigset_t blocked;
        sigemptyset(&blocked);
        sigaddset(&blocked, SIGINT);
        sigaddset(&blocked, SIGTERM);
        sigaddset(&blocked, SIGHUP);
        sigprocmask(SIG_BLOCK, &blocked, &duringPoll_);
        sigdelset(&duringPoll_, SIGINT);
        sigdelset(&duringPoll_, SIGTERM);
        sigdelset(&duringPoll_, SIGHUP);
        struct sigaction action {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
        sigaction(SIGHUP, &action, nullptr);
        signal(SIGPIPE, SIG_IGN);
        // SIGUSR1 is taken at any moment: it only sets a flag the loop reads.
        struct sigaction endFaults {};
        endFaults.sa_handler = OnEndFaults;
        sigemptyset(&endFaults.sa_mask);
        endFaults.sa_flags = SA_RESTART;
        sigaction(SIGUSR1, &endFaults, nullptr);
    }

    void Serve() {
        lastTraffic_ = Clock::now();
        bool sawDataFrame = false;
        std::uint8_t buffer[4096];
        while (g_signal == 0) {
            const auto now = Clock::now();
            std::optional<Clock::time_point> deadline;
            auto earliest = [&](Clock::time_point t) {
                if (!deadline || t < *deadline) deadline = t;
            };
            if (model_.InFrame()) earliest(lastTraffic_ + kPartialFrameSilence);
            if (options_.exitAfterIdle > 0)
                earliest(lastTraffic_ + std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double>(options_.exitAfterIdle)));
            if (options_.once && sawDataFrame) earliest(lastTraffic_ + kOnceSilence);
            if (!held_.empty())
                earliest(held_.front().first - (realtime_ ? kReleaseSpin : Clock::duration::zero()));
            if (g_endFaults != 0 && !model_.FaultsEnded()) model_.EndFaults();

            timespec timeout{};
            timespec* timeoutPtr = nullptr;
            if (deadline) {
                const auto left = std::max(Clock::duration::zero(), *deadline - now);
                const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
                timeout.tv_sec = static_cast<time_t>(ns / 1000000000);
                timeout.tv_nsec = static_cast<long>(ns % 1000000000);
                timeoutPtr = &timeout;
            }
            pollfd pfd{master_, static_cast<short>(POLLIN | (queued_.empty() ? 0 : POLLOUT)), 0};
            const int ready = ppoll(&pfd, 1, timeoutPtr, &duringPoll_);
            if (ready < 0) {
                if (errno == EINTR) continue;
                std::fprintf(stderr, "pelmark-devsim: poll: %s\n", std::strerror(errno));
                break;
            }
            if (pfd.revents & POLLIN) {
                const ssize_t n = read(master_, buffer, sizeof buffer);
                if (n > 0) {
                    const auto count = static_cast<std::size_t>(n);
                    lastTraffic_ = Clock::now();
                    if (options_.verbose)
                        std::fprintf(stderr, "rx %s\n", HexBytes(buffer, count).c_str());
                    const std::uint32_t before = dataFrames_;
                    if (realtime_) {
                        // The bytes take their time on the line, the device
                        // its time to write, the replies theirs to go back.
                        std::vector<pelmark::devsim::FrameEvent> events;
                        for (auto& reply : realtime_->Receive(model_, buffer, count, lastTraffic_, events))
                            HoldReply(std::move(reply));
                        EmitEvents(std::move(events));
                    } else {
                        const auto reply = model_.Feed(buffer, count);
                        const std::uint32_t delay = model_.TakeReplyDelay();
                        Hold(reply, delay);
                        std::vector<std::uint8_t> stray;
                        const std::uint32_t strayMs = model_.TakeStray(stray);
                        Hold(stray, delay + strayMs);
                    }
                    EmitEvents();
                    if (dataFrames_ != before) sawDataFrame = true;
                    if (model_.Vanished()) {
                        Vanish();
                        break;
                    }
                }
            } else if (pfd.revents & (POLLHUP | POLLERR)) {
                // Should not happen while the slave is held open; do not spin.
                usleep(20000);
            }
            ReleaseHeld();
            if (!queued_.empty()) Flush();

            const auto after = Clock::now();
            if (model_.InFrame() && after - lastTraffic_ >= kPartialFrameSilence) {
                model_.DropPartialFrame();
                EmitEvents();
            }
            if (options_.exitAfterIdle > 0 &&
                after - lastTraffic_ >= std::chrono::duration<double>(options_.exitAfterIdle))
                break;
            if (options_.once && sawDataFrame && after - lastTraffic_ >= kOnceSilence) break;
        }
        if (!queued_.empty() && master_ >= 0) Flush();
    }

    // Replies of a slow frame wait their delay; later replies queue behind
    // them, as they would on a line.
    void Hold(const std::vector<std::uint8_t>& bytes, std::uint32_t delayMs) {
        if (bytes.empty()) return;
        if (delayMs == 0 && held_.empty()) {
            Queue(bytes);
            return;
        }
        Clock::time_point release = Clock::now() + std::chrono::milliseconds(delayMs);
        if (!held_.empty()) release = std::max(release, held_.back().first);
        held_.emplace_back(release, bytes);
    }

    // A reply that may leave at `release` at the earliest, behind the ones
    // already held.
    void HoldUntil(Clock::time_point release, std::vector<std::uint8_t> bytes) {
        if (bytes.empty()) return;
        if (!held_.empty()) release = std::max(release, held_.back().first);
        held_.emplace_back(release, std::move(bytes));
    }

    // A reply off the line, through the USB adapter when there is one.
    void HoldReply(pelmark::devsim::RealtimeLine::Reply reply) {
        if (!adapter_) {
            HoldUntil(reply.release, std::move(reply.bytes));
            return;
        }
        for (auto& piece : adapter_->Pass(reply)) HoldUntil(piece.release, std::move(piece.bytes));
    }

    void ReleaseHeld() {
        auto now = Clock::now();
        if (realtime_ && !held_.empty() && held_.front().first > now &&
            held_.front().first - now <= kReleaseSpin) {
            // A timed wake-up comes a tenth of a millisecond late or more;
            // the last stretch before a reply is due is waited out awake.
            while ((now = Clock::now()) < held_.front().first) {
            }
        }
        while (!held_.empty() && held_.front().first <= now) {
            Queue(held_.front().second);
            held_.pop_front();
        }
    }

    // The device is unplugged: both sides of the terminal close at once, so
    // the updater's port hangs up, and the port-map link goes with it.
    void Vanish() {
        if (options_.verbose) std::fprintf(stderr, "pelmark-devsim: vanished\n");
        held_.clear();
        queued_.clear();
        RemoveComLink(comLink_, slavePath_);
        comLink_.clear();
        if (slave_ >= 0) close(slave_);
        if (master_ >= 0) close(master_);
        slave_ = master_ = -1;
    }

    void Queue(const std::vector<std::uint8_t>& bytes) {
        if (bytes.empty()) return;
        if (options_.verbose)
            std::fprintf(stderr, "tx %s\n", HexBytes(bytes.data(), bytes.size()).c_str());
        if (queued_.size() + bytes.size() > kMaxQueuedReply) {
            std::fprintf(stderr, "pelmark-devsim: nobody reads the port; %zu reply bytes dropped\n",
                         bytes.size());
            return;
        }
        queued_.insert(queued_.end(), bytes.begin(), bytes.end());
    }

    void Flush() {
        std::uint8_t chunk[4096];
        while (!queued_.empty()) {
            const std::size_t n = std::min(queued_.size(), sizeof chunk);
            std::copy_n(queued_.begin(), n, chunk);
            const ssize_t written = write(master_, chunk, n);
            if (written <= 0) return;  // EAGAIN: the rest goes when POLLOUT says so
            queued_.erase(queued_.begin(), queued_.begin() + written);
        }
    }

    void EmitEvents() { EmitEvents(model_.TakeEvents()); }

    void EmitEvents(const std::vector<pelmark::devsim::FrameEvent>& events) {
        for (const auto& event : events) {
            using pelmark::devsim::FrameKind;
            if (event.kind == FrameKind::Program || event.kind == FrameKind::Trailer ||
                event.kind == FrameKind::Eeprom)
                ++dataFrames_;
            const std::string line = pelmark::devsim::FormatEvent(event);
            if (log_) {
                std::fprintf(log_, "%s\n", line.c_str());
                std::fflush(log_);
            }
            if (options_.verbose) std::fprintf(stderr, "%s\n", line.c_str());
        }
    }

    DeviceModel model_;
    const Options& options_;
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
    std::string comLink_;
    std::FILE* log_ = nullptr;
    std::deque<std::uint8_t> queued_;
    std::deque<std::pair<Clock::time_point, std::vector<std::uint8_t>>> held_;
    std::optional<pelmark::devsim::RealtimeLine> realtime_;
    std::optional<pelmark::devsim::UsbAdapter> adapter_;
    Clock::time_point lastTraffic_;
    std::uint32_t dataFrames_ = 0;
    sigset_t duringPoll_{};
};

}  // namespace

int main(int argc, char** argv) {
    Options o;
    CLI::App app{"Virtual PIC serial bootloader on a pseudo-terminal.\n"
                 "Prints the pty slave path (and COM<N> with --com), then serves until\n"
                 "SIGINT/SIGTERM, --exit-after-idle, or --once.",
                 "pelmark-devsim"};
    app.add_option("--chip", o.chip, "Chip code (decimal or 0x hex)")
        ->capture_default_str()->check(NumberUpTo(0xFF));
    app.add_option("--bios", o.bios, "Bootloader version")->capture_default_str()->check(NumberUpTo(0xFF));
    app.add_option("--board", o.board, "Board code")->capture_default_str()->check(NumberUpTo(0xFF));
    app.add_option("--preparation", o.preparation, "Preparation code")
        ->capture_default_str()->check(NumberUpTo(0xFF));
    app.add_flag("--legacy", o.legacy, "No \"V\" record: answer a search byte with the chip byte and \"K\"");
    app.add_option("--record-text", o.recordText, "Text of the \"R\" device record (versions 8 to 31)");
    app.add_option("--skip-start", o.skipStart, "Skip start of the \"R\" device record")->check(NumberUpTo(0xFFFF));
    app.add_option("--skip-length", o.skipLength, "Skip length of the \"R\" device record")
        ->check(NumberUpTo(0xFFFF));
    app.add_option("--search-bytes", o.searchBytes, "Search bytes answered: c2,c5,c6 or none")
        ->capture_default_str();
    app.add_flag("--plain", o.plain, "Store data frames as received, without unmasking");
    app.add_option("--mask-base", o.maskBase, "Mask constant B (default: the build's)")->check(NumberUpTo(0xFF));
    app.add_option("--dump", o.dump, "Write the written memory as Intel HEX to FILE at exit");
    app.add_option("--log", o.log, "Write one line per frame received to FILE");
    app.add_option("--com", o.com, "Place comN -> pty in the port-map directory (N or auto)")
        ->check([](const std::string& text) -> std::string {
            if (text == "auto") return {};
            const auto n = ParseNumber(text, kLastCom);
            if (n && *n >= 1) return {};
            return "expected auto or a COM number from 1 to " + std::to_string(kLastCom);
        });
    app.add_option("--exit-after-idle", o.exitAfterIdle, "Exit after SECONDS without received bytes")
        ->check(CLI::NonNegativeNumber);
    app.add_flag("--once", o.once, "Exit when the line has been quiet for 1 s after a data frame");
    app.add_option("--nak-frame", o.nakFrame,
                   "Refuse data frame N (counted from 1 as they arrive, resends included) with \"N\"")
        ->check(CLI::PositiveNumber);
    app.add_option("--nak-count", o.nakCount, "Refuse that many frames from --nak-frame on")
        ->capture_default_str()->check(CLI::PositiveNumber);
    app.add_option("--silent-frame", o.silentFrame, "Answer no data frame from data frame N on")
        ->check(CLI::PositiveNumber);
    app.add_option("--silent-count", o.silentCount, "Stay silent for that many frames from --silent-frame on")
        ->check(CLI::PositiveNumber);
    app.add_option("--slow-frame", o.slowFrame, "Answer data frame N late, by --slow-ms")
        ->check(CLI::PositiveNumber);
    app.add_option("--slow-count", o.slowCount, "Answer that many frames from --slow-frame on late")
        ->capture_default_str()->check(CLI::PositiveNumber);
    app.add_option("--slow-ms", o.slowMs, "How late the slow frames are answered, in milliseconds")
        ->check(CLI::Range(0u, 600000u));
    app.add_option("--vanish-frame", o.vanishFrame,
                   "At data frame N close the terminal unanswered and exit, like an unplugged adapter")
        ->check(CLI::PositiveNumber);
    app.add_flag("--refuse-search", o.refuseSearch, "Answer the search bytes with \"N\" instead of the identity");
    app.add_option("--garbage-before", o.garbageBefore, "Send that many noise bytes before every reply")
        ->check(CLI::Range(0u, 4096u));
    app.add_option("--garbage-after", o.garbageAfter, "Send that many noise bytes after every reply")
        ->check(CLI::Range(0u, 4096u));
    app.add_option("--late-entry-ms", o.lateEntryMs,
                   "Answer the entry byte that many milliseconds late; replies after it queue behind")
        ->check(CLI::Range(0u, 600000u));
    app.add_option("--stray-frame", o.strayFrame,
                   "Send --stray-before / --stray-after beside the reply to data frame N")
        ->check(CLI::PositiveNumber);
    app.add_option("--stray-count", o.strayCount, "... for that many frames from --stray-frame on")
        ->capture_default_str()->check(CLI::PositiveNumber);
    app.add_option("--stray-before", o.strayBefore, "Bytes sent just before the reply (\"K\", \"N\", ...)");
    app.add_option("--stray-after", o.strayAfter, "Bytes sent after the reply (\"K\", \"N\", ...)");
    app.add_option("--stray-ms", o.strayMs, "Send the --stray-after bytes that many milliseconds after the reply")
        ->check(CLI::Range(0u, 600000u));
    app.add_option("--record-length", o.recordLength, "Length byte of the \"R\" record (default 28)")
        ->check(NumberUpTo(0xFF));
    app.add_option("--record-bytes", o.recordBytes,
                   "Data bytes the \"R\" record carries (default: its length; fewer: cut off without \"K\")")
        ->check(CLI::Range(0u, 4096u));
    CLI::Option* realtime = app.add_flag(
        "--realtime", o.realtime,
        "Take the time of a real device: 11 bits a byte at 115200 baud both ways, and the chip's "
        "programming time before every answer to a written frame");
    app.add_option("--pic18-row-ms", o.timing.pic18RowMs,
                   "PIC18 row write (64 bytes) in ms; default by chip: 2.8 for the K80 family (datasheet "
                   "typical), 2.0 for the others (PIC18F2580 datasheet typical)")
        ->check(CLI::Range(0.0, 1000.0))->needs(realtime);
    app.add_option("--pic24-row-ms", o.timing.pic24RowMs,
                   "PIC24HJ/dsPIC33FJ row write (64 instructions) in ms (datasheet typical)")
        ->capture_default_str()->check(CLI::Range(0.0, 1000.0))->needs(realtime);
    app.add_option("--page-erase-ms", o.timing.pic24PageEraseMs,
                   "PIC24HJ/dsPIC33FJ page erase (8 rows) in ms, charged at the first row of each page "
                   "(datasheet typical)")
        ->capture_default_str()->check(CLI::Range(0.0, 1000.0))->needs(realtime);
    app.add_option("--eeprom-write-ms", o.timing.eepromByteMs,
                   "PIC18 data EEPROM byte write in ms (datasheet typical)")
        ->capture_default_str()->check(CLI::Range(0.0, 1000.0))->needs(realtime);
    app.add_option("--adapter-latency-ms", o.adapterLatencyMs,
                   "Pass replies on like a USB serial adapter with this latency timer: when the timer runs out "
                   "(MS after its last transfer to the host) or its 62-byte buffer is full")
        ->check(CLI::Range(0.0, 255.0))->needs(realtime);
    app.add_flag("--busy-after-ack", o.timing.busyAfterAck,
                 "Answer \"K\" before writing, then lose the bytes that arrive during the write (the rest of "
                 "their frame is dropped and refused with \"N\")")
        ->needs(realtime);
    app.add_option("--timing", o.timingFile,
                   "Write at exit one line per frame: kind, bytes received, bytes sent, device time in us")
        ->needs(realtime);
    app.add_flag("-v,--verbose", o.verbose, "Show bytes and frames on stderr");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }

    DeviceConfig config;
    config.chip = Byte(o.chip);
    config.bios = Byte(o.bios);
    config.board = Byte(o.board);
    config.preparation = Byte(o.preparation);
    config.legacy = o.legacy;
    config.hasRecord = o.recordText || o.skipStart || o.skipLength || o.recordLength || o.recordBytes;
    config.recordText = o.recordText.value_or("");
    config.skipStart = o.skipStart ? Word(*o.skipStart) : std::uint16_t{0};
    config.skipLength = o.skipLength ? Word(*o.skipLength) : std::uint16_t{0};
    config.plain = o.plain;
    config.maskBase = o.maskBase ? Byte(*o.maskBase) : pelmark::kMaskBase;
    config.nakFrame = o.nakFrame;
    config.nakCount = o.nakCount;
    config.silentFrame = o.silentFrame;
    config.silentCount = o.silentCount;
    config.slowFrame = o.slowFrame;
    config.slowCount = o.slowCount;
    config.slowMs = o.slowMs;
    config.vanishFrame = o.vanishFrame;
    config.refuseSearch = o.refuseSearch;
    config.garbageBefore = o.garbageBefore;
    config.garbageAfter = o.garbageAfter;
    config.lateEntryMs = o.lateEntryMs;
    config.strayFrame = o.strayFrame;
    config.strayCount = o.strayCount;
    config.strayBefore = o.strayBefore;
    config.strayAfter = o.strayAfter;
    config.strayMs = o.strayMs;
    if (o.recordLength) config.recordLength = Byte(*o.recordLength);
    config.recordBytes = o.recordBytes;
    if (!ParseSearchBytes(o.searchBytes, config)) {
        std::fprintf(stderr, "pelmark-devsim: --search-bytes: expected a list of c2, c5, c6 or none\n");
        return 2;
    }

    Simulator simulator(config, o);
    return simulator.Run();
}
