// pelmark-bench: how close an update comes to what the line and the flash
// allow.
//
// For every image the build carries (row 0 of the image table), it runs
// pelmark-flash against pelmark-devsim --realtime several times and takes the
// median wall time. The device reports every frame it received, the bytes it
// sent back and the time it spent writing; from those the benchmark computes
//   limit   the wire time of every byte in both directions plus the device's
//           programming time: what a host that wastes nothing would take;
//   slices  the same exchanges each rounded up to whole 5 ms slices, since
//           the engine looks for a reply once per slice: the design's own
//           figure.
// Every image is updated in six ways: the default mode and fast mode
// (pelmark-flash --fast) on the line itself, then both again behind a USB
// adapter with a 16 ms latency timer (an FTDI chip's default) and with a 1 ms
// one (pelmark-devsim --adapter-latency-ms). One line each: firmware bytes
// (program and EEPROM), data frames (rows, trailer row, EEPROM frames), bytes
// on the wire both ways, limit, slices, the median wall time of pelmark-flash
// (process start to exit), median / limit, median / slices, the CPU time
// (user and system) of that run as a share of its wall time, the peak
// resident memory of all runs, the time of that run outside the exchanges
// (process start to the first byte the device read, and the last reply to
// the exit), the mean time per answered exchange beyond its wire and device
// time (the host's reaction, and the adapter's hold), and the frames of that
// run that took one slice or more beyond the design's rounding. Then the
// worst ratios of both modes on the line.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "images/image_table.h"

extern char** environ;

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr double kSliceSeconds = 0.005;

struct Target {
    int slot;
    const char* chipName;
    const char* chipCode;
};

// The chip each slot is made for, as the device announces it.
constexpr Target kTargets[] = {
    {0, "PIC18F258", "0x42"},   {1, "PIC18F2580", "0x43"},  {2, "PIC18F2480", "0x44"},
    {3, "PIC18F248", "0x45"},   {4, "PIC18F2320", "0x46"},  {5, "PIC18F24J10", "0xC7"},
    {6, "PIC24HJ64", "0xFE"},   {7, "PIC24HJ128", "0xFD"},  {8, "PIC18F25K80", "0x47"},
    {9, "PIC18F26K80", "0x48"},
};

struct Options {
    std::string flash;
    std::string devsim;
    int runs = 5;
    std::string bios = "5";
    std::string board = "5";
    std::string preparation = "0x04";
    bool verbose = false;
};

[[noreturn]] void Fail(const std::string& text) {
    throw std::runtime_error(text);
}

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/pelmark-bench-XXXXXX";
        if (mkdtemp(pattern) == nullptr) Fail("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        const std::string command = "rm -rf '" + path_ + "'";
        if (std::system(command.c_str()) != 0) std::fprintf(stderr, "pelmark-bench: cannot remove %s\n", path_.c_str());
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

pid_t Spawn(const std::vector<std::string>& args, int stdoutFd, int stderrFd) {
    std::vector<char*> argv;
    std::vector<std::string> copy = args;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdoutFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
    if (stderrFd >= 0) posix_spawn_file_actions_adddup2(&actions, stderrFd, STDERR_FILENO);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) Fail("cannot start " + args[0] + ": " + std::strerror(rc));
    return pid;
}

// One frame as the device saw it.
struct Exchange {
    std::string kind;
    double received = 0;
    double sent = 0;
    double deviceSeconds = 0;
    double readAt = 0;  // seconds from the device's first read
};

struct DeviceReport {
    double byteSeconds = 0;
    std::vector<Exchange> exchanges;
};

DeviceReport ReadTiming(const std::string& path) {
    std::ifstream in(path);
    if (!in) Fail("the device wrote no timing file " + path);
    DeviceReport report;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("# byte_us ", 0) == 0) {
            report.byteSeconds = std::strtod(line.c_str() + 10, nullptr) / 1e6;
            continue;
        }
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        Exchange e;
        double deviceUs = 0;
        double readUs = 0;
        double repliedUs = 0;
        if (!(fields >> e.kind >> e.received >> e.sent >> deviceUs >> readUs >> repliedUs))
            Fail("bad timing line: " + line);
        e.deviceSeconds = deviceUs / 1e6;
        e.readAt = readUs / 1e6;
        report.exchanges.push_back(e);
    }
    if (report.byteSeconds <= 0) Fail("the timing file " + path + " names no byte time");
    return report;
}

struct Figures {
    long dataFrames = 0;
    double wireBytes = 0;
    double limit = 0;   // wire and device time
    double slices = 0;  // each answered exchange rounded up to whole slices
    // Answered frames followed by another: how many took at least one slice
    // more than the design's rounding, seen from the device (the time from
    // one frame to the next).
    long timed = 0;
    long late = 0;
    // From the first byte the device read to the last reply, and the time
    // those exchanges took beyond their wire and device time.
    double span = 0;
    double beyond = 0;
};

Figures Compute(const DeviceReport& report) {
    Figures f;
    for (const Exchange& e : report.exchanges) {
        const double bytes = e.received + e.sent;
        const double seconds = bytes * report.byteSeconds + e.deviceSeconds;
        f.wireBytes += bytes;
        f.limit += seconds;
        if (e.sent > 0)
            f.slices += std::ceil(seconds / kSliceSeconds - 1e-9) * kSliceSeconds;
        else
            f.slices += seconds;
        if (e.kind == "program" || e.kind == "trailer" || e.kind == "eeprom") ++f.dataFrames;
    }
    const std::vector<Exchange>& ex = report.exchanges;
    for (std::size_t i = 0; i + 1 < ex.size(); ++i) {
        if (ex[i].sent == 0) continue;
        const double seconds = (ex[i].received + ex[i].sent) * report.byteSeconds + ex[i].deviceSeconds;
        const double designed = std::ceil(seconds / kSliceSeconds - 1e-9) * kSliceSeconds;
        const double took = ex[i + 1].readAt - ex[i].readAt;
        ++f.timed;
        if (took >= designed + kSliceSeconds * 0.9) ++f.late;
        f.beyond += took - seconds;
    }
    if (!ex.empty()) {
        const Exchange& last = ex.back();
        f.span = last.readAt + (last.received + last.sent) * report.byteSeconds + last.deviceSeconds;
    }
    return f;
}

struct Run {
    double wall = 0;
    double cpu = 0;
    long peakKb = 0;
    DeviceReport device;
};

std::string LastLine(const std::string& path) {
    std::ifstream in(path);
    std::string last;
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) last = line;
    return last;
}

// One way of updating: what pelmark-flash and pelmark-devsim are given
// beyond the port and the device.
struct Mode {
    const char* name;
    std::vector<std::string> flashArgs;
    std::vector<std::string> devsimArgs;
};

Run RunOnce(const Options& o, const Target& target, const Mode& mode) {
    TempDir dir;
    const std::string timing = dir.path() + "/timing.txt";
    const std::string ports = dir.path() + "/ports";
    mkdir(ports.c_str(), 0755);
    setenv("PELMARK_PORT_DIR", ports.c_str(), 1);

    int pipeFds[2];
    if (pipe(pipeFds) != 0) Fail("pipe failed");
    std::vector<std::string> deviceArgs = {o.devsim, "--realtime", "--chip", target.chipCode, "--bios", o.bios,
                                           "--board", o.board, "--preparation", o.preparation, "--timing", timing};
    deviceArgs.insert(deviceArgs.end(), mode.devsimArgs.begin(), mode.devsimArgs.end());
    const pid_t device = Spawn(deviceArgs, pipeFds[1], -1);
    close(pipeFds[1]);
    std::FILE* deviceOut = fdopen(pipeFds[0], "r");
    char line[512] = {};
    if (deviceOut == nullptr || std::fgets(line, sizeof line, deviceOut) == nullptr) {
        kill(device, SIGTERM);
        waitpid(device, nullptr, 0);
        Fail("the virtual device printed no terminal path");
    }
    std::string pty(line);
    while (!pty.empty() && (pty.back() == '\n' || pty.back() == '\r')) pty.pop_back();

    const std::string outPath = dir.path() + "/flash.out";
    const std::string errPath = dir.path() + "/flash.err";
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);

    Run run;
    const SteadyClock::time_point start = SteadyClock::now();
    std::vector<std::string> flashArgs = {o.flash, "--port", pty};
    flashArgs.insert(flashArgs.end(), mode.flashArgs.begin(), mode.flashArgs.end());
    const pid_t flash = Spawn(flashArgs, out, err);
    int status = 0;
    rusage usage{};
    while (wait4(flash, &status, 0, &usage) < 0) {
        if (errno != EINTR) Fail("wait4 failed");
    }
    run.wall = std::chrono::duration<double>(SteadyClock::now() - start).count();
    close(out);
    close(err);
    run.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
              static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.peakKb = usage.ru_maxrss;

    kill(device, SIGTERM);
    waitpid(device, nullptr, 0);
    std::fclose(deviceOut);

    const std::string outcome = LastLine(outPath);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        Fail(std::string("pelmark-flash failed on the ") + target.chipName + ": " + outcome + " " + LastLine(errPath));
    if (o.verbose)
        std::fprintf(stderr, "  %s %s: %.3f s, %s\n", target.chipName, mode.name, run.wall, outcome.c_str());
    run.device = ReadTiming(timing);
    return run;
}

template <typename T, typename Key>
T Median(std::vector<T> values, Key key) {
    std::sort(values.begin(), values.end(), [&](const T& a, const T& b) { return key(a) < key(b); });
    return values[values.size() / 2];
}

int Usage() {
    std::fprintf(stderr,
                 "usage: pelmark-bench --flash PATH --devsim PATH [--runs N] [--bios V] [--board B]\n"
                 "                     [--preparation P] [-v]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::invalid_argument(a);
            return argv[++i];
        };
        try {
            if (a == "--flash")
                o.flash = value();
            else if (a == "--devsim")
                o.devsim = value();
            else if (a == "--runs")
                o.runs = std::stoi(value());
            else if (a == "--bios")
                o.bios = value();
            else if (a == "--board")
                o.board = value();
            else if (a == "--preparation")
                o.preparation = value();
            else if (a == "-v" || a == "--verbose")
                o.verbose = true;
            else
                return Usage();
        } catch (const std::exception&) {
            return Usage();
        }
    }
    if (o.flash.empty() || o.devsim.empty() || o.runs < 1) return Usage();

    pelmark::InitImageTable();
    const Mode modes[] = {
        {"default", {}, {}},
        {"fast", {"--fast"}, {}},
        {"default 16ms", {}, {"--adapter-latency-ms", "16"}},
        {"fast 16ms", {"--fast"}, {"--adapter-latency-ms", "16"}},
        {"default 1ms", {}, {"--adapter-latency-ms", "1"}},
        {"fast 1ms", {"--fast"}, {"--adapter-latency-ms", "1"}},
    };
    std::printf("%-12s %-13s %8s %6s %7s %8s %8s %8s %6s %6s %5s %7s %7s %7s %5s\n", "image", "mode", "firmware",
                "frames", "wire B", "limit s", "slices s", "median s", "/limit", "/slices", "cpu %", "peak KB",
                "outside", "gap us", "late");
    double worst[2] = {0, 0};  // default, fast: median / limit on the line
    std::string worstName[2];
    try {
        for (const Target& target : kTargets) {
            const pelmark::ImageTableEntry& image = pelmark::g_imageTable[0][target.slot];
            if (!pelmark::HoldsImage(image)) continue;
            for (std::size_t m = 0; m < sizeof modes / sizeof modes[0]; ++m) {
                const Mode& mode = modes[m];
                std::vector<Run> runs;
                for (int r = 0; r < o.runs; ++r) runs.push_back(RunOnce(o, target, mode));
                const Run median = Median(runs, [](const Run& run) { return run.wall; });
                const Figures f = Compute(median.device);
                long peak = 0;
                for (const Run& run : runs) peak = std::max(peak, run.peakKb);
                const double ratio = median.wall / f.limit;
                if (m < 2 && ratio > worst[m]) {
                    worst[m] = ratio;
                    worstName[m] = target.chipName;
                }
                const long firmware = static_cast<long>(image.programLength) + image.eepromCount;
                const double gapUs = f.timed > 0 ? 1e6 * f.beyond / static_cast<double>(f.timed) : 0;
                std::printf("%-12s %-13s %8ld %6ld %7.0f %8.3f %8.3f %8.3f %6.3f %7.3f %5.2f %7ld %7.3f %7.0f %5ld\n",
                            target.chipName, mode.name, firmware, f.dataFrames, f.wireBytes, f.limit, f.slices,
                            median.wall, ratio, median.wall / f.slices, 100.0 * median.cpu / median.wall, peak,
                            median.wall - f.span, gapUs, f.late);
                std::fflush(stdout);
            }
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pelmark-bench: %s\n", e.what());
        return 1;
    }
    if (worstName[0].empty()) {
        std::fprintf(stderr, "pelmark-bench: the build carries no image\n");
        return 1;
    }
    std::printf("worst ratio to the limit on the line: default %.3f (%s), fast %.3f (%s)\n", worst[0],
                worstName[0].c_str(), worst[1], worstName[1].c_str());
    return 0;
}
