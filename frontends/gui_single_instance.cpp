#include "frontends/gui_single_instance.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
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
    problem_.clear();
    const std::string path = LockPath(name);
    const std::string dir = path.substr(0, path.rfind('/'));
    auto unavailable = [&](const std::string& what, int error) {
        problem_ = what + ": " + std::strerror(error);
        return Result::Unavailable;
    };
    if (std::getenv("XDG_RUNTIME_DIR") == nullptr || *std::getenv("XDG_RUNTIME_DIR") == '\0') {
        // Our own directory under /tmp: private, and it must really be ours.
        if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
            return unavailable("cannot make the lock folder " + dir, errno);
        struct stat st {};
        if (lstat(dir.c_str(), &st) != 0) return unavailable("cannot read the lock folder " + dir, errno);
        if (!S_ISDIR(st.st_mode)) return unavailable("the lock folder " + dir + " is not a folder", ENOTDIR);
        if (st.st_uid != getuid()) return unavailable("the lock folder " + dir + " belongs to another user", EPERM);
    }
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return unavailable("cannot open the lock file " + path, errno);
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        const int error = errno;
        close(fd);
        if (error == EWOULDBLOCK) return Result::AlreadyRunning;
        return unavailable("cannot lock the lock file " + path, error);
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
