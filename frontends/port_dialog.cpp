#include "frontends/port_dialog.h"

#include <QShowEvent>

#include <cstdio>
#include <cstring>

#include "serial/port_link.h"
#include "frontends/gui_display.h"
#include "frontends/gui_forms.h"
#include "frontends/gui_session.h"
#include "shell/settings_text.h"
#include "ui_port_dialog.h"

namespace pelmark {

PortDiscovery SystemPortDiscovery() { return {PortEnumBegin, PortEnumNext, PortEnumEnd}; }

std::int16_t EffectivePortIndex() { return HasPendingPort() ? PendingPort() : g_portIndex; }

TForm3::TForm3(QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::TForm3>()),
      discovery_(SystemPortDiscovery()),
      openPort_(ComPortOpen) {
    ui_->setupUi(this);
    setFixedSize(456, 94);
    // Placed where designed (the layout files give only the size).
    move(136, 107);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    connect(ui_->Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(ui_->Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    Form3 = this;
}

TForm3::~TForm3() {
    if (Form3 == this) Form3 = nullptr;
}

void TForm3::SetDiscovery(PortDiscovery discovery) { discovery_ = std::move(discovery); }

void TForm3::SetPortOpener(std::function<void()> open) { openPort_ = std::move(open); }

void TForm3::ShowDialog() {
    show();
    raise();
    activateWindow();
}

void TForm3::ShowToolWindow(const QPoint& topLeft) {
    const Qt::WindowFlags tool =
        Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
    if (windowFlags() != tool) setWindowFlags(tool);  // hides the dialog when it was showing
    move(topLeft);
    ShowDialog();
}

void TForm3::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) FormShow();
    QDialog::showEvent(event);
}

void TForm3::FormShow() {
    FillPortLists();
    ui_->ComboBox1->setCurrentIndex(PortIndexToListPos(EffectivePortIndex()));
    ui_->Label2->setVisible(UpdateBusy());
}

void TForm3::FillPortLists() {
    ui_->ComboBox1->clear();
    ui_->ComboBox2->clear();
    const DeviceSet set = discovery_.begin ? discovery_.begin() : kNoDeviceSet;
    char portName[kCallerNameBuffer];
    char friendlyName[kCallerNameBuffer];
    while (discovery_.next) {
        std::memset(portName, 0, sizeof portName);
        std::memset(friendlyName, 0, sizeof friendlyName);
        if (discovery_.next(set, portName, friendlyName) != 1) break;
        portName[sizeof portName - 1] = '\0';
        friendlyName[sizeof friendlyName - 1] = '\0';
        ui_->ComboBox1->addItem(QString::fromLatin1(friendlyName));
        ui_->ComboBox2->addItem(QString::fromLatin1(portName));
    }
    if (discovery_.end) discovery_.end(set);
}

std::int16_t TForm3::PortIndexToListPos(std::int16_t portIndex) {
    char wanted[16];
    std::snprintf(wanted, sizeof wanted, "COM%d", portIndex + 1);
    const QString name = QString::fromLatin1(wanted);
    for (int k = 0; k < ui_->ComboBox2->count(); ++k) {
        ui_->ComboBox2->setCurrentIndex(k);
        if (ui_->ComboBox2->currentText().compare(name, Qt::CaseInsensitive) == 0)
            return static_cast<std::int16_t>(k);
    }
    return 0;
}

std::int16_t TForm3::ListPosToPortIndex(std::int16_t position) {
    ui_->ComboBox2->setCurrentIndex(position);
    const QByteArray text = ui_->ComboBox2->currentIndex() < 0 ? QByteArray() : ui_->ComboBox2->currentText().toLatin1();
    if (text.isEmpty()) return 0;
    char buffer[kCallerNameBuffer];
    std::snprintf(buffer, sizeof buffer, "%s", text.constData());
    // The delimiters are the letters C, O and M, each on its own.
    char* save = nullptr;
    const char* token = strtok_r(buffer, "COM", &save);
    if (token == nullptr) return 0;
    return static_cast<std::int16_t>(ParsePortSetting(token) - 1);
}

void TForm3::Button1Click() {
    const auto position = static_cast<std::int16_t>(ui_->ComboBox1->currentIndex());
    const std::int16_t portIndex = ListPosToPortIndex(position);
    if (UpdateBusy()) {
        // The running update keeps its port; the choice applies to the next.
        if (portIndex != g_portIndex)
            SetPendingPort(portIndex);
        else
            ClearPendingPort();
        ShowPortForNextUpdate(portIndex);
    } else if (portIndex != g_portIndex) {
        g_portIndex = portIndex;
        if (openPort_) openPort_();
    }
    close();
}

void TForm3::Button2Click() {
    ui_->ComboBox1->setCurrentIndex(PortIndexToListPos(EffectivePortIndex()));
    close();
}

}  // namespace pelmark
