#include "frontends/gui_session.h"

#include <cstdio>

#include "serial/port_link.h"

namespace pelmark {

namespace {
int g_busyDepth = 0;
bool g_hasPendingPort = false;
std::int16_t g_pendingPort = 0;
}  // namespace

bool UpdateBusy() { return g_busyDepth > 0; }

BusyScope::BusyScope() { ++g_busyDepth; }
BusyScope::~BusyScope() { --g_busyDepth; }

void SetPendingPort(std::int16_t portIndex) {
    g_hasPendingPort = true;
    g_pendingPort = portIndex;
}

bool HasPendingPort() { return g_hasPendingPort; }
std::int16_t PendingPort() { return g_pendingPort; }
void ClearPendingPort() { g_hasPendingPort = false; }

bool ApplyPendingPort() {
    if (!g_hasPendingPort) return false;
    g_hasPendingPort = false;
    if (g_pendingPort != g_portIndex) {
        g_portIndex = g_pendingPort;
        ComPortOpen();
    }
    return true;
}

void FormatPortName(std::int16_t portIndex, char* text, int size) {
    if (portIndex < 0)
        std::snprintf(text, static_cast<std::size_t>(size), "-----");
    else
        std::snprintf(text, static_cast<std::size_t>(size), "COM%d", portIndex + 1);
}

}  // namespace pelmark
