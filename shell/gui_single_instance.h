// The single-instance guard. A named lock stands for the system-wide mutex:
// an exclusive flock on a file of that name in the user's runtime directory
// ($XDG_RUNTIME_DIR, else /tmp/pelmark-$UID). The system drops the lock with
// the process, so a crashed instance never blocks the next start.
#pragma once

#include <string>

namespace pelmark {

class SingleInstanceGuard {
public:
    SingleInstanceGuard() = default;
    ~SingleInstanceGuard();
    SingleInstanceGuard(const SingleInstanceGuard&) = delete;
    SingleInstanceGuard& operator=(const SingleInstanceGuard&) = delete;

    enum class Result { Acquired, AlreadyRunning, Unavailable };

    // Takes the lock `name`. Unavailable: the lock file could not be made
    // (the program then runs without a guard, as with a failed mutex).
    Result Acquire(const char* name);
    void Release();
    bool Held() const { return fd_ >= 0; }

    // The file that stands for the lock `name`.
    static std::string LockPath(const char* name);

private:
    int fd_ = -1;
};

constexpr const char* kInstanceLockName = "PELMARK.MUTEX";

}  // namespace pelmark
