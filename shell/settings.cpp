#include "shell/settings.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSaveFile>
#include <QString>

#include <cstdlib>

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

QList<QByteArray> ReadLines(const std::string& path, bool* ok) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        *ok = !file.exists();
        return {};
    }
    *ok = true;
    QByteArray data = file.readAll();
    data.replace("\r\n", "\n");
    QList<QByteArray> lines = data.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
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
    bool ok = false;
    const QList<QByteArray> lines = ReadLines(SettingsFilePath(), &ok);
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
    bool ok = false;
    QList<QByteArray> lines = ReadLines(path, &ok);
    if (!ok) return;  // present but unreadable: rewriting it would lose what it holds

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
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly)) return;
    for (const QByteArray& line : lines) {
        out.write(line);
        out.write("\n");
    }
    out.commit();  // on failure the old file stays as it was
}

}  // namespace pelmark
