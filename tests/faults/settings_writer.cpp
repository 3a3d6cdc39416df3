// Writes the main updater window's "com" value over and over, 0, 1, 2, ...,
// as the desktop program does when its window closes, until it is killed.
// The settings file is $PELMARK_SETTINGS. Prints "ready" once before the
// first write. With "--once VALUE" it writes VALUE once and exits 0.
#include <cstdio>
#include <cstring>
#include <string>

#include "shell/settings.h"

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--once") == 0) {
        pelmark::WriteSetting("com", argv[2], pelmark::kSettingsMain);
        return 0;
    }
    std::puts("ready");
    std::fflush(stdout);
    for (long i = 0;; ++i) pelmark::WriteSetting("com", std::to_string(i), pelmark::kSettingsMain);
}
