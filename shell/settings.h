// The settings store: one text value per front end, kept where each front end
// keeps its port ("com"). On this system an INI file stands in for the
// machine-wide registry hive: $PELMARK_SETTINGS when set, else
// ${XDG_CONFIG_HOME:-$HOME/.config}/pelmark/settings.ini, with one group per
// key path, e.g.
//
//   [HKEY_LOCAL_MACHINE/Software/Norvane/Pelmark]
//   com=0
#pragma once

#include <string>

namespace pelmark {

// Settings selectors: 0 (and anything but 1 and 2) main updater window,
// 1 Upgrade window, 2 Loader window.
constexpr int kSettingsMain = 0;
constexpr int kSettingsUpgrade = 1;
constexpr int kSettingsLoader = 2;

// "Software\Norvane\Pelmark\", "Software\Tarnwell\Upgrade\" or
// "Software\Veldra\Loader\".
const char* SettingsKeyPath(int selector);

// The file that holds the settings.
std::string SettingsFilePath();

// The value's text; empty when the file, the group or the value is missing,
// or when the value is not text (a typed or binary value, bytes that are not
// UTF-8). Only a regular file is read (a final link is followed); anything
// else in its place, a fifo above all, reads as no file.
std::string ReadSetting(const char* name, int selector);

// Writes the value, creating file and group where needed. The file is
// replaced atomically, keeping its owner, group and mode. Only a regular file
// that this user may write by its mode bits (root included) is replaced; a
// link, a read-only file, another user's file that the new one could not be
// given back (only root can), a folder, a fifo or a device in its place, or
// a file that cannot be read, cannot be written: nothing changes and nothing
// is reported. A missing file is created with the user's default mode.
void WriteSetting(const char* name, const std::string& value, int selector);

}  // namespace pelmark
