#include "frontends/loader_window.h"

#include <QCloseEvent>
#include <QLabel>
#include <QStatusBar>

#include "bootloader/engine.h"
#include "frontends/port_dialog.h"
#include "frontends/window_setup.h"
#include "images/image_table.h"
#include "serial/port_link.h"
#include "shell/build_info.h"
#include "frontends/gui_display.h"
#include "frontends/gui_forms.h"
#include "frontends/gui_session.h"
#include "shell/settings.h"
#include "shell/settings_text.h"
#include "ui_loader_window.h"

namespace pelmark {

namespace {
const QString kTahoma = QStringLiteral("Tahoma");
constexpr const char* kPortNotValid = "Port not valid. Select a new port.";
}  // namespace

void SetMessageFont(QLabel* label, bool bold, bool italic, int height) {
    label->setFont(ToolkitFont(kTahoma, height, bold, italic));
}

TForm6::TForm6(const std::string& tag, QWidget* parent)
    : QMainWindow(parent), ui_(std::make_unique<Ui::TForm6>()), tag_(tag) {
    ui_->setupUi(this);
    PinFontsToPixels(this);
    SetTitleButtons(this, false);
    ui_->StatusBar1->setFixedHeight(13);
    FixClientArea(this, 635, 255);
    move(183, 150);
    progress1_.Attach(ui_->ProgressBar1);
    progress1_.SetSmooth(true);
    status1_.Attach(ui_->StatusBar1, {50, 220, 100, 140, 20});
    ui_->StatusBar1->hide();

    for (QLabel* caption : {ui_->Label2, ui_->Label3, ui_->Label4})
        caption->setFont(ToolkitFont(kTahoma, kLargeHeight));
    ui_->Label5->setFont(ToolkitFont(kTahoma, kLargeHeight, true));
    ui_->Label6->setFont(ToolkitFont(kTahoma, kNormalHeight));
    ui_->Label7->setFont(ToolkitFont(kTahoma, kNormalHeight));
    ui_->Image1->setScaledContents(false);
    ui_->Image1->setPixmap(
        LogoPixmap().scaled(ui_->Image1->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));

    connect(ui_->Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(ui_->Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(ui_->ChangePort1, &QAction::triggered, this, [this] { ChangePort1Click(); });

    Form6 = this;
    try {
        FormCreate();
    } catch (...) {
        Form6 = nullptr;
        throw;
    }
}

TForm6::~TForm6() {
    if (Form6 == this) Form6 = nullptr;
}

void TForm6::ResetMessage() {
    progress1_.SetPosition(0);
    QLabel* message = ui_->Label1;
    message->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    SetLabelColours(message, ToQColor(clBtnFace), ToQColor(clBlack), false);
    SetMessageFont(message, false, true, kNormalHeight);
    message->setText(QStringLiteral("Push 'Update FW' button and connect a device"));
    ui_->Label6->clear();
    ui_->Label7->clear();
}

void TForm6::FormCreate() {
    QString caption = QString::fromLatin1((std::string("Loader 1.0") + " -   " + tag_ + "   - " + BuildDate()).c_str());
    setWindowTitle(caption);
    SetApplicationTitle(tag_.c_str());

    ResetMessage();
    ui_->Label5->setText(QString::fromLatin1(tag_.c_str()));

    const std::string com = ReadSetting("com", kSettingsLoader);
    if (!com.empty()) {
        g_portIndex = ParsePortSetting(com);
        g_openPortIndex = static_cast<std::int16_t>(g_portIndex + 1);
    } else {
        g_portIndex = 0;
        g_openPortIndex = -1;
    }
    if (g_openPortIndex < 0) ui_->Label1->setText(QString::fromLatin1(kPortNotValid));

    if (tag_.find("DLM") != std::string::npos || tag_.find("GNV") != std::string::npos) {
        g_alternateSearch = true;
        ui_->Image1->hide();
        setWindowTitle(caption + QStringLiteral("   -(N)-"));
    } else {
        ui_->Image1->show();
    }

    InitImageTable();
}

void TForm6::Button1Click() {
    if (UpdateBusy()) return;
    {
        BusyScope busy;
        ResetMessage();
        const std::int16_t rc = SearchDevice(progress1_, status1_);
        Display* d = CurrentDisplay();
        if (rc == kSearchNotFound) {
            if (d) d->ShowStatus("The device is not find.", clBlack);
        } else if (rc == kSearchPortUnusable) {
            if (d) d->ShowStatus(kPortNotValid, clRed);
        } else if (rc == kSearchFound) {
            PrgMode(progress1_, status1_);
        }
    }
    close_.AfterUpdate(this, &status1_);
}

void TForm6::Button2Click() {
    if (Display* d = CurrentDisplay()) d->ShowIdle();
    g_stopRequest = true;
    progress1_.SetState(ProgressState::Error);
}

void TForm6::ChangePort1Click() {
    if (Form3 != nullptr) Form3->ShowToolWindow(frameGeometry().topLeft());
    ResetMessage();
}

void TForm6::closeEvent(QCloseEvent* event) { close_.OnClose(event); }

}  // namespace pelmark
