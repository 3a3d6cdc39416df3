// The port dialog's reading of a port name from its list (the COM number
// found between the letters C, O and M, read like atol) on any name port
// discovery could hand it, and the way back from a port index to the list.
#include <QApplication>
#include <QComboBox>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "frontends/port_dialog.h"
#include "shell/settings_text.h"
#include "ui_port_dialog.h"

namespace {

using namespace pelmark;

void Check(bool ok) {
    if (!ok) std::abort();
}

bool Delimiter(char c) { return c == 'C' || c == 'O' || c == 'M'; }

// The first run of characters that are not C, O or M, read like atol, less
// one; 0 without such a run.
std::int16_t Expected(const std::string& name) {
    std::size_t from = 0;
    while (from < name.size() && Delimiter(name[from])) ++from;
    if (from == name.size()) return 0;
    std::size_t to = from;
    while (to < name.size() && !Delimiter(name[to])) ++to;
    const std::string token = name.substr(from, to - from);
    return static_cast<std::int16_t>(ParsePortSetting(token) - 1);
}

TForm3& Dialog() {
    static int argc = 1;
    static char arg0[] = "fuzz_port_dialog";
    static char* argv[] = {arg0, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    (void)app;
    static TForm3* dialog = new TForm3();
    return *dialog;
}

std::string g_name;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const auto index = static_cast<std::int16_t>(static_cast<std::uint16_t>(data[0] << 8 | data[1]));
    g_name.assign(reinterpret_cast<const char*>(data + 2), size - 2);

    TForm3& dialog = Dialog();
    // Discovery delivers a fixed port first, then the fuzzed name; it fills
    // at most the caller's 200 bytes.
    auto delivered = std::make_shared<int>(0);
    dialog.SetDiscovery({[] { return DeviceSet{1}; },
                         [delivered](DeviceSet, char* portName, char* friendlyName) {
                             const int k = (*delivered)++;
                             if (k == 0) {
                                 std::strcpy(portName, "COM42");
                             } else if (k == 1) {
                                 const std::size_t n = std::min<std::size_t>(g_name.size(), kCallerNameBuffer - 1);
                                 std::memcpy(portName, g_name.data(), n);
                                 portName[n] = '\0';
                             } else {
                                 return 0;
                             }
                             std::strcpy(friendlyName, "Fuzz port");
                             return 1;
                         },
                         [](DeviceSet) { return 0; }});
    dialog.FillPortLists();
    Check(dialog.ui().ComboBox2->count() == 2);
    const std::string shown = std::string(g_name.c_str()).substr(0, kCallerNameBuffer - 1);
    Check(dialog.ListPosToPortIndex(1) == Expected(shown));
    Check(dialog.ListPosToPortIndex(0) == 41);

    // Back from a port index: the first list position whose name is
    // "COM<index+1>" in any letter case, else the first.
    char wanted[16];
    std::snprintf(wanted, sizeof wanted, "COM%d", index + 1);
    const auto matches = [&](const std::string& name) {
        return QString::fromLatin1(name.c_str()).compare(QString::fromLatin1(wanted), Qt::CaseInsensitive) == 0;
    };
    const std::int16_t position = matches("COM42") ? 0 : matches(shown) ? 1 : 0;
    Check(dialog.PortIndexToListPos(index) == position);
    return 0;
}
