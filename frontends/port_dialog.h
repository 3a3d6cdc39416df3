// TForm3, the port dialog: the serial ports present, by friendly name, in the
// order port discovery delivers them. OK makes the chosen port the selected
// one and opens it; Cancel restores the selection. The dialog is shown
// without being modal and is only hidden when closed.
#pragma once

#include <QDialog>

#include <cstdint>
#include <functional>
#include <memory>

#include "serial/port_discovery.h"

namespace Ui {
class TForm3;
}

namespace pelmark {

// Where the dialog gets its ports from: PortEnumBegin, PortEnumNext and
// PortEnumEnd unless a test hands in others.
struct PortDiscovery {
    std::function<DeviceSet()> begin;
    std::function<int(DeviceSet, char* portName, char* friendlyName)> next;
    std::function<int(DeviceSet)> end;
};
PortDiscovery SystemPortDiscovery();

class TForm3 final : public QDialog {
public:
    explicit TForm3(QWidget* parent = nullptr);
    ~TForm3() override;

    Ui::TForm3& ui() { return *ui_; }

    void SetDiscovery(PortDiscovery discovery);
    // What OK calls after changing the port index (ComPortOpen by default).
    void SetPortOpener(std::function<void()> open);

    // Shows the dialog without making it modal, as a normal dialog window.
    void ShowDialog();
    // Shows it as a tool window at `topLeft` (screen position).
    void ShowToolWindow(const QPoint& topLeft);

    void FillPortLists();
    std::int16_t PortIndexToListPos(std::int16_t portIndex);
    std::int16_t ListPosToPortIndex(std::int16_t position);

    void Button1Click();  // "&Ok"
    void Button2Click();  // "&Cancel"

protected:
    void showEvent(QShowEvent* event) override;  // FormShow

private:
    void FormShow();

    std::unique_ptr<Ui::TForm3> ui_;
    PortDiscovery discovery_;
    std::function<void()> openPort_;
};

// The port the next update uses: one chosen during a running update, else
// the selected port.
std::int16_t EffectivePortIndex();

}  // namespace pelmark
