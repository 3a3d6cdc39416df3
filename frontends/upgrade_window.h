// TForm5, the Upgrade window: one large START button that turns into STOP
// while an update runs, all texts in the status bar, and with a multi-image
// tag ("YKP") a second progress bar over the images of one run.
#pragma once

#include "frontends/window_setup.h"

#include <QMainWindow>

#include <memory>
#include <string>

#include "frontends/gui_widgets.h"

namespace Ui {
class TForm5;
}

namespace pelmark {

class TForm5 final : public QMainWindow {
public:
    explicit TForm5(const std::string& tag, QWidget* parent = nullptr);
    ~TForm5() override;

    Ui::TForm5& ui() { return *ui_; }
    QtProgressBar& ProgressBar1() { return progress1_; }
    QtProgressBar& ProgressBar2() { return progress2_; }
    QtStatusBar& StatusBar1() { return status1_; }

    void Button1Click();  // "START"
    void Button2Click();  // "STOP"
    void SerialPort1Click();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();

    std::unique_ptr<Ui::TForm5> ui_;
    QtProgressBar progress1_;
    QtProgressBar progress2_;
    QtStatusBar status1_;
    std::string tag_;
    FrontEndClose close_{kSettingsUpgrade};
};

}  // namespace pelmark
