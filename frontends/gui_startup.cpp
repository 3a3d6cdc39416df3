#include "frontends/gui_startup.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>

#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "frontends/loader_window.h"
#include "frontends/port_dialog.h"
#include "frontends/updater_window.h"
#include "frontends/upgrade_window.h"
#include "frontends/version_window.h"
#include "frontends/window_setup.h"
#include "notify/udp_notifier.h"
#include "serial/port_link.h"
#include "shell/build_info.h"
#include "frontends/gui_display.h"
#include "frontends/gui_forms.h"
#include "frontends/gui_single_instance.h"
#include "frontends/gui_widgets.h"

namespace pelmark {

namespace {

// Closing the main window ends the program, whatever else is open; the
// other windows never end it themselves.
void MarkMainWindow(QWidget* main) {
    for (QWidget* w : std::vector<QWidget*>{Form1, Form3, Form4, Form5, Form6})
        if (w != nullptr) w->setAttribute(Qt::WA_QuitOnClose, w == main);
}

}  // namespace

QWidget* CreateFrontEnds(const char* tag) {
    const std::string shown = tag != nullptr ? tag : DisplayTag();
    QWidget* main = nullptr;
    switch (ChooseFrontEnd(tag)) {
        case FrontEndChoice::Upgrade:
            main = new TForm5(shown);
            break;
        case FrontEndChoice::Loader:
            main = new TForm6(shown);
            break;
        case FrontEndChoice::Main:
            break;
    }
    auto* form1 = new TForm1(shown);
    if (main == nullptr) main = form1;
    new TForm3();
    new TForm4();
    MarkMainWindow(main);
    return main;
}

void DestroyWindows() {
    delete Form4;
    delete Form3;
    delete Form1;
    delete Form5;
    delete Form6;
}

void ShowStartupError(const char* message) {
    QMessageBox box(QMessageBox::Critical, QString::fromLatin1(ApplicationTitle()), QString::fromLocal8Bit(message),
                    QMessageBox::Ok);
    box.exec();
}

bool TakeInstanceGuard(SingleInstanceGuard& guard, std::ostream& err) {
    switch (guard.Acquire(kInstanceLockName)) {
        case SingleInstanceGuard::Result::Acquired:
            return true;
        case SingleInstanceGuard::Result::AlreadyRunning:
            return false;
        case SingleInstanceGuard::Result::Unavailable:
            break;
    }
    err << "pelmark-updater: " << guard.Problem() << "; running without the single-instance guard" << std::endl;
    return true;
}

int RunDesktopProgram(int argc, char** argv) {
    // The raw argument vector: the toolkit takes its own options out of argv.
    SetProgramArguments(std::vector<std::string>(argv, argv + argc));
    QApplication app(argc, argv);
    app.setWindowIcon(AppIcon());
    app.setDesktopFileName(QStringLiteral("pelmark-updater"));

    SingleInstanceGuard guard;
    if (!TakeInstanceGuard(guard, std::cerr)) {
        SetApplicationTitle("");
        QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(MainTitle().c_str()),
                        QStringLiteral("Already in progress"), QMessageBox::Ok);
        box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
        box.exec();
        return 0;
    }

    GuiDisplay display;
    SetDisplay(&display);
    try {
        InstallFontSubstitutes();
        QWidget* main = CreateFrontEnds(BuildTag());
        main->show();
        app.exec();
    } catch (const std::exception& error) {
        ShowStartupError(error.what());
    } catch (...) {
        ShowStartupError("");
    }
    DestroyWindows();
    ReleaseUdpNotifier();
    ComPortCloseAll();
    SetDisplay(nullptr);
    guard.Release();
    return 0;
}

}  // namespace pelmark
