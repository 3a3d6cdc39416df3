// TForm4, the version window: the firmware images this build carries, one
// line each, rebuilt every time the window becomes visible. Opened only by a
// double-click on the main updater window's tag.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class TForm4;
}

namespace pelmark {

class TForm4 final : public QDialog {
public:
    explicit TForm4(QWidget* parent = nullptr);
    ~TForm4() override;

    Ui::TForm4& ui() { return *ui_; }

    // Shows the window without making it modal; a visible window only comes
    // to the front.
    void ShowWindow();
    void RunVersionReport();
    void Button1Click();  // "&Ok"

protected:
    void showEvent(QShowEvent* event) override;  // FormShow

private:
    std::unique_ptr<Ui::TForm4> ui_;
};

}  // namespace pelmark
