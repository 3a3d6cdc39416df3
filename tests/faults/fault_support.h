// Child processes for the fault tests: the virtual device with its faults,
// placed on a COM number of a private port-map directory, and the console
// front end run against it with a deadline, its output and its time.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "../e2e/device_process.h"
#include "images/intel_hex.h"

namespace pelmark::test {

using Clock = std::chrono::steady_clock;

inline long MsSince(Clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// What a finished program left behind.
struct RunResult {
    int status = -1;         // exit status, or 128 + signal
    bool timedOut = false;   // killed at the deadline
    long ms = 0;             // wall time from start to exit
    std::vector<std::string> out;  // stdout lines
    std::string err;

    std::string LastLine() const { return out.empty() ? std::string() : out.back(); }
    bool HasLine(const std::string& line) const { return std::find(out.begin(), out.end(), line) != out.end(); }
};

inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t from = 0;
    while (from < text.size()) {
        std::size_t nl = text.find('\n', from);
        if (nl == std::string::npos) nl = text.size();
        lines.push_back(text.substr(from, nl - from));
        from = nl + 1;
    }
    return lines;
}

// A copy of `program` that any user can run: the build tree may sit in a
// folder that another user cannot enter (a clone under /root, mode 0700), so
// what runs as another user runs from a fresh mode-0755 folder under /tmp.
// One copy per program and test process, removed when the process ends.
inline std::string ReachableCopy(const std::string& program) {
    struct Copies {
        std::vector<std::pair<std::string, std::string>> made;  // program, copy
        std::optional<TempDir> dir;
    };
    static Copies copies;
    for (const auto& c : copies.made)
        if (c.first == program) return c.second;
    if (!copies.dir) {
        copies.dir.emplace();
        if (chmod(copies.dir->path().c_str(), 0755) != 0) throw std::runtime_error("chmod failed");
    }
    const std::string name = program.substr(program.find_last_of('/') + 1);
    const std::string copy = copies.dir->path() + "/" + name;
    {
        std::ifstream in(program, std::ios::binary);
        std::ofstream out(copy, std::ios::binary | std::ios::trunc);
        out << in.rdbuf();
        if (!in || !out) throw std::runtime_error("cannot copy " + program + " to " + copy);
    }
    if (chmod(copy.c_str(), 0755) != 0) throw std::runtime_error("chmod failed");
    copies.made.emplace_back(program, copy);
    return copy;
}

// A program started with its stdout and stderr on pipes. `runAs` >= 0 runs it
// under that user and group id (root only), from a copy that user can reach.
class Child {
public:
    Child(std::string program, std::vector<std::string> args, int runAs = -1) {
        if (runAs >= 0) program = ReachableCopy(program);
        args.insert(args.begin(), program);
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        start_ = Clock::now();
        pid_ = fork();
        if (pid_ < 0) throw std::runtime_error("fork failed");
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            dup2(err[1], STDERR_FILENO);
            if (runAs >= 0 && (setgroups(0, nullptr) != 0 || setgid(static_cast<gid_t>(runAs)) != 0 ||
                               setuid(static_cast<uid_t>(runAs)) != 0))
                _exit(126);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        outFd_ = out[0];
        errFd_ = err[0];
    }
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (outFd_ >= 0) close(outFd_);
        if (errFd_ >= 0) close(errFd_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    void Signal(int signo) const {
        if (pid_ > 0) kill(pid_, signo);
    }

    // Waits until standard output holds `text` (kept for Finish).
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit) {
        const auto until = Clock::now() + limit;
        while (out_.find(text) == std::string::npos) {
            const long left = static_cast<long>(
                std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count());
            if (left <= 0 || outFd_ < 0) return false;
            pollfd p{outFd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) > 0) Drain(p, outFd_, out_);
        }
        return true;
    }

    // Collects the output until the program ends; kills it at the deadline.
    RunResult Finish(std::chrono::milliseconds deadline) {
        RunResult r;
        std::string out = std::move(out_), err;
        const auto until = start_ + deadline;
        while (outFd_ >= 0 || errFd_ >= 0) {
            const long left = static_cast<long>(
                std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count());
            if (left <= 0) {
                r.timedOut = true;
                kill(pid_, SIGKILL);
                break;
            }
            pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
            if (poll(fds, 2, static_cast<int>(std::min(left, 200L))) < 0 && errno != EINTR) break;
            Drain(fds[0], outFd_, out);
            Drain(fds[1], errFd_, err);
        }
        int st = 0;
        waitpid(pid_, &st, 0);
        r.ms = MsSince(start_);
        pid_ = -1;
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        r.out = SplitLines(out);
        r.err = err;
        return r;
    }

private:
    static void Drain(const pollfd& p, int& fd, std::string& into) {
        if (fd < 0 || (p.revents & (POLLIN | POLLHUP | POLLERR)) == 0) return;
        char buffer[4096];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            close(fd);
            fd = -1;
        }
    }

    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    std::string out_;
    Clock::time_point start_;
};

// pelmark-devsim on COM<com> of the port-map directory in $PELMARK_PORT_DIR,
// with its log and dump in a directory of its own.
class FaultyDevice : public DeviceProcess {
public:
    FaultyDevice(int com, std::vector<std::string> args)
        : DeviceProcess(PELMARK_DEVSIM, WithCom(com, std::move(args))) {
        if (ReadLine() != "COM" + std::to_string(com))
            throw std::runtime_error("the virtual device did not come up on COM" + std::to_string(com));
    }

    // SIGUSR1: the faults end, the device behaves from now on.
    void EndFaults() const {
        if (pid() > 0) kill(pid(), SIGUSR1);
    }

    int Count(const std::string& prefix) const {
        const auto log = LogSoFar();
        return static_cast<int>(
            std::count_if(log.begin(), log.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
    }
    // Waits until the log holds a line starting with `prefix`.
    bool WaitForLog(const std::string& prefix, std::chrono::milliseconds limit) const {
        const auto until = Clock::now() + limit;
        while (Clock::now() < until) {
            if (Count(prefix) > 0) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

private:
    static std::vector<std::string> WithCom(int com, std::vector<std::string> args) {
        args.push_back("--com");
        args.push_back(std::to_string(com));
        return args;
    }
};

// A port-map directory of the test's own, readable by everyone (a test may
// run the front end as another user), in $PELMARK_PORT_DIR for the test and
// its children.
class PortMapDir {
public:
    PortMapDir() {
        chmod(dir_.path().c_str(), 0755);
        const char* old = std::getenv("PELMARK_PORT_DIR");
        if (old) saved_ = old;
        setenv("PELMARK_PORT_DIR", dir_.path().c_str(), 1);
    }
    ~PortMapDir() {
        if (saved_)
            setenv("PELMARK_PORT_DIR", saved_->c_str(), 1);
        else
            unsetenv("PELMARK_PORT_DIR");
    }
    const std::string& path() const { return dir_.path(); }

private:
    TempDir dir_;
    std::optional<std::string> saved_;
};

}  // namespace pelmark::test
