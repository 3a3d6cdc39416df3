// Runs pelmark-devsim as a child process on a fresh pseudo-terminal and
// collects what the device holds and what it logged once it is stopped.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "images/intel_hex.h"

extern char** environ;

namespace pelmark::test {

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/pelmark-e2e-XXXXXX";
        if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

class DeviceProcess {
public:
    DeviceProcess(const std::string& program, std::vector<std::string> args) {
        dump_ = dir_.path() + "/device.hex";
        log_ = dir_.path() + "/device.log";
        args.insert(args.begin(), program);
        args.push_back("--dump");
        args.push_back(dump_);
        args.push_back("--log");
        args.push_back(log_);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);

        int out[2];
        // Close-on-exec, so later children (a front end under test) do not
        // inherit the device's output.
        if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        const int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        if (rc != 0) {
            close(out[0]);
            throw std::runtime_error("cannot start " + program);
        }
        out_ = fdopen(out[0], "r");
        pty_ = ReadLine();
        if (pty_.empty()) throw std::runtime_error("the virtual device printed no terminal path");
    }

    ~DeviceProcess() {
        Stop();
        if (out_) fclose(out_);
    }
    DeviceProcess(const DeviceProcess&) = delete;
    DeviceProcess& operator=(const DeviceProcess&) = delete;

    const std::string& pty() const { return pty_; }
    pid_t pid() const { return pid_; }

    std::string ReadLine() {
        char line[512];
        if (std::fgets(line, sizeof line, out_) == nullptr) return {};
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        return s;
    }

    // Ends the device (it writes its dump on the way out) and returns its exit status.
    int Stop(int signo = SIGTERM) {
        if (pid_ <= 0) return status_;
        kill(pid_, signo);
        int st = 0;
        waitpid(pid_, &st, 0);
        pid_ = -1;
        status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        return status_;
    }

    // What the device held when it ended; nothing when it was killed too
    // hard to write its dump.
    hex::Memory Memory() {
        Stop();
        std::ifstream probe(dump_);
        if (!probe) return {};
        return hex::ReadFile(dump_);
    }

    // The device's log once it has ended.
    std::vector<std::string> Log() {
        Stop();
        return LogSoFar();
    }

    // The device's log as far as it has written it.
    std::vector<std::string> LogSoFar() const {
        std::vector<std::string> lines;
        std::ifstream in(log_);
        for (std::string l; std::getline(in, l);) lines.push_back(l);
        return lines;
    }

private:
    TempDir dir_;
    std::string dump_, log_, pty_;
    pid_t pid_ = -1;
    int status_ = -1;
    FILE* out_ = nullptr;
};

}  // namespace pelmark::test
