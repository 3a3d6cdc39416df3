#include "frontends/loader_window.h"

#include <QCloseEvent>
#include <QLabel>
#include <QStatusBar>

#include "bootloader/engine.h"
#include "frontends/port_dialog.h"
#include "frontends/window_setup.h"
#include "serial/port_link.h"
#include "shell/build_info.h"
#include "frontend_logic/front_ends.h"
#include "frontends/gui_display.h"
#include "frontends/gui_forms.h"
#include "frontends/gui_session.h"
#include "shell/settings.h"
#include "shell/texts.h"
#include "ui_loader_window.h"

namespace pelmark {

namespace {
const QString kTahoma = QStringLiteral("Tahoma");
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

void TForm6::ShowGuide(const char* guide) {
    QLabel* message = ui_->Label1;
    message->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    SetLabelColours(message, ToQColor(clBtnFace), ToQColor(clBlack), false);
    SetMessageFont(message, false, true, kNormalHeight);
    message->setText(QString::fromLatin1(guide));
    ui_->Label6->clear();
    ui_->Label7->clear();
}

void TForm6::ResetMessage() {
    ResetLoader(progress1_, [this](const char* guide) { ShowGuide(guide); });
}

void TForm6::FormCreate() {
    const FrontEndLook look = CreateFrontEnd(FrontEnd::Loader, tag_.c_str(), nullptr);
    setWindowTitle(QString::fromLatin1(look.title.c_str()));
    SetApplicationTitle(tag_.c_str());

    ResetMessage();
    ui_->Label5->setText(QString::fromLatin1(tag_.c_str()));

    if (!ApplyPortSetting(FrontEnd::Loader, ReadSetting("com", kSettingsLoader)))
        ui_->Label1->setText(QString::fromLatin1(text::kPortNotValid));
    ui_->Image1->setVisible(look.picture);
}

void TForm6::Button1Click() {
    if (UpdateBusy()) return;
    {
        BusyScope busy;
        StartLoader(progress1_, status1_, [this](const char* guide) { ShowGuide(guide); });
    }
    close_.AfterUpdate(this, &status1_);
}

void TForm6::Button2Click() {
    StopFrontEnd(FrontEnd::Loader, &progress1_);
}

void TForm6::ChangePort1Click() {
    if (Form3 != nullptr) Form3->ShowToolWindow(frameGeometry().topLeft());
    ResetMessage();
}

void TForm6::closeEvent(QCloseEvent* event) { close_.OnClose(event); }

}  // namespace pelmark
