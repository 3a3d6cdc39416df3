// The virtual device with its faults for the fault tests, placed on a COM
// number of a private port-map directory (the console front end runs against
// it as a support/child_process.h Child).
#pragma once

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "../e2e/device_process.h"
#include "images/intel_hex.h"
#include "support/child_process.h"
#include "support/scratch.h"

namespace pelmark::test {

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

}  // namespace pelmark::test
