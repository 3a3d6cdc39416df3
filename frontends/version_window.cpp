#include "frontends/version_window.h"

#include <QListWidgetItem>
#include <QShowEvent>

#include "report/board_names.h"
#include "frontends/gui_forms.h"
#include "frontends/gui_widgets.h"
#include "ui_version_window.h"

namespace pelmark {

namespace {
constexpr int kItemHeight = 13;
}

TForm4::TForm4(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::TForm4>()) {
    ui_->setupUi(this);
    PinFontsToPixels(this);
    QFont listFont = ui_->ListBox1->font();
    SetToolkitHeight(listFont, -11);
    listFont.setStyleHint(QFont::Monospace);
    listFont.setFixedPitch(true);
    ui_->ListBox1->setFont(listFont);
    setFixedSize(396, 234);
    // Placed where designed (the layout files give only the size).
    move(158, 103);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    connect(ui_->Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    Form4 = this;
}

TForm4::~TForm4() {
    if (Form4 == this) Form4 = nullptr;
}

void TForm4::ShowWindow() {
    show();
    raise();
    activateWindow();
}

void TForm4::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        ui_->ListBox1->clear();
        RunVersionReport();
    }
    QDialog::showEvent(event);
}

void TForm4::RunVersionReport() {
    for (const std::string& line : VersionReportLines()) {
        auto* item = new QListWidgetItem(EngineText(line.c_str()), ui_->ListBox1);
        const int width = ui_->ListBox1->fontMetrics().horizontalAdvance(item->text()) + 6;
        item->setSizeHint(QSize(width, kItemHeight));
    }
    ui_->ListBox1->setCurrentRow(-1);  // nothing selected, as after filling a list box
}

void TForm4::Button1Click() { close(); }

}  // namespace pelmark
