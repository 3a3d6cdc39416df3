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

    // Takes the lock `name`. Unavailable: the lock folder or file could not
    // be made, opened or locked (the program then runs without a guard, as
    // with a failed mutex); Problem() says why.
    Result Acquire(const char* name);
    void Release();
    bool Held() const { return fd_ >= 0; }
    // After Unavailable: what could not be done, with the path and the
    // system's reason.
    const std::string& Problem() const { return problem_; }

    // The file that stands for the lock `name`.
    static std::string LockPath(const char* name);

private:
    int fd_ = -1;
    std::string problem_;
};

constexpr const char* kInstanceLockName = "PELMARK.MUTEX";

}  // namespace pelmark
