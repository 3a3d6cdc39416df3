// TForm6, the Loader window: firmware, hardware and bootloader lines, a
// message line that guides the user and reports the result, "Update FW" and
// a separate "Abort". Its status bar exists but stays hidden.
#pragma once

#include "frontends/window_setup.h"

#include <QMainWindow>

#include <memory>
#include <string>

#include "frontends/gui_widgets.h"

namespace Ui {
class TForm6;
}

namespace pelmark {

class TForm6 final : public QMainWindow {
public:
    explicit TForm6(const std::string& tag, QWidget* parent = nullptr);
    ~TForm6() override;

    Ui::TForm6& ui() { return *ui_; }
    QtProgressBar& ProgressBar1() { return progress1_; }
    QtStatusBar& StatusBar1() { return status1_; }

    void Button1Click();  // "Update FW"
    void Button2Click();  // "Abort"
    void ChangePort1Click();
    // The Loader's reset (bar back to 0, guiding text, value lines emptied).
    void ResetMessage();

    // Message line looks: text font Tahoma, cell height 32 or 25.
    static constexpr int kLargeHeight = 32;
    static constexpr int kNormalHeight = 25;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    // The message line in its guiding look with `guide`, value lines emptied.
    void ShowGuide(const char* guide);

    std::unique_ptr<Ui::TForm6> ui_;
    QtProgressBar progress1_;
    QtStatusBar status1_;
    std::string tag_;
    FrontEndClose close_{kSettingsLoader};
};

// The message line's font: Tahoma with the given style and cell height.
void SetMessageFont(QLabel* label, bool bold, bool italic, int height);

}  // namespace pelmark
