// The display operations on each front end, and the progress bar and status
// bar the engine drives.
#include <QImage>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>

#include "frontends/loader_window.h"
#include "frontends/updater_window.h"
#include "frontends/upgrade_window.h"
#include "gui_test_support.h"
#include "ui_loader_window.h"
#include "ui_updater_window.h"
#include "ui_upgrade_window.h"

namespace pelmark::test {
namespace {

const QColor kRed(255, 0, 0);
const QColor kGreen(0, 128, 0);
const QColor kWhite(255, 255, 255);
const QColor kBlack(0, 0, 0);
const QColor kSilver(192, 192, 192);

QColor ButtonFace() { return ToQColor(clBtnFace); }

// Shows a window and makes it the active one, so that focus can be checked.
void ShowActive(QWidget* w) {
    w->show();
    w->activateWindow();
    QApplication::setActiveWindow(w);
    QApplication::processEvents();
}

// ---- Main updater window ------------------------------------------------------

class MainWindowDisplay : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        form_ = new TForm1("PLAIN 1.0");
        ShowActive(form_);
    }
    Ui::TForm1& ui() { return form_->ui(); }
    TForm1* form_ = nullptr;
};

TEST_F(MainWindowDisplay, ShowingIsTheMainWindow) {
    EXPECT_EQ(display_.Showing(), FrontEnd::Main);
    EXPECT_EQ(display_.MainStatusBar(), &form_->StatusBar1());
}

TEST_F(MainWindowDisplay, FailureOutcomeIsWhiteOnRedWithUpdateBackAndFocused) {
    display_.ShowBusy();
    ui().S1->setEnabled(false);
    display_.ShowOutcome(" not Response ", clRed, kOutcomeFailure);
    QLabel* outcome = ui().Label2;
    EXPECT_TRUE(outcome->isVisible());
    EXPECT_EQ(outcome->text(), " not Response ");
    EXPECT_TRUE(outcome->autoFillBackground());
    EXPECT_EQ(Background(outcome), kRed);
    EXPECT_EQ(TextColour(outcome), kWhite);
    EXPECT_TRUE(ui().S1->isEnabled());
    EXPECT_FALSE(ui().Button2->isVisible());
    EXPECT_TRUE(ui().Button1->isVisible());
    EXPECT_EQ(form_->focusWidget(), ui().Button1);
    // What reaches the screen: the label is painted red.
    const QImage image = outcome->grab().toImage();
    EXPECT_EQ(QColor(image.pixel(2, 2)), kRed);
}

TEST_F(MainWindowDisplay, OutcomeBeforeTheWindowIsReadyOnlyTouchesTheLabel) {
    display_.ShowBusy();
    ui().S1->setEnabled(false);
    g_mainWindowReady = false;
    display_.ShowOutcome("Invalid Port Com", clRed, kOutcomeFailure);
    EXPECT_TRUE(ui().Label2->isVisible());
    EXPECT_EQ(ui().Label2->text(), "Invalid Port Com");
    EXPECT_FALSE(ui().S1->isEnabled());
    EXPECT_TRUE(ui().Button2->isVisible());
    EXPECT_FALSE(ui().Button1->isVisible());
}

TEST_F(MainWindowDisplay, StatusIsBlackOnTheGivenColourButtonsUntouched) {
    display_.ShowBusy();
    display_.ShowStatus(" Programming... ", clBtnFace);
    EXPECT_TRUE(ui().Label2->isVisible());
    EXPECT_EQ(ui().Label2->text(), " Programming... ");
    EXPECT_EQ(Background(ui().Label2), ButtonFace());
    EXPECT_EQ(TextColour(ui().Label2), kBlack);
    EXPECT_TRUE(ui().Button2->isVisible());
    EXPECT_FALSE(ui().Button1->isVisible());
    display_.ShowStatus("x", clGreen);
    EXPECT_EQ(Background(ui().Label2), kGreen);
    EXPECT_EQ(TextColour(ui().Label2), kBlack);
}

TEST_F(MainWindowDisplay, BusyAndIdleSwapTheButtons) {
    display_.ShowBusy();
    EXPECT_TRUE(ui().Button2->isVisible());
    EXPECT_FALSE(ui().Button1->isVisible());
    EXPECT_EQ(ui().Button1->geometry(), ui().Button2->geometry());
    display_.ShowIdle();
    EXPECT_FALSE(ui().Button2->isVisible());
    EXPECT_TRUE(ui().Button1->isVisible());
    EXPECT_EQ(form_->focusWidget(), ui().Button1);
}

TEST_F(MainWindowDisplay, ImageKindColoursTheTagLabel) {
    display_.ShowImageKind(true);
    EXPECT_EQ(Background(ui().Label1), kSilver);
    display_.ShowImageKind(false);
    EXPECT_EQ(Background(ui().Label1), ButtonFace());
}

TEST_F(MainWindowDisplay, IdentityLinesAndOutcomeLabelVisibility) {
    display_.SetIdentityField(IdentityField::IdentityLine, "BIOS:05 - X - Preparation04");
    display_.SetIdentityField(IdentityField::DeviceText, "SN 1");
    for (QLabel* l : {ui().Label3, ui().Label4}) {
        EXPECT_TRUE(l->isVisible());
        EXPECT_EQ(Background(l), ButtonFace());
        EXPECT_EQ(TextColour(l), kBlack);
    }
    EXPECT_EQ(ui().Label3->text(), "BIOS:05 - X - Preparation04");
    EXPECT_EQ(ui().Label4->text(), "SN 1");
    display_.HideIdentityField(IdentityField::DeviceText);
    EXPECT_FALSE(ui().Label4->isVisible());

    display_.ShowStatus("x", clBlack);
    display_.HideOutcomeLabel();
    EXPECT_FALSE(ui().Label2->isVisible());
}

TEST_F(MainWindowDisplay, DesignFontsAndGeometry) {
    EXPECT_EQ(form_->centralWidget()->size(), QSize(511, 265 - 19));
    EXPECT_EQ(ui().StatusBar1->height(), 19);
    EXPECT_EQ(ui().Label1->font().pixelSize(), 40);
    EXPECT_TRUE(ui().Label1->font().bold());
    EXPECT_EQ(ui().Label2->font().pixelSize(), 24);
    EXPECT_EQ(ui().Label4->font().pixelSize(), 16);
    EXPECT_EQ(form_->font().pixelSize(), 11);
    EXPECT_EQ(ui().Label2->alignment(), Qt::AlignCenter);
    EXPECT_EQ(ui().Label2->geometry(), QRect(13, 182, 484, 29));
    EXPECT_EQ(ui().ProgressBar1->geometry(), QRect(8, 224, 497, 16));
    EXPECT_EQ(ui().Button1->text(), "&Update");
    EXPECT_EQ(ui().Button2->text(), "&Stop");
    EXPECT_EQ(ui().S1->text(), "&Change port");
}

// ---- Upgrade window -----------------------------------------------------------

class UpgradeDisplay : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        form_ = new TForm5("VRN 1C 01.04.03.00");
        new TForm1("VRN 1C 01.04.03.00");
        ShowActive(form_);
    }
    Ui::TForm5& ui() { return form_->ui(); }
    TForm5* form_ = nullptr;
};

TEST_F(UpgradeDisplay, EveryTextGoesToTheMessagePanel) {
    EXPECT_EQ(display_.Showing(), FrontEnd::Upgrade);
    display_.ShowBusy();
    display_.ShowOutcome(" CHK Error !! ", clRed, kOutcomeFailure);
    EXPECT_EQ(form_->StatusBar1().PanelText(1), " CHK Error !! ");
    EXPECT_FALSE(ui().Button2->isVisible());
    EXPECT_TRUE(ui().Button1->isVisible());
    EXPECT_EQ(form_->focusWidget(), ui().Button1);
    display_.ShowStatus(" Programming... ", clBtnFace);
    EXPECT_EQ(form_->StatusBar1().PanelText(1), " Programming... ");
    // The main updater window, hidden, is not written.
    EXPECT_FALSE(Form1->ui().Label2->isVisibleTo(Form1));
}

TEST_F(UpgradeDisplay, BusyBlanksTheDevicePanelThreeAndShowsStop) {
    form_->StatusBar1().SetPanelText(3, "Found 2580");
    display_.ShowBusy();
    EXPECT_EQ(g_panels.device, 3);
    EXPECT_EQ(form_->StatusBar1().PanelText(3), " ");
    EXPECT_EQ(form_->StatusBar1().PanelText(2), "");
    EXPECT_TRUE(ui().Button2->isVisible());
    EXPECT_FALSE(ui().Button1->isVisible());
    display_.ShowIdle();
    EXPECT_TRUE(ui().Button1->isVisible());
    EXPECT_FALSE(ui().Button2->isVisible());
    EXPECT_EQ(form_->focusWidget(), ui().Button1);
}

TEST_F(UpgradeDisplay, ImageKindColoursThePanel) {
    display_.ShowImageKind(true);
    EXPECT_EQ(Background(ui().Panel1), kSilver);
    display_.ShowImageKind(false);
    EXPECT_EQ(Background(ui().Panel1), ButtonFace());
}

TEST_F(UpgradeDisplay, DesignFontsAndGeometry) {
    EXPECT_EQ(form_->centralWidget()->size(), QSize(630, 181 - 29));
    EXPECT_EQ(ui().Button1->font().pixelSize(), 33);
    EXPECT_TRUE(ui().Button1->font().bold());
    EXPECT_EQ(ui().Button1->geometry(), QRect(175, 25, 249, 65));
    EXPECT_EQ(ui().Button1->parentWidget(), ui().Panel1);
    EXPECT_EQ(form_->StatusBar1().PanelCount(), 5);
}

// ---- Loader window ------------------------------------------------------------

class LoaderDisplay : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        form_ = new TForm6("PX 2.1");
        new TForm1("PX 2.1");
        ShowActive(form_);
    }
    Ui::TForm6& ui() { return form_->ui(); }
    QLabel* message() { return form_->ui().Label1; }
    TForm6* form_ = nullptr;
};

TEST_F(LoaderDisplay, FailureOutcomeIsCentredBoldInTheColourAndReenablesUpdate) {
    EXPECT_EQ(display_.Showing(), FrontEnd::Loader);
    display_.ShowBusy();
    display_.ShowOutcome(" User Abort !! ", clRed, kOutcomeFailure);
    EXPECT_TRUE(ui().Button1->isEnabled());
    EXPECT_FALSE(ui().Button2->isEnabled());
    EXPECT_EQ(message()->text(), " User Abort !! ");
    EXPECT_TRUE(message()->font().bold());
    EXPECT_FALSE(message()->font().italic());
    EXPECT_NEAR(CellHeight(message()->font()), 32, 1);
    EXPECT_EQ(message()->alignment(), Qt::AlignCenter);
    EXPECT_EQ(TextColour(message()), kRed);
}

TEST_F(LoaderDisplay, StatusLooksByColour) {
    struct Case {
        Colour colour;
        QColor text;
        bool bold;
        int height;
    } const cases[] = {
        {clBtnFace, kBlack, false, 25},
        {clBlack, kBlack, false, 25},
        {clGreen, kGreen, true, 32},
        {clRed, kRed, true, 32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.colour);
        display_.ShowOutcome("x", clRed, kOutcomeFailure);  // centred, bold
        display_.ShowBusy();
        display_.ShowStatus("Search Device", c.colour);
        EXPECT_EQ(message()->text(), "Search Device");
        EXPECT_EQ(TextColour(message()), c.text);
        EXPECT_EQ(message()->font().bold(), c.bold);
        EXPECT_FALSE(message()->font().italic());
        EXPECT_NEAR(CellHeight(message()->font()), c.height, 1);
        EXPECT_EQ(message()->alignment(), Qt::AlignLeft | Qt::AlignVCenter);
        // The buttons are left as they were.
        EXPECT_FALSE(ui().Button1->isEnabled());
        EXPECT_TRUE(ui().Button2->isEnabled());
    }
}

TEST_F(LoaderDisplay, BusyAndIdleEnableTheButtons) {
    display_.ShowBusy();
    EXPECT_FALSE(ui().Button1->isEnabled());
    EXPECT_TRUE(ui().Button2->isEnabled());
    display_.ShowIdle();
    EXPECT_TRUE(ui().Button1->isEnabled());
    EXPECT_FALSE(ui().Button2->isEnabled());
    EXPECT_EQ(form_->focusWidget(), ui().Button1);
}

TEST_F(LoaderDisplay, IdentityValuesAndNoImageKind) {
    display_.SetIdentityField(IdentityField::Hardware, "CAN-Box - 0x04");
    display_.SetIdentityField(IdentityField::Bootloader, "0x05");
    EXPECT_EQ(ui().Label6->text(), "CAN-Box - 0x04");
    EXPECT_EQ(ui().Label7->text(), "0x05");
    const QPalette before = form_->centralWidget()->palette();
    display_.ShowImageKind(true);
    EXPECT_EQ(form_->centralWidget()->palette(), before);
}

TEST_F(LoaderDisplay, DesignFontsAndGeometry) {
    EXPECT_FALSE(ui().StatusBar1->isVisible());
    EXPECT_EQ(form_->StatusBar1().PanelCount(), 5);
    EXPECT_EQ(form_->centralWidget()->size(), QSize(635, 255));
    EXPECT_NEAR(CellHeight(ui().Label2->font()), 32, 1);
    EXPECT_NEAR(CellHeight(ui().Label5->font()), 32, 1);
    EXPECT_TRUE(ui().Label5->font().bold());
    EXPECT_NEAR(CellHeight(ui().Label6->font()), 25, 1);
    EXPECT_EQ(ui().Label2->alignment(), Qt::AlignRight | Qt::AlignVCenter);
    EXPECT_EQ(ui().Label1->geometry(), QRect(8, 165, 617, 32));
    EXPECT_EQ(ui().ProgressBar1->geometry(), QRect(8, 203, 617, 33));
    EXPECT_EQ(ui().ChangePort1->text(), "&Change Port");
}

// ---- Progress bar and status bar ----------------------------------------------

class Widgets : public GuiTest {};

TEST_F(Widgets, ProgressPositionStaysInsideTheRange) {
    QProgressBar bar;
    QtProgressBar p(&bar);
    p.SetMax(100);
    p.SetPosition(150);
    EXPECT_EQ(p.Position(), 100);
    p.SetPosition(-4);
    EXPECT_EQ(p.Position(), 0);
    p.SetPosition(80);
    p.SetMax(50);  // a smaller maximum pulls the position down with it
    EXPECT_EQ(p.Position(), 50);
    EXPECT_EQ(bar.value(), 50);
    EXPECT_EQ(bar.maximum(), 50);
    p.SetMin(10);
    p.SetPosition(0);
    EXPECT_EQ(p.Position(), 10);
}

// The colour across the middle row of a rendered bar, as a run of pixels.
std::vector<QColor> MiddleRow(QProgressBar& bar) {
    const QImage image = bar.grab().toImage();
    std::vector<QColor> row;
    for (int x = 0; x < image.width(); ++x) row.emplace_back(image.pixel(x, image.height() / 2));
    return row;
}

TEST_F(Widgets, ProgressStatesAreDrawnInTheirColours) {
    QProgressBar bar;
    bar.resize(200, 16);
    QtProgressBar p(&bar);
    p.SetSmooth(true);
    p.SetMax(100);
    p.SetPosition(50);
    for (ProgressState s : {ProgressState::Normal, ProgressState::Paused, ProgressState::Error}) {
        p.SetState(s);
        EXPECT_EQ(p.State(), s);
        const std::vector<QColor> row = MiddleRow(bar);
        EXPECT_EQ(row[50], QtProgressBar::StateColour(s)) << static_cast<int>(s);
        EXPECT_NE(row[170], QtProgressBar::StateColour(s));
    }
    EXPECT_NE(QtProgressBar::StateColour(ProgressState::Normal), QtProgressBar::StateColour(ProgressState::Paused));
    EXPECT_NE(QtProgressBar::StateColour(ProgressState::Paused), QtProgressBar::StateColour(ProgressState::Error));
}

TEST_F(Widgets, SteppedLookShowsBlocksSmoothLookDoesNot) {
    QProgressBar bar;
    bar.resize(200, 16);
    QtProgressBar p(&bar);
    p.SetMax(100);
    p.SetPosition(80);
    auto gapsInFill = [&] {
        const std::vector<QColor> row = MiddleRow(bar);
        const QColor fill = QtProgressBar::StateColour(ProgressState::Normal);
        int gaps = 0;
        for (int x = 10; x < 140; ++x)
            if (row[x] != fill && row[x - 1] == fill) ++gaps;
        return gaps;
    };
    p.SetSmooth(false);
    EXPECT_GT(gapsInFill(), 5);
    p.SetSmooth(true);
    EXPECT_EQ(gapsInFill(), 0);
}

TEST_F(Widgets, StatusPanelsLeftToRightWithTheirWidths) {
    QStatusBar bar;
    bar.resize(600, 19);
    QtStatusBar s(&bar, {50, 130, 100, 50});
    bar.show();
    QApplication::processEvents();
    ASSERT_EQ(s.PanelCount(), 4);
    const int widths[] = {50, 130, 100, 50};
    int lastX = -1;
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(s.Panel(i)->width(), widths[i]);
        EXPECT_GT(s.Panel(i)->x(), lastX);
        lastX = s.Panel(i)->x();
    }
    EXPECT_LT(s.Panel(0)->x(), 10);  // at the left edge, as in the layouts
    s.SetPanelText(1, "Found 2580");
    s.SetPanelText(7, "ignored");
    s.SetPanelText(-1, "ignored");
    s.SetPanelText(2, "\xB5s");  // 8-bit text of the engine
    EXPECT_EQ(s.PanelText(1), "Found 2580");
    EXPECT_EQ(s.PanelText(2), QString::fromUtf8("\xC2\xB5s"));
    // A temporary message does not hide the panels.
    bar.showMessage("tip");
    QApplication::processEvents();
    EXPECT_TRUE(s.Panel(1)->isVisible());
}

}  // namespace
}  // namespace pelmark::test
