// Scratch folders and environment variables for one test (POSIX only).
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace pelmark::test {

// A fresh folder under /tmp, removed with all it holds when the object ends.
// /tmp, not $TMPDIR: some tests run programs as another user, who must reach
// the folder. `prefix` names the tests that made it.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& prefix = "pelmark-test") {
        std::string pattern = "/tmp/" + prefix + "-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + pattern);
        path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    // The path of `name` inside the folder.
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Sets (or with nullopt removes) an environment variable until the end of
// the scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = getenv(name)) old_ = old;
        if (value) {
            setenv(name, value->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_.c_str(), old_->c_str(), 1);
        } else {
            unsetenv(name_.c_str());
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// A port-map folder of the test's own, readable by everyone (a test may run
// the front end as another user), in $PELMARK_PORT_DIR for the test and its
// children.
class TestPortMap {
public:
    explicit TestPortMap(const std::string& prefix = "pelmark-ports") : dir_(prefix), env_("PELMARK_PORT_DIR", dir_.path()) {
        chmod(dir_.path().c_str(), 0755);
    }
    const std::string& path() const { return dir_.path(); }
    std::string operator/(const std::string& name) const { return dir_ / name; }

private:
    ScratchDir dir_;
    ScopedEnv env_;
};

}  // namespace pelmark::test
