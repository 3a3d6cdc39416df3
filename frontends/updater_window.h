// TForm1, the main updater window: the tag in large type, one button that
// starts an update and turns into a stop button while it runs, the outcome
// label, a progress bar and a status bar. Created in every build; when another
// front end leads it stays hidden and only builds its controls.
#pragma once

#include "frontends/window_setup.h"

#include <QMainWindow>

#include <memory>
#include <string>

#include "frontends/gui_widgets.h"

namespace Ui {
class TForm1;
}

namespace pelmark {

class TForm1 final : public QMainWindow {
public:
    // `tag` is the build tag the window shows (DisplayTag() in the program).
    explicit TForm1(const std::string& tag, QWidget* parent = nullptr);
    ~TForm1() override;

    Ui::TForm1& ui() { return *ui_; }
    QtProgressBar& ProgressBar1() { return progress1_; }
    QtStatusBar& StatusBar1() { return status1_; }
    // True when the creation steps ran (no other front end existed).
    bool Leads() const { return leads_; }

    void Button1Click();  // "&Update"
    void Button2Click();  // "&Stop"
    void S1Click();       // "&Change port"
    void Label1DblClick();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();

    std::unique_ptr<Ui::TForm1> ui_;
    QtProgressBar progress1_;
    QtStatusBar status1_;
    std::string tag_;
    bool leads_ = false;
    FrontEndClose close_{kSettingsMain};
};

}  // namespace pelmark
