#include "shell/settings.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QList>
#include <QString>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace pelmark {

namespace {

constexpr const char* kRootKey = "HKEY_LOCAL_MACHINE";

// The registry compares key and value names without regard to case.
bool SameName(const QByteArray& a, const QByteArray& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

QByteArray GroupName(int selector) {
    QByteArray group = QByteArray(kRootKey) + '/' + QByteArray(SettingsKeyPath(selector));
    group.replace('\\', '/');
    while (group.endsWith('/')) group.chop(1);
    return group;
}

// "[group]" on a line of its own (surrounding blanks allowed): the group name.
bool GroupHeader(const QByteArray& line, QByteArray* name) {
    const QByteArray t = line.trimmed();
    if (t.size() < 2 || !t.startsWith('[') || !t.endsWith(']')) return false;
    *name = t.mid(1, t.size() - 2).trimmed();
    return true;
}

// "name=value": the name (trimmed) and the value as stored.
bool ValueLine(const QByteArray& line, QByteArray* name, QByteArray* value) {
    const QByteArray t = line.trimmed();
    if (t.isEmpty() || t.startsWith(';') || t.startsWith('#')) return false;
    const qsizetype eq = t.indexOf('=');
    if (eq <= 0) return false;
    *name = t.left(eq).trimmed();
    *value = t.mid(eq + 1);
    return true;
}

bool IsText(const QByteArray& value) {
    // Typed values as other INI writers store them are not string values.
    if (value.startsWith("@Variant(") || value.startsWith("@ByteArray(")) return false;
    for (char c : value)
        if (c == '\0') return false;
    // Text is UTF-8: bytes that do not survive the round trip are not.
    return QString::fromUtf8(value).toUtf8() == value;
}

// What was found at the settings path.
enum class Found { Nothing, File, Unusable };

// Reads the regular file at `path` (through a final link only when
// `followLink`), never opening anything else: a fifo or a device in its place
// would block or answer. `st` describes the file read.
Found ReadRegularFile(const std::string& path, bool followLink, QByteArray* data, struct stat* st) {
    const int seen = followLink ? stat(path.c_str(), st) : lstat(path.c_str(), st);
    if (seen != 0) return errno == ENOENT ? Found::Nothing : Found::Unusable;
    if (!S_ISREG(st->st_mode)) return Found::Unusable;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (followLink ? 0 : O_NOFOLLOW));
    if (fd < 0) return Found::Unusable;
    struct stat opened {};
    // The file opened is the file looked at, not one put in its place since.
    if (fstat(fd, &opened) != 0 || opened.st_dev != st->st_dev || opened.st_ino != st->st_ino) {
        close(fd);
        return Found::Unusable;
    }
    data->clear();
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            data->append(buffer, static_cast<qsizetype>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            close(fd);
            return Found::Unusable;
        }
    }
    close(fd);
    return Found::File;
}

QList<QByteArray> SplitLines(QByteArray data) {
    data.replace("\r\n", "\n");
    QList<QByteArray> lines = data.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
}

bool InGroup(gid_t gid) {
    if (gid == getegid()) return true;
    const int count = getgroups(0, nullptr);
    if (count <= 0) return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int got = getgroups(count, groups.data());
    for (int i = 0; i < got; ++i)
        if (groups[static_cast<std::size_t>(i)] == gid) return true;
    return false;
}

// The file's mode bits let this user write it: the owner's bits for its
// owner, else the group's for a member, else everyone's. Root too: a file
// made read-only, or another user's file, stays as it is.
bool MayWriteByMode(const struct stat& st) {
    if (st.st_uid == geteuid()) return (st.st_mode & S_IWUSR) != 0;
    if (InGroup(st.st_gid)) return (st.st_mode & S_IWGRP) != 0;
    return (st.st_mode & S_IWOTH) != 0;
}

bool WriteAll(int fd, const QByteArray& data) {
    const char* p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = write(fd, p, static_cast<std::size_t>(left));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

// Puts `data` in place of the file at `path` in one rename. `old` is the
// file found there (nullptr: none was), whose owner, group and mode the new
// one keeps; when it cannot keep them, or something else has taken the
// path's place meanwhile, nothing changes.
bool ReplaceFile(const std::string& path, const QByteArray& data, const struct stat* old) {
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = path + "." + std::to_string(getpid()) + "-" + std::to_string(attempt) + ".new";
        // A new settings file gets the mode any new file of the user gets.
        fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, old ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    bool ok = WriteAll(fd, data);
    if (ok && old != nullptr) {
        // The owner first: a change of owner clears the set-id bits.
        if (old->st_uid != geteuid() || old->st_gid != getegid())
            ok = fchown(fd, old->st_uid, old->st_gid) == 0;
        ok = ok && fchmod(fd, old->st_mode & 07777) == 0;
    }
    ok = ok && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok) {
        struct stat now {};
        const int seen = lstat(path.c_str(), &now);
        if (old != nullptr)
            ok = seen == 0 && now.st_dev == old->st_dev && now.st_ino == old->st_ino;
        else
            ok = seen != 0 && errno == ENOENT;
    }
    ok = ok && rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) unlink(temp.c_str());
    return ok;
}

}  // namespace

std::string SettingsFilePath() {
    if (const char* file = std::getenv("PELMARK_SETTINGS"); file != nullptr && *file != '\0') return file;
    std::string base;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config != '\0')
        base = config;
    else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        base = std::string(home) + "/.config";
    else
        base = QDir::homePath().toStdString() + "/.config";
    return base + "/pelmark/settings.ini";
}

std::string ReadSetting(const char* name, int selector) {
    QByteArray data;
    struct stat st {};
    if (ReadRegularFile(SettingsFilePath(), true, &data, &st) != Found::File) return {};
    const QList<QByteArray> lines = SplitLines(data);
    const QByteArray wanted = GroupName(selector);
    const QByteArray valueName(name);
    bool inGroup = false;
    for (const QByteArray& line : lines) {
        QByteArray group, key, value;
        if (GroupHeader(line, &group)) {
            inGroup = SameName(group, wanted);
        } else if (inGroup && ValueLine(line, &key, &value) && SameName(key, valueName)) {
            if (!IsText(value)) return {};
            return value.toStdString();
        }
    }
    return {};
}

void WriteSetting(const char* name, const std::string& value, int selector) {
    const std::string path = SettingsFilePath();
    // Only a regular file that this user may write by its mode is replaced,
    // never a link (nor what it leads to), a folder, a fifo or a device; a
    // file that cannot be read cannot be rewritten without losing what it
    // holds.
    QByteArray data;
    struct stat st {};
    const Found found = ReadRegularFile(path, false, &data, &st);
    if (found == Found::Unusable || (found == Found::File && !MayWriteByMode(st))) return;
    QList<QByteArray> lines = SplitLines(data);

    const QByteArray wanted = GroupName(selector);
    const QByteArray valueName(name);
    const QByteArray newLine = valueName + '=' + QByteArray::fromStdString(value);
    qsizetype groupAt = -1;
    qsizetype insertAt = -1;  // after the group's last value line
    bool replaced = false;
    bool inGroup = false;
    for (qsizetype i = 0; i < lines.size() && !replaced; ++i) {
        QByteArray group, key, stored;
        if (GroupHeader(lines[i], &group)) {
            inGroup = SameName(group, wanted);
            if (inGroup && groupAt < 0) {
                groupAt = i;
                insertAt = i + 1;
            }
        } else if (inGroup) {
            if (ValueLine(lines[i], &key, &stored)) {
                if (SameName(key, valueName)) {
                    lines[i] = newLine;
                    replaced = true;
                } else {
                    insertAt = i + 1;
                }
            }
        }
    }
    if (!replaced) {
        if (groupAt >= 0) {
            lines.insert(insertAt, newLine);
        } else {
            if (!lines.isEmpty() && !lines.last().trimmed().isEmpty()) lines.append(QByteArray());
            lines.append('[' + wanted + ']');
            lines.append(newLine);
        }
    }

    const QString file = QString::fromStdString(path);
    if (!QDir().mkpath(QFileInfo(file).absolutePath())) return;
    QByteArray text;
    for (const QByteArray& line : lines) {
        text += line;
        text += '\n';
    }
    ReplaceFile(path, text, found == Found::File ? &st : nullptr);  // on failure the old file stays as it was
}

}  // namespace pelmark
