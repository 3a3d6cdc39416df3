#include "shell/gui_single_instance.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelmark {

std::string SingleInstanceGuard::LockPath(const char* name) {
    std::string dir;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime != '\0')
        dir = runtime;
    else
        dir = "/tmp/pelmark-" + std::to_string(getuid());
    return dir + "/" + name;
}

SingleInstanceGuard::~SingleInstanceGuard() { Release(); }

SingleInstanceGuard::Result SingleInstanceGuard::Acquire(const char* name) {
    Release();
    const std::string path = LockPath(name);
    const std::string dir = path.substr(0, path.rfind('/'));
    if (std::getenv("XDG_RUNTIME_DIR") == nullptr || *std::getenv("XDG_RUNTIME_DIR") == '\0') {
        // Our own directory under /tmp: private, and it must really be ours.
        if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return Result::Unavailable;
        struct stat st {};
        if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid())
            return Result::Unavailable;
    }
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return Result::Unavailable;
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        const bool held = errno == EWOULDBLOCK;
        close(fd);
        return held ? Result::AlreadyRunning : Result::Unavailable;
    }
    fd_ = fd;
    return Result::Acquired;
}

void SingleInstanceGuard::Release() {
    if (fd_ < 0) return;
    flock(fd_, LOCK_UN);
    close(fd_);
    fd_ = -1;
}

}  // namespace pelmark
