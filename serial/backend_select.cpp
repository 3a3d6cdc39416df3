// Picks the serial backend of the platform the program was built for, and
// lets tests put a fake in its place.
#include "serial/backend.h"

namespace pelmark::serial {

#ifdef _WIN32
SerialBackend& Win32Backend();
#else
SerialBackend& PosixBackend();
#endif

SerialBackend& PlatformBackend() {
#ifdef _WIN32
    return Win32Backend();
#else
    return PosixBackend();
#endif
}

#ifdef _WIN32
// The adapters' latency timers live in their drivers' advanced settings,
// which the link does not read.
int AdapterLatencyTimerMs(int) {
    return -1;
}
#endif

namespace {
SerialBackend* g_installed = nullptr;
}  // namespace

SerialBackend& Backend() {
    return g_installed != nullptr ? *g_installed : PlatformBackend();
}

void SetBackend(SerialBackend* backend) {
    g_installed = backend;
}

}  // namespace pelmark::serial
