#include "frontends/updater_window.h"

#include <QCloseEvent>
#include <QEvent>
#include <QStatusBar>

#include <cstring>
#include <stdexcept>

#include "bootloader/engine.h"
#include "frontends/port_dialog.h"
#include "frontends/version_window.h"
#include "frontends/window_setup.h"
#include "notify/udp_notifier.h"
#include "serial/port_link.h"
#include "shell/build_info.h"
#include "frontend_logic/front_ends.h"
#include "frontends/gui_display.h"
#include "frontends/gui_forms.h"
#include "frontends/gui_session.h"
#include "shell/settings.h"
#include "ui_updater_window.h"

namespace pelmark {

TForm1::TForm1(const std::string& tag, QWidget* parent)
    : QMainWindow(parent), ui_(std::make_unique<Ui::TForm1>()), tag_(tag) {
    ui_->setupUi(this);
    PinFontsToPixels(this);
    SetTitleButtons(this, false);
    ui_->StatusBar1->setFixedHeight(19);
    FixClientArea(this, 511, 265);
    move(137, 200);
    progress1_.Attach(ui_->ProgressBar1);
    status1_.Attach(ui_->StatusBar1, {50, 130, 100, 50});
    SetLabelColours(ui_->Label1, ToQColor(clBtnFace), Qt::black);
    ui_->Image2->setPixmap(
        LogoPixmap().scaled(ui_->Image2->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));

    connect(ui_->Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(ui_->Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(ui_->S1, &QAction::triggered, this, [this] { S1Click(); });
    ui_->Label1->installEventFilter(this);

    Form1 = this;
    try {
        FormCreate();
    } catch (...) {
        Form1 = nullptr;
        throw;
    }
}

TForm1::~TForm1() {
    if (Form1 == this) {
        Form1 = nullptr;
        g_mainWindowReady = false;
    }
}

void TForm1::FormCreate() {
    // Another front end leads: this window only builds its controls.
    if (Form5 != nullptr || Form6 != nullptr) return;
    leads_ = true;

    StartUdpNotifier();

    ApplyPortSetting(FrontEnd::Main, ReadSetting("com", kSettingsMain));
    const FrontEndLook look = CreateFrontEnd(FrontEnd::Main, tag_.c_str(), &status1_);
    ui_->Image2->setVisible(look.picture);
    setWindowTitle(QString::fromLatin1(look.title.c_str()));
    SetApplicationTitle(tag_.c_str());
    ui_->Label1->setText(QString::fromLatin1(tag_.c_str()));
    g_mainWindowReady = true;
}

void TForm1::Button1Click() {
    if (UpdateBusy()) return;
    {
        BusyScope busy;
        StartMain(progress1_, status1_);
    }
    close_.AfterUpdate(this, &status1_);
}

void TForm1::Button2Click() {
    ui_->Button2->hide();
    StopFrontEnd(FrontEnd::Main, &progress1_);
}

void TForm1::S1Click() {
    ui_->Label2->hide();
    ui_->Label2->repaint();
    ui_->Label3->hide();
    ui_->Label3->repaint();
    if (Form3 != nullptr) Form3->ShowDialog();
}

void TForm1::Label1DblClick() {
    if (Form4 == nullptr) return;
    const QString caption = ui_->Label1->text() + QStringLiteral("   [ ") + QString::fromLatin1(BuildTime()) +
                            QStringLiteral(" - ") + QString::fromLatin1(BuildDate()) + QStringLiteral(" ]");
    Form4->setWindowTitle(caption);
    Form4->ShowWindow();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui_->Label1 && event->type() == QEvent::MouseButtonDblClick) {
        Label1DblClick();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::closeEvent(QCloseEvent* event) { close_.OnClose(event); }

}  // namespace pelmark
