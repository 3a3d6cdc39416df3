// Runs pelmark-devsim as a child process on a fresh pseudo-terminal and
// collects what the device holds and what it logged once it is stopped.
#pragma once

#include <signal.h>

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "images/intel_hex.h"
#include "support/child_process.h"
#include "support/scratch.h"

namespace pelmark::test {

class DeviceProcess {
public:
    DeviceProcess(const std::string& program, std::vector<std::string> args)
        : dump_(dir_ / "device.hex"), log_(dir_ / "device.log"),
          child_(program, WithFiles(std::move(args), dump_, log_), -1, ChildOptions{{}, false}) {
        pty_ = ReadLine();
        if (pty_.empty()) throw std::runtime_error("the virtual device printed no terminal path");
    }

    ~DeviceProcess() { Stop(); }
    DeviceProcess(const DeviceProcess&) = delete;
    DeviceProcess& operator=(const DeviceProcess&) = delete;

    const std::string& pty() const { return pty_; }
    pid_t pid() const { return child_.pid(); }

    // The device's next line on standard output.
    std::string ReadLine() { return child_.ReadLine(std::chrono::seconds(30)); }

    // Ends the device (it writes its dump on the way out) and returns its exit status.
    int Stop(int signo = SIGTERM) { return child_.Stop(signo); }

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
    static std::vector<std::string> WithFiles(std::vector<std::string> args, const std::string& dump,
                                              const std::string& log) {
        args.insert(args.end(), {"--dump", dump, "--log", log});
        return args;
    }

    ScratchDir dir_{"pelmark-e2e"};
    std::string dump_, log_;
    Child child_;
    std::string pty_;
};

}  // namespace pelmark::test
