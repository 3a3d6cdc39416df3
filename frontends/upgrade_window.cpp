#include "frontends/upgrade_window.h"

#include <QCloseEvent>
#include <QStatusBar>

#include "bootloader/engine.h"
#include "frontends/port_dialog.h"
#include "frontends/window_setup.h"
#include "notify/udp_notifier.h"
#include "serial/port_link.h"
#include "shell/build_info.h"
#include "frontend_logic/front_ends.h"
#include "frontends/gui_display.h"
#include "frontends/gui_forms.h"
#include "frontends/gui_session.h"
#include "shell/panels.h"
#include "shell/settings.h"
#include "ui_upgrade_window.h"

namespace pelmark {

TForm5::TForm5(const std::string& tag, QWidget* parent)
    : QMainWindow(parent), ui_(std::make_unique<Ui::TForm5>()), tag_(tag) {
    ui_->setupUi(this);
    PinFontsToPixels(this);
    SetTitleButtons(this, true);
    ui_->StatusBar1->setFixedHeight(29);
    FixClientArea(this, 630, 181);
    move(274, 100);
    progress1_.Attach(ui_->ProgressBar1);
    progress2_.Attach(ui_->ProgressBar2);
    progress1_.SetSmooth(true);
    progress2_.SetSmooth(true);
    status1_.Attach(ui_->StatusBar1, {50, 220, 100, 140, 20});
    QPalette pal = ui_->Panel1->palette();
    pal.setColor(QPalette::Window, ToQColor(clBtnFace));
    ui_->Panel1->setPalette(pal);

    connect(ui_->Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(ui_->Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(ui_->SerialPort1, &QAction::triggered, this, [this] { SerialPort1Click(); });

    Form5 = this;
    try {
        FormCreate();
    } catch (...) {
        Form5 = nullptr;
        throw;
    }
}

TForm5::~TForm5() {
    if (Form5 == this) Form5 = nullptr;
}

void TForm5::FormCreate() {
    StartUdpNotifier();

    ApplyPortSetting(FrontEnd::Upgrade, ReadSetting("com", kSettingsUpgrade));
    const FrontEndLook look = CreateFrontEnd(FrontEnd::Upgrade, tag_.c_str(), &status1_);
    setWindowTitle(QString::fromLatin1(look.title.c_str()));
    SetApplicationTitle(tag_.c_str());
    if (look.secondBar) {
        QProgressBar* bar1 = ui_->ProgressBar1;
        bar1->resize(bar1->width() - ui_->ProgressBar2->width() - 5, bar1->height());
        ui_->ProgressBar2->show();
    }
}

void TForm5::Button1Click() {
    if (UpdateBusy()) return;
    {
        BusyScope busy;
        StartUpgrade(progress1_, status1_, &progress2_, [this] { return close_.Pending(); });
    }
    close_.AfterUpdate(this, &status1_);
}

void TForm5::Button2Click() {
    StopFrontEnd(FrontEnd::Upgrade, &progress1_);
}

void TForm5::SerialPort1Click() {
    if (Form3 != nullptr) Form3->ShowDialog();
}

void TForm5::closeEvent(QCloseEvent* event) { close_.OnClose(event); }

}  // namespace pelmark
