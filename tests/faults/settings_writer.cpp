// Writes the main updater window's "com" value over and over, 0, 1, 2, ...,
// as the desktop program does when its window closes, until it is killed.
// The settings file is $PELMARK_SETTINGS. Prints "ready" once before the
// first write.
#include <cstdio>
#include <string>

#include "shell/settings.h"

int main() {
    std::puts("ready");
    std::fflush(stdout);
    for (long i = 0;; ++i) pelmark::WriteSetting("com", std::to_string(i), pelmark::kSettingsMain);
}
