#include "frontends/upgrade_window.h"

#include <QCloseEvent>
#include <QStatusBar>

#include "bootloader/engine.h"
#include "frontends/port_dialog.h"
#include "frontends/window_setup.h"
#include "images/image_table.h"
#include "notify/udp_notifier.h"
#include "serial/port_link.h"
#include "shell/build_info.h"
#include "frontends/gui_display.h"
#include "frontends/gui_forms.h"
#include "frontends/gui_session.h"
#include "shell/panels.h"
#include "shell/settings.h"
#include "shell/settings_text.h"
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

    setWindowTitle(QString::fromLatin1(
        (std::string("Upgrade 1.1") + " -   " + tag_ + "   - " + BuildDate()).c_str()));
    SetApplicationTitle(tag_.c_str());

    const std::string com = ReadSetting("com", kSettingsUpgrade);
    g_portIndex = com.empty() ? std::int16_t{0} : ParsePortSetting(com);
    g_openPortIndex = static_cast<std::int16_t>(g_portIndex - 1);

    InitImageTable();
    ShowPortName(status1_);
    g_panels.device = 3;

    g_multiImage = tag_.find("YKP") != std::string::npos;
    if (g_multiImage) {
        QProgressBar* bar1 = ui_->ProgressBar1;
        bar1->resize(bar1->width() - ui_->ProgressBar2->width() - 5, bar1->height());
        ui_->ProgressBar2->show();
    }
}

void TForm5::Button1Click() {
    if (UpdateBusy()) return;
    {
        BusyScope busy;
        progress2_.SetMin(0);
        progress2_.SetMax(static_cast<std::int8_t>(MarkPending()) + 1);
        progress2_.SetPosition(0);
        int r = 0;
        do {
            r = 0;
            if (SearchDevice(progress1_, status1_) == kSearchFound) {
                r = static_cast<std::int8_t>(PrgMode(progress1_, status1_));
                progress2_.SetPosition(progress2_.Max() - r);
            }
        } while (r != 0 && !close_.Pending());
    }
    close_.AfterUpdate(this, &status1_);
}

void TForm5::Button2Click() {
    if (Display* d = CurrentDisplay()) d->ShowIdle();
    g_stopRequest = true;
}

void TForm5::SerialPort1Click() {
    if (Form3 != nullptr) Form3->ShowDialog();
}

void TForm5::closeEvent(QCloseEvent* event) { close_.OnClose(event); }

}  // namespace pelmark
