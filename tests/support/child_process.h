// Programs under test started as child processes (POSIX only): the virtual
// device, the console front end, helpers. Output on pipes, deadlines, exit
// statuses as a shell reports them (128 + signal when killed).
#pragma once

#include <errno.h>
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
#include <fstream>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/lines.h"
#include "support/scratch.h"

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
    std::string outText;           // stdout as written
    std::string err;

    std::string LastLine() const { return out.empty() ? std::string() : out.back(); }
    bool HasLine(const std::string& line) const { return std::find(out.begin(), out.end(), line) != out.end(); }
};

// A copy of `program` that any user can run: the build tree may sit in a
// folder that another user cannot enter (a clone under /root, mode 0700), so
// what runs as another user runs from a fresh mode-0755 folder under /tmp.
// One copy per program and test process, removed when the process ends.
inline std::string ReachableCopy(const std::string& program) {
    struct Copies {
        std::vector<std::pair<std::string, std::string>> made;  // program, copy
        std::optional<ScratchDir> dir;
    };
    static Copies copies;
    for (const auto& c : copies.made)
        if (c.first == program) return c.second;
    if (!copies.dir) {
        copies.dir.emplace("pelmark-programs");
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

struct ChildOptions {
    // Set in the child's environment only.
    std::map<std::string, std::string> env;
    // false: the child writes its stderr where the test writes its own.
    bool captureStderr = true;
};

// A program started with its stdout (and stderr) on pipes; killed and reaped
// when the object ends while it still runs. The pipes are close-on-exec, so
// later children do not inherit them. `runAs` >= 0 runs it under that user
// and group id (root only), from a copy that user can reach.
class Child {
public:
    Child(std::string program, std::vector<std::string> args, int runAs = -1, ChildOptions options = {}) {
        if (runAs >= 0) program = ReachableCopy(program);
        args.insert(args.begin(), program);
        int out[2], err[2] = {-1, -1};
        if (pipe2(out, O_CLOEXEC) != 0 || (options.captureStderr && pipe2(err, O_CLOEXEC) != 0))
            throw std::runtime_error("pipe failed");
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        start_ = Clock::now();
        pid_ = fork();
        if (pid_ < 0) throw std::runtime_error("fork failed");
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            if (err[1] >= 0) dup2(err[1], STDERR_FILENO);
            for (const auto& [key, value] : options.env) setenv(key.c_str(), value.c_str(), 1);
            if (runAs >= 0 && (setgroups(0, nullptr) != 0 || setgid(static_cast<gid_t>(runAs)) != 0 ||
                               setuid(static_cast<uid_t>(runAs)) != 0))
                _exit(126);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]);
        outFd_ = out[0];
        if (err[1] >= 0) close(err[1]);
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

    // The process id while the program runs, -1 once it was reaped.
    pid_t pid() const { return pid_; }
    void Signal(int signo) const {
        if (pid_ > 0) kill(pid_, signo);
    }

    // The next line of standard output without its line end (taken out of
    // what Finish collects), or "" when none comes within `limit` or the
    // output ended.
    std::string ReadLine(std::chrono::milliseconds limit = std::chrono::milliseconds(10000)) {
        const auto until = Clock::now() + limit;
        while (true) {
            const auto nl = out_.find('\n');
            if (nl != std::string::npos) {
                std::string line = out_.substr(0, nl);
                out_.erase(0, nl + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                return line;
            }
            const long left = MsUntil(until);
            if (left <= 0 || outFd_ < 0) return {};
            pollfd p{outFd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) > 0) Drain(p, outFd_, out_);
        }
    }

    // Waits until standard output holds `text` (kept for Finish).
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit) {
        const auto until = Clock::now() + limit;
        while (out_.find(text) == std::string::npos) {
            const long left = MsUntil(until);
            if (left <= 0 || outFd_ < 0) return false;
            pollfd p{outFd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) > 0) Drain(p, outFd_, out_);
        }
        return true;
    }

    // Collects the output until the program ends; kills it `deadline` after
    // its start.
    RunResult Finish(std::chrono::milliseconds deadline) {
        RunResult r;
        std::string out = std::move(out_), err;
        out_.clear();
        const auto until = start_ + deadline;
        while (outFd_ >= 0 || errFd_ >= 0) {
            const long left = MsUntil(until);
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
        r.status = status_ = StatusOf(st);
        r.out = SplitLines(out);
        r.outText = std::move(out);
        r.err = std::move(err);
        return r;
    }

    // Sends `signo` and waits for the end; the exit status. Once ended, the
    // status it ended with.
    int Stop(int signo = SIGTERM) {
        if (pid_ <= 0) return status_;
        kill(pid_, signo);
        int st = 0;
        waitpid(pid_, &st, 0);
        pid_ = -1;
        return status_ = StatusOf(st);
    }

    // The exit status, or -1 when the program still runs after `limit`.
    int WaitExit(std::chrono::milliseconds limit) {
        if (pid_ <= 0) return status_;
        const auto until = Clock::now() + limit;
        while (Clock::now() < until) {
            int st = 0;
            if (waitpid(pid_, &st, WNOHANG) == pid_) {
                pid_ = -1;
                return status_ = StatusOf(st);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

private:
    static int StatusOf(int st) { return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st); }
    static long MsUntil(Clock::time_point until) {
        return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count());
    }
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
    int status_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    std::string out_;
    Clock::time_point start_;
};

}  // namespace pelmark::test
