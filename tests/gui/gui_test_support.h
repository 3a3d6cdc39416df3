// Shared set-up of the desktop program's tests: a private settings file,
// port-map and runtime directory per test, the program-wide state back to
// program start, and the windows freed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QFontMetrics>
#include <QLabel>
#include <QPalette>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bootloader/engine.h"
#include "notify/udp_notifier.h"
#include "serial/port_link.h"
#include "frontends/gui_display.h"
#include "frontends/gui_forms.h"
#include "frontends/gui_session.h"
#include "frontends/gui_startup.h"
#include "frontends/gui_widgets.h"
#include "shell/panels.h"
#include "support/scratch.h"

namespace pelmark::test {

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

class GuiTest : public ::testing::Test {
protected:
    void SetUp() override {
        settingsFile_ = dir_.path() + "/settings.ini";
        setenv("PELMARK_SETTINGS", settingsFile_.c_str(), 1);
        setenv("PELMARK_PORT_DIR", (dir_.path() + "/ports").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1);
        InstallFontSubstitutes();
        ResetEngineState();
        g_portIndex = 0;
        g_openPortIndex = -1;
        g_mainWindowReady = false;
        ClearPendingPort();
        SetProgramArguments({"pelmark-updater"});
        SetDisplay(&display_);
    }

    void TearDown() override {
        DestroyWindows();
        ReleaseUdpNotifier();
        ComPortCloseAll();
        SetDisplay(nullptr);
        g_stopRequest = false;
    }

    // The settings file holds exactly `text`.
    void StoreSettings(const std::string& text) { WriteFile(settingsFile_, text); }
    std::string StoredSettings() const { return ReadFile(settingsFile_); }

    ScratchDir dir_{"pelmark-gui"};
    std::string settingsFile_;
    GuiDisplay display_;
};

// The colours and font heights a label shows.
inline QColor Background(const QWidget* w) { return w->palette().color(QPalette::Window); }
inline QColor TextColour(const QWidget* w) { return w->palette().color(QPalette::WindowText); }
// Ascent plus descent: what the layouts call a positive font height.
inline int CellHeight(const QFont& f) { return QFontMetrics(f).height(); }

}  // namespace pelmark::test
