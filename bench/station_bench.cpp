// pelmark-station-bench: what updating several boards at once costs beside
// updating one.
//
// Each run starts its devices (pelmark-devsim --realtime, each on a COM name
// of a fresh port map), then times pelmark-flash from its start to its exit:
// once with one device (--port COMa, the single-process run), once as the
// station with every device (--port COMa --port COMb ...). The figures:
// the medians of both over the runs, their ratio (the target: at most 1.15),
// and the CPU time of pelmark-flash and its children (user and system) as a
// share of the wall time, of one core; the devices' own CPU is not counted.
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
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace {

using SteadyClock = std::chrono::steady_clock;

struct Options {
    std::string flash;
    std::string devsim;
    int runs = 3;
    int ports = 8;
    std::vector<std::string> device = {"--chip", "0x48", "--bios", "5", "--board", "5", "--preparation", "0x04"};
    bool verbose = false;
};

[[noreturn]] void Fail(const std::string& text) { throw std::runtime_error(text); }

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/pelmark-station-bench-XXXXXX";
        if (mkdtemp(pattern) == nullptr) Fail("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        const std::string command = "rm -rf '" + path_ + "'";
        if (std::system(command.c_str()) != 0) std::fprintf(stderr, "pelmark-station-bench: cannot remove %s\n", path_.c_str());
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

pid_t Spawn(const std::vector<std::string>& args, int stdoutFd, int stderrFd) {
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
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

// The virtual devices of one run, each on its COM name; ended with the run.
class Devices {
public:
    Devices(const Options& o, int count, const std::string& portDir) {
        setenv("PELMARK_PORT_DIR", portDir.c_str(), 1);
        for (int i = 0; i < count; ++i) {
            int fds[2];
            if (pipe(fds) != 0) Fail("pipe failed");
            std::vector<std::string> args = {o.devsim, "--realtime", "--com", "auto"};
            args.insert(args.end(), o.device.begin(), o.device.end());
            pids_.push_back(Spawn(args, fds[1], -1));
            close(fds[1]);
            std::FILE* out = fdopen(fds[0], "r");
            outs_.push_back(out);
            char line[512];
            // The device prints its terminal, then its COM name.
            if (out == nullptr || std::fgets(line, sizeof line, out) == nullptr ||
                std::fgets(line, sizeof line, out) == nullptr)
                Fail("the virtual device printed no COM name");
            std::string com(line);
            while (!com.empty() && (com.back() == '\n' || com.back() == '\r')) com.pop_back();
            coms_.push_back(com);
        }
    }
    ~Devices() {
        for (const pid_t pid : pids_) kill(pid, SIGTERM);
        for (const pid_t pid : pids_) waitpid(pid, nullptr, 0);
        for (std::FILE* out : outs_)
            if (out != nullptr) std::fclose(out);
    }
    Devices(const Devices&) = delete;
    Devices& operator=(const Devices&) = delete;
    const std::vector<std::string>& coms() const { return coms_; }

private:
    std::vector<pid_t> pids_;
    std::vector<std::FILE*> outs_;
    std::vector<std::string> coms_;
};

struct Run {
    double wall = 0;
    double cpu = 0;  // pelmark-flash and the children it waited for
};

std::string LastLine(const std::string& path) {
    std::ifstream in(path);
    std::string last;
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) last = line;
    return last;
}

double ChildrenCpu() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

Run RunOnce(const Options& o, int count) {
    TempDir dir;
    const std::string ports = dir.path() + "/ports";
    mkdir(ports.c_str(), 0755);
    Devices devices(o, count, ports);

    const std::string outPath = dir.path() + "/flash.out";
    const std::string errPath = dir.path() + "/flash.err";
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> args = {o.flash};
    for (const std::string& com : devices.coms()) args.insert(args.end(), {"--port", com});

    // wait4 tells of pelmark-flash alone; the children's account of this
    // process holds the station's children too once it has ended. Only the
    // devices of earlier runs are in it beforehand: these are reaped later.
    const double before = ChildrenCpu();
    const SteadyClock::time_point start = SteadyClock::now();
    const pid_t flash = Spawn(args, out, err);
    int status = 0;
    while (waitpid(flash, &status, 0) < 0)
        if (errno != EINTR) Fail("waitpid failed");
    Run run;
    run.wall = std::chrono::duration<double>(SteadyClock::now() - start).count();
    run.cpu = ChildrenCpu() - before;
    close(out);
    close(err);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        Fail("pelmark-flash failed with " + std::to_string(count) + " device(s): " + LastLine(outPath) + " " +
             LastLine(errPath));
    if (o.verbose) std::fprintf(stderr, "  %d device(s): %.3f s, cpu %.3f s\n", count, run.wall, run.cpu);
    return run;
}

Run Median(std::vector<Run> runs) {
    std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.wall < b.wall; });
    return runs[runs.size() / 2];
}

int Usage() {
    std::fprintf(stderr,
                 "usage: pelmark-station-bench --flash PATH --devsim PATH [--runs N] [--ports N] [-v]\n"
                 "                             [-- pelmark-devsim options of every device]\n");
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
            if (a == "--flash") {
                o.flash = value();
            } else if (a == "--devsim") {
                o.devsim = value();
            } else if (a == "--runs") {
                o.runs = std::stoi(value());
            } else if (a == "--ports") {
                o.ports = std::stoi(value());
            } else if (a == "-v" || a == "--verbose") {
                o.verbose = true;
            } else if (a == "--") {
                o.device.assign(argv + i + 1, argv + argc);
                break;
            } else {
                return Usage();
            }
        } catch (const std::exception&) {
            return Usage();
        }
    }
    if (o.flash.empty() || o.devsim.empty() || o.runs < 1 || o.ports < 2) return Usage();

    try {
        std::vector<Run> one, many;
        // Alternated, so a change of the machine's load falls on both.
        for (int r = 0; r < o.runs; ++r) {
            one.push_back(RunOnce(o, 1));
            many.push_back(RunOnce(o, o.ports));
        }
        const Run m1 = Median(one);
        const Run mn = Median(many);
        const long cores = sysconf(_SC_NPROCESSORS_ONLN);
        std::printf("%-22s %8s %8s %8s\n", "run", "median s", "cpu s", "cpu %");
        std::printf("%-22s %8.3f %8.3f %8.2f\n", "1 device", m1.wall, m1.cpu, 100.0 * m1.cpu / m1.wall);
        std::printf("%-22s %8.3f %8.3f %8.2f\n", (std::to_string(o.ports) + " devices, station").c_str(), mn.wall,
                    mn.cpu, 100.0 * mn.cpu / mn.wall);
        std::printf("ratio %d devices / 1 device: %.3f (target <= 1.15); %d runs each, %ld cores\n", o.ports,
                    mn.wall / m1.wall, o.runs, cores);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pelmark-station-bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
