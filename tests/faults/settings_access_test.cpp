// What the settings store may replace: only a regular file that the user may
// write by its mode bits (root included), keeping its owner and mode. A link,
// another user's file, a read-only file, a folder or a fifo in its place is
// a file that cannot be written: left exactly as it was, silently. Each case
// runs as the test's own user and, under root, also as user nobody.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "fault_support.h"

namespace pelmark::test {
namespace {

constexpr uid_t kNobody = 65534;
constexpr const char* kBefore = "[HKEY_LOCAL_MACHINE/Software/Norvane/Pelmark]\ncom=1\n";
constexpr const char* kAfter = "[HKEY_LOCAL_MACHINE/Software/Norvane/Pelmark]\ncom=7\n";

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Who writes, and the other user whose file it meets.
struct Owner {
    uid_t uid;
    gid_t gid;
};
struct User {
    Owner self;
    Owner other;
    const char* name;
};

std::vector<User> Users() {
    const Owner me{geteuid(), getegid()};
    if (me.uid != 0) return {{me, me, "this user"}};
    const Owner nobody{kNobody, kNobody};
    return {{me, nobody, "root"}, {nobody, me, "nobody"}};
}

void Put(const std::string& path, const std::string& text, mode_t mode, Owner owner) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
    }
    ASSERT_EQ(chown(path.c_str(), owner.uid, owner.gid), 0) << path;
    ASSERT_EQ(chmod(path.c_str(), mode), 0) << path;
}

struct Entry {
    bool exists = false;
    struct stat st {};
    std::string content;  // of a regular file
    std::string link;     // of a symbolic link
};

Entry Look(const std::string& path) {
    Entry e;
    e.exists = lstat(path.c_str(), &e.st) == 0;
    if (!e.exists) return e;
    if (S_ISREG(e.st.st_mode)) e.content = ReadAll(path);
    if (S_ISLNK(e.st.st_mode)) {
        char target[4096];
        const ssize_t n = readlink(path.c_str(), target, sizeof target);
        if (n > 0) e.link.assign(target, static_cast<std::size_t>(n));
    }
    return e;
}

// The writer as the user runs it, copied into a folder every user can enter
// (the build tree may lie in one that another user cannot reach).
class Writer {
public:
    Writer() {
        chmod(dir_.path().c_str(), 0755);
        std::filesystem::copy_file(PELMARK_SETTINGS_WRITER, path_);
        chmod(path_.c_str(), 0755);
    }
    RunResult Write(const User& user) const {
        Child child(path_, {"--once", "7"}, user.self.uid == geteuid() ? -1 : static_cast<int>(user.self.uid));
        return child.Finish(std::chrono::seconds(5));
    }

private:
    ScratchDir dir_;
    std::string path_ = dir_.path() + "/settings_writer";
};

struct Case {
    const char* name;
    // Makes the settings path in `dir` (the user's own folder, 0755) for `user`.
    std::function<void(const std::string& file, const std::string& dir, const User& user)> make;
    bool needsOtherUser;
    // Written as the user: the file then holds the new value, with the owner
    // and mode it had; otherwise everything stays as it was.
    std::function<bool(const User& user)> written;
};

bool Always(const User&) { return true; }
bool Never(const User&) { return false; }

const Case kCases[] = {
    {"a file of its own, mode 0640",
     [](const std::string& file, const std::string&, const User& u) { Put(file, kBefore, 0640, u.self); }, false,
     Always},
    {"a read-only file of its own, mode 0444",
     [](const std::string& file, const std::string&, const User& u) { Put(file, kBefore, 0444, u.self); }, false,
     Never},
    {"a link to a file of its own",
     [](const std::string& file, const std::string& dir, const User& u) {
         Put(dir + "/target", kBefore, 0644, u.self);
         ASSERT_EQ(symlink("target", file.c_str()), 0);
     },
     false, Never},
    {"a link to nothing",
     [](const std::string& file, const std::string&, const User&) {
         ASSERT_EQ(symlink("created-through-the-link", file.c_str()), 0);
     },
     false, Never},
    {"another user's file, mode 0644",
     [](const std::string& file, const std::string&, const User& u) { Put(file, kBefore, 0644, u.other); }, true,
     Never},
    // Writable by its mode; only root can give the new file the old owner.
    {"another user's file, mode 0666",
     [](const std::string& file, const std::string&, const User& u) { Put(file, kBefore, 0666, u.other); }, true,
     [](const User& u) { return u.self.uid == 0; }},
    {"a folder",
     [](const std::string& file, const std::string&, const User&) { ASSERT_EQ(mkdir(file.c_str(), 0777), 0); },
     false, Never},
    {"a fifo",
     [](const std::string& file, const std::string&, const User&) { ASSERT_EQ(mkfifo(file.c_str(), 0666), 0); },
     false, Never},
};

TEST(SettingsAccess, OnlyAFileTheUserMayWriteIsReplaced) {
    const Writer writer;
    for (const User& user : Users()) {
        for (const Case& c : kCases) {
            SCOPED_TRACE(std::string(c.name) + ", written as " + user.name);
            if (c.needsOtherUser && user.other.uid == user.self.uid) continue;  // only root can make another user's file
            ScratchDir dir;
            ASSERT_EQ(chown(dir.path().c_str(), user.self.uid, user.self.gid), 0);
            ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
            const std::string file = dir.path() + "/settings.ini";
            setenv("PELMARK_SETTINGS", file.c_str(), 1);
            c.make(file, dir.path(), user);
            const Entry before = Look(file);
            const Entry targetBefore = Look(dir.path() + "/target");

            const RunResult r = writer.Write(user);
            EXPECT_FALSE(r.timedOut) << "the writer hangs";
            if (r.timedOut) continue;
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.err, "") << "a file that cannot be written is passed over silently";

            const Entry after = Look(file);
            ASSERT_TRUE(after.exists);
            EXPECT_EQ(after.st.st_mode, before.st.st_mode) << std::oct << after.st.st_mode;
            EXPECT_EQ(after.st.st_uid, before.st.st_uid);
            EXPECT_EQ(after.st.st_gid, before.st.st_gid);
            if (c.written(user)) {
                EXPECT_EQ(after.content, kAfter);
            } else {
                EXPECT_EQ(after.st.st_ino, before.st.st_ino) << "replaced";
                EXPECT_EQ(after.content, before.content);
                EXPECT_EQ(after.link, before.link);
            }
            // Nothing reached through a link, and nothing left beside.
            const Entry targetAfter = Look(dir.path() + "/target");
            EXPECT_EQ(targetAfter.content, targetBefore.content);
            EXPECT_EQ(targetAfter.st.st_mode, targetBefore.st.st_mode);
            EXPECT_FALSE(Look(dir.path() + "/created-through-the-link").exists);
            std::size_t entries = 0;
            for (const auto& e : std::filesystem::directory_iterator(dir.path())) entries += e.path() != file;
            EXPECT_EQ(entries, targetBefore.exists ? 1u : 0u) << "files left in the folder";
        }
    }
}

// A file that is not there yet is created, owned by the user who wrote it.
TEST(SettingsAccess, AMissingFileIsCreated) {
    const Writer writer;
    for (const User& user : Users()) {
        SCOPED_TRACE(std::string("written as ") + user.name);
        ScratchDir dir;
        ASSERT_EQ(chown(dir.path().c_str(), user.self.uid, user.self.gid), 0);
        ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
        const std::string file = dir.path() + "/settings.ini";
        setenv("PELMARK_SETTINGS", file.c_str(), 1);
        const RunResult r = writer.Write(user);
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.status, 0) << r.err;
        const Entry after = Look(file);
        ASSERT_TRUE(after.exists);
        EXPECT_TRUE(S_ISREG(after.st.st_mode));
        EXPECT_EQ(after.st.st_uid, user.self.uid);
        EXPECT_EQ(after.content, kAfter);
    }
}

}  // namespace
}  // namespace pelmark::test
