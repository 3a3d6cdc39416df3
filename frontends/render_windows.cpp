// Renders every window of the desktop program to PNG files (for the README):
// pelmark-render-windows DIR. Runs on any Qt platform; the offscreen one
// (QT_QPA_PLATFORM=offscreen) needs no display.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QWidget>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "frontends/loader_window.h"
#include "frontends/port_dialog.h"
#include "frontends/updater_window.h"
#include "frontends/upgrade_window.h"
#include "frontends/version_window.h"
#include "report/board_names.h"
#include "serial/port_link.h"
#include "shell/display.h"
#include "frontends/gui_display.h"
#include "frontends/gui_forms.h"
#include "frontends/gui_startup.h"
#include "frontends/gui_widgets.h"
#include "shell/panels.h"
#include "shell/texts.h"
#include "ui_port_dialog.h"

namespace {

using namespace pelmark;

bool Save(QWidget* window, const QString& dir, const char* name) {
    window->show();
    QApplication::processEvents();
    const QString path = dir + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png");
    const bool ok = window->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", path.toLocal8Bit().constData());
    window->hide();
    return ok;
}

// A fixed list of ports for the port dialog's picture.
PortDiscovery SamplePorts() {
    struct Port {
        const char* name;
        const char* friendly;
    };
    static const Port kPorts[] = {
        {"COM1", "Communications Port (COM1)"},
        {"COM5", "USB Serial Port (COM5)"},
        {"COM12", "Prolific USB-to-Serial Comm Port (COM12)"},
    };
    auto index = std::make_shared<int>(0);
    PortDiscovery d;
    d.begin = [index] {
        *index = 0;
        return DeviceSet{1};
    };
    d.next = [index](DeviceSet, char* port, char* friendly) {
        if (*index >= 3) return 0;
        std::snprintf(port, kCallerNameBuffer, "%s", kPorts[*index].name);
        std::snprintf(friendly, kCallerNameBuffer, "%s", kPorts[*index].friendly);
        ++*index;
        return 1;
    };
    d.end = [](DeviceSet) { return 0; };
    return d;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: pelmark-render-windows DIR\n");
        return 2;
    }
    QApplication app(argc, argv);
    InstallFontSubstitutes();
    const QString dir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(dir);
    GuiDisplay display;
    SetDisplay(&display);
    bool ok = true;

    {  // Main updater window, idle and after a successful update.
        auto* form1 = new TForm1("LUX15.4 00.04");
        ok &= Save(form1, dir, "main-updater-idle");
        const std::string identity = std::string("BIOS:09 - ") + BoardName(5) + " - Preparation04";
        display.SetIdentityField(IdentityField::IdentityLine, identity.c_str());
        display.SetIdentityField(IdentityField::DeviceText, "SN 2016-0512");
        form1->StatusBar1().SetPanelText(g_panels.message, "Program EEP 1023");
        form1->StatusBar1().SetPanelText(g_panels.device, text::kFound18F26k80);
        form1->StatusBar1().SetPanelText(g_panels.info, "Loaded 7857 bytes (0000 to 1EB1)");
        form1->ProgressBar1().SetMax(100);
        form1->ProgressBar1().SetPosition(0);
        display.ShowOutcome(text::kProgramOk, clGreen, kOutcomeSuccess);
        ok &= Save(form1, dir, "main-updater-success");
        new TForm3();
        Form3->SetDiscovery(SamplePorts());
        g_portIndex = 4;
        Form3->ShowDialog();
        ok &= Save(Form3, dir, "port-dialog");
        new TForm4();
        form1->Label1DblClick();
        ok &= Save(Form4, dir, "version-window");
        DestroyWindows();
    }
    {  // Upgrade window: one image, then several ("YKP") during a run.
        auto* form5 = new TForm5("VRN 1C 01.04.03.00");
        ok &= Save(form5, dir, "upgrade-idle");
        DestroyWindows();
        form5 = new TForm5("KLM YKP 1.0");
        display.ShowBusy();
        form5->StatusBar1().SetPanelText(g_panels.message, "Programming...");
        form5->StatusBar1().SetPanelText(g_panels.device, text::kFound2580);
        form5->ProgressBar1().SetSmooth(false);
        form5->ProgressBar1().SetMax(100);
        form5->ProgressBar1().SetPosition(60);
        form5->ProgressBar2().SetMax(4);
        form5->ProgressBar2().SetPosition(2);
        ok &= Save(form5, dir, "upgrade-multi-image-running");
        DestroyWindows();
    }
    {  // Loader window: idle, searching, successful.
        auto* form6 = new TForm6("PX 2.1");
        ok &= Save(form6, dir, "loader-idle");
        display.ShowBusy();
        form6->ProgressBar1().SetState(ProgressState::Paused);
        form6->ProgressBar1().SetPosition(63);
        display.ShowStatus(text::kSearchDevice, clBlack);
        ok &= Save(form6, dir, "loader-searching");
        form6->ProgressBar1().SetState(ProgressState::Normal);
        form6->ProgressBar1().SetPosition(0);
        const std::string hardware = std::string(BoardName(5)) + " - 0x04";
        display.SetIdentityField(IdentityField::Hardware, hardware.c_str());
        display.SetIdentityField(IdentityField::Bootloader, "0x09");
        display.ShowStatus(text::kLoaderUpdated, clGreen);
        display.ShowIdle();
        ok &= Save(form6, dir, "loader-success");
        display.ShowOutcome(text::kUserAbort, clRed, kOutcomeFailure);
        ok &= Save(form6, dir, "loader-failure");
        DestroyWindows();
    }
    SetDisplay(nullptr);
    return ok ? 0 : 1;
}
