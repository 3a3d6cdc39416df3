#include "frontends/gui_display.h"

#include <QCoreApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>

#include "frontends/loader_window.h"
#include "frontends/updater_window.h"
#include "frontends/upgrade_window.h"
#include "notify/udp_notifier.h"
#include "serial/port_link.h"
#include "frontends/gui_forms.h"
#include "frontends/gui_session.h"
#include "frontends/gui_widgets.h"
#include "shell/panels.h"
#include "ui_loader_window.h"
#include "ui_updater_window.h"
#include "ui_upgrade_window.h"

namespace pelmark {

namespace {

void FocusButton(QPushButton* button) { button->setFocus(Qt::OtherFocusReason); }

}  // namespace

FrontEnd GuiDisplay::Showing() const {
    if (Form6 != nullptr) return FrontEnd::Loader;
    if (Form5 != nullptr) return FrontEnd::Upgrade;
    return FrontEnd::Main;
}

void GuiDisplay::ShowOutcome(const char* text, Colour colour, std::uint8_t code) {
    if (g_udpNotifier != nullptr) g_udpNotifier->NotifyOutcome(code);

    if (Form6 != nullptr) {
        Ui::TForm6& ui = Form6->ui();
        ui.Button1->setEnabled(true);
        ui.Button2->setEnabled(false);
        QLabel* message = ui.Label1;
        SetMessageFont(message, true, false, TForm6::kLargeHeight);
        message->setAlignment(Qt::AlignCenter);
        SetLabelColours(message, message->palette().color(QPalette::Window), ToQColor(colour), false);
        message->setText(EngineText(text));
        message->update();
        return;
    }
    if (Form5 != nullptr) {
        Ui::TForm5& ui = Form5->ui();
        ui.Button2->hide();
        ui.Button1->show();
        FocusButton(ui.Button1);
        Form5->StatusBar1().SetPanelText(g_panels.message, text);
        return;
    }
    if (Form1 == nullptr) return;
    Ui::TForm1& ui = Form1->ui();
    QLabel* outcome = ui.Label2;
    outcome->setAutoFillBackground(true);
    outcome->setText(EngineText(text));
    outcome->show();
    SetLabelColours(outcome, ToQColor(colour), ToQColor(clWhite));
    if (!g_mainWindowReady) return;
    ui.S1->setEnabled(true);
    ui.Button2->hide();
    ui.Button1->show();
    FocusButton(ui.Button1);
}

void GuiDisplay::ShowStatus(const char* text, Colour colour) {
    if (Form6 != nullptr) {
        if (colour == clBtnFace) colour = clBlack;
        QLabel* message = Form6->ui().Label1;
        SetLabelColours(message, message->palette().color(QPalette::Window), ToQColor(colour), false);
        if (colour != clBlack)
            SetMessageFont(message, true, false, TForm6::kLargeHeight);
        else
            SetMessageFont(message, false, false, TForm6::kNormalHeight);
        message->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        message->setText(EngineText(text));
        return;
    }
    if (Form5 != nullptr) {
        Form5->StatusBar1().SetPanelText(g_panels.message, text);
        return;
    }
    if (Form1 == nullptr) return;
    QLabel* outcome = Form1->ui().Label2;
    outcome->setText(EngineText(text));
    outcome->show();
    SetLabelColours(outcome, ToQColor(colour), ToQColor(clBlack), outcome->autoFillBackground());
}

void GuiDisplay::ShowBusy() {
    if (Form6 != nullptr) {
        Form6->ui().Button1->setEnabled(false);
        Form6->ui().Button2->setEnabled(true);
        return;
    }
    if (Form5 != nullptr) {
        Form5->StatusBar1().SetPanelText(g_panels.device, " ");
        Form5->ui().Button2->show();
        Form5->ui().Button1->hide();
        return;
    }
    if (Form1 == nullptr) return;
    Form1->ui().Button2->show();
    Form1->ui().Button1->hide();
}

void GuiDisplay::ShowIdle() {
    if (Form6 != nullptr) {
        Form6->ui().Button1->setEnabled(true);
        Form6->ui().Button2->setEnabled(false);
        FocusButton(Form6->ui().Button1);
        return;
    }
    if (Form5 != nullptr) {
        Form5->ui().Button2->hide();
        Form5->ui().Button1->show();
        FocusButton(Form5->ui().Button1);
        return;
    }
    if (Form1 == nullptr) return;
    Form1->ui().Button2->hide();
    Form1->ui().Button1->show();
    FocusButton(Form1->ui().Button1);
}

void GuiDisplay::ShowImageKind(bool plain) {
    const QColor colour = ToQColor(plain ? clSilver : clBtnFace);
    if (Form6 != nullptr) return;
    if (Form5 != nullptr) {
        QWidget* panel = Form5->ui().Panel1;
        QPalette pal = panel->palette();
        pal.setColor(QPalette::Window, colour);
        panel->setPalette(pal);
        return;
    }
    if (Form1 == nullptr) return;
    QLabel* tag = Form1->ui().Label1;
    SetLabelColours(tag, colour, tag->palette().color(QPalette::WindowText), tag->autoFillBackground());
}

void GuiDisplay::HideOutcomeLabel() {
    if (Form1 != nullptr) Form1->ui().Label2->hide();
}

StatusBar* GuiDisplay::MainStatusBar() { return Form1 != nullptr ? &Form1->StatusBar1() : nullptr; }

void GuiDisplay::SetIdentityField(IdentityField field, const char* text) {
    QLabel* label = nullptr;
    switch (field) {
        case IdentityField::Hardware:
        case IdentityField::Bootloader:
            if (Form6 == nullptr) return;
            label = field == IdentityField::Hardware ? Form6->ui().Label6 : Form6->ui().Label7;
            label->setText(EngineText(text));
            return;
        case IdentityField::IdentityLine:
        case IdentityField::DeviceText:
            if (Form1 == nullptr) return;
            label = field == IdentityField::IdentityLine ? Form1->ui().Label3 : Form1->ui().Label4;
            break;
    }
    label->setText(EngineText(text));
    label->show();
    SetLabelColours(label, ToQColor(clBtnFace), ToQColor(clBlack));
    label->repaint();
}

void GuiDisplay::HideIdentityField(IdentityField field) {
    switch (field) {
        case IdentityField::Hardware:
            if (Form6 != nullptr) Form6->ui().Label6->hide();
            return;
        case IdentityField::Bootloader:
            if (Form6 != nullptr) Form6->ui().Label7->hide();
            return;
        case IdentityField::IdentityLine:
            if (Form1 != nullptr) Form1->ui().Label3->hide();
            return;
        case IdentityField::DeviceText:
            if (Form1 != nullptr) Form1->ui().Label4->hide();
            return;
    }
}

void GuiDisplay::MessageBox(const char* text, const char* caption) {
    if (messageBox_) {
        messageBox_(EngineText(text), EngineText(caption));
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, EngineText(caption), EngineText(text), QMessageBox::Ok);
    box.exec();
}

void GuiDisplay::PumpEvents() { QCoreApplication::processEvents(); }

void ShowPortForNextUpdate(std::int16_t portIndex) {
    char name[16];
    FormatPortName(portIndex, name, sizeof name);
    QtStatusBar* bar = nullptr;
    if (Form6 != nullptr)
        bar = &Form6->StatusBar1();
    else if (Form5 != nullptr)
        bar = &Form5->StatusBar1();
    else if (Form1 != nullptr)
        bar = &Form1->StatusBar1();
    if (bar == nullptr) return;
    bar->SetPanelText(g_panels.port, name);
    if (QLabel* panel = bar->Panel(g_panels.port))
        panel->setToolTip(QStringLiteral("%1 is used from the next update on").arg(QString::fromLatin1(name)));
}

void ApplyPortForNextUpdate(QtStatusBar* bar) {
    const bool applied = ApplyPendingPort();
    if (bar == nullptr) return;
    if (QLabel* panel = bar->Panel(g_panels.port)) panel->setToolTip(QString());
    if (applied) ShowPortName(*bar);
}

}  // namespace pelmark
