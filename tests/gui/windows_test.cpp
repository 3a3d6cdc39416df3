// The three front-end windows: what their creation does, their menus and
// small handlers, the tag's double-click, and closing.
#include <QTest>

#include "frontends/loader_window.h"
#include "frontends/port_dialog.h"
#include "frontends/updater_window.h"
#include "frontends/upgrade_window.h"
#include "frontends/version_window.h"
#include "gui_test_support.h"
#include "shell/build_info.h"
#include "ui_loader_window.h"
#include "ui_updater_window.h"
#include "ui_upgrade_window.h"

namespace pelmark::test {
namespace {

// No ports: the dialogs opened by the menus have nothing to list.
PortDiscovery NoPorts() {
    return {[] { return DeviceSet{1}; }, [](DeviceSet, char*, char*) { return 0; }, [](DeviceSet) { return 0; }};
}

class Windows : public GuiTest {
protected:
    void MakeDialogs() {
        new TForm3();
        Form3->SetDiscovery(NoPorts());
        new TForm4();
    }
};

// The longest texts the status-bar panels were designed for fit inside their
// panels' fixed widths, frame and indent taken off: the longest COM name in
// the 50-pixel port panel, the longest "Found" text in the device panel.
TEST_F(Windows, DesignedTextsFitTheirStatusBarPanels) {
    struct Panel {
        const char* window;
        QtStatusBar* bar;
        int index;
        int width;
        const char* text;
    };
    // A desktop whose own font is larger than the layouts' (10 points).
    const QFont desktop = QApplication::font();
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 10));
    struct Restore {
        QFont font;
        ~Restore() { QApplication::setFont(font); }
    } restore{desktop};
    auto* main = new TForm1("PLAIN 1.0");
    auto* upgrade = new TForm5("VRN 1C 01.04.03.00");
    main->show();
    upgrade->show();
    const Panel panels[] = {
        {"main", &main->StatusBar1(), 0, 50, "COM257"},
        {"main", &main->StatusBar1(), 2, 100, "Found 18F26k80"},
        {"upgrade", &upgrade->StatusBar1(), 0, 50, "COM257"},
        {"upgrade", &upgrade->StatusBar1(), 3, 140, "Found 18F26k80"},
    };
    for (const Panel& p : panels) {
        QLabel* label = p.bar->Panel(p.index);
        ASSERT_NE(label, nullptr);
        label->setText(QString::fromLatin1(p.text));
        label->ensurePolished();

        const QRect inner = label->contentsRect().adjusted(label->margin() + std::max(0, label->indent()), 0,
                                                            -label->margin(), 0);
        const int needed = QFontMetrics(label->font()).horizontalAdvance(label->text());
        EXPECT_EQ(label->width(), p.width) << p.window << " panel " << p.index;
        EXPECT_LE(needed, inner.width()) << p.window << " panel " << p.index << ": \"" << p.text << "\" needs "
                                         << needed << " px, the panel has " << inner.width() << " px inside ("
                                         << label->font().family().toStdString() << " "
                                         << label->font().pixelSize() << " px)";
    }
}

// ---- Main updater window ------------------------------------------------------

TEST_F(Windows, MainWindowCreationReadsThePortAndShowsIt) {
    StoreSettings("[HKEY_LOCAL_MACHINE/Software/Norvane/Pelmark]\ncom=3\n");
    auto* form = new TForm1("PLAIN 1.0");
    EXPECT_TRUE(form->Leads());
    EXPECT_TRUE(g_mainWindowReady);
    EXPECT_EQ(g_portIndex, 3);
    EXPECT_EQ(g_openPortIndex, 2);
    EXPECT_EQ(form->StatusBar1().PanelText(0), "COM4");
    EXPECT_EQ(form->windowTitle().toStdString(), MainTitle());
    EXPECT_EQ(form->ui().Label1->text(), "PLAIN 1.0");
    EXPECT_STREQ(ApplicationTitle(), "PLAIN 1.0");
    EXPECT_TRUE(form->ui().Image2->isVisibleTo(form));
    EXPECT_EQ(g_udpNotifier, nullptr);
    EXPECT_EQ(form->pos(), QPoint(137, 200));
}

TEST_F(Windows, MainWindowPortSettingRoundTrip) {
    struct Case {
        const char* stored;  // nullptr: no value
        const char* panel;
        const char* written;
    } const cases[] = {
        {"-1", "-----", "-1"}, {nullptr, "COM1", "0"}, {"12abc", "COM13", "12"}, {"abc", "COM1", "0"},
        {"70000", "COM4465", "4464"},
        {"@ByteArray(3)", "COM1", "0"},  // not text: counts as missing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored ? c.stored : "(missing)");
        StoreSettings(c.stored ? std::string("[HKEY_LOCAL_MACHINE/Software/Norvane/Pelmark]\ncom=") + c.stored + "\n"
                               : std::string());
        auto* form = new TForm1("PLAIN 1.0");
        EXPECT_EQ(form->StatusBar1().PanelText(0), c.panel);
        form->show();
        EXPECT_TRUE(form->close());
        EXPECT_EQ(StoredSettings(),
                  std::string("[HKEY_LOCAL_MACHINE/Software/Norvane/Pelmark]\ncom=") + c.written + "\n");
        delete form;
    }
}

TEST_F(Windows, MainWindowPictureHiddenForSomeTags) {
    for (const char* tag : {"AB PX500 1", "ZOT 2.0"}) {
        auto* form = new TForm1(tag);
        EXPECT_FALSE(form->ui().Image2->isVisibleTo(form)) << tag;
        delete form;
    }
}

TEST_F(Windows, MainWindowStartsTheNotifierForBackslashP) {
    SetProgramArguments({"pelmark-updater", "\\p"});
    new TForm1("PLAIN 1.0");
    ASSERT_NE(g_udpNotifier, nullptr);
    EXPECT_TRUE(g_udpNotifier->Active());
}

TEST_F(Windows, ChangePortHidesOutcomeAndIdentityAndShowsTheDialog) {
    auto* form = new TForm1("PLAIN 1.0");
    MakeDialogs();
    form->show();
    display_.ShowOutcome(" Program Ok ", clGreen, kOutcomeSuccess);
    display_.SetIdentityField(IdentityField::IdentityLine, "BIOS:05");
    form->ui().S1->trigger();
    EXPECT_FALSE(form->ui().Label2->isVisible());
    EXPECT_FALSE(form->ui().Label3->isVisible());
    EXPECT_TRUE(Form3->isVisible());
    EXPECT_FALSE(Form3->isModal());
    EXPECT_TRUE(form->ui().S1->isEnabled());
}

TEST_F(Windows, DoubleClickOnTheTagOpensTheVersionWindow) {
    auto* form = new TForm1("PLAIN 1.0");
    MakeDialogs();
    form->show();
    QTest::mouseDClick(form->ui().Label1, Qt::LeftButton);
    EXPECT_TRUE(Form4->isVisible());
    EXPECT_FALSE(Form4->isModal());
    EXPECT_EQ(Form4->windowTitle().toStdString(),
              std::string("PLAIN 1.0   [ ") + BuildTime() + " - " + BuildDate() + " ]");
    // The picture does nothing.
    Form4->hide();
    QTest::mouseDClick(form->ui().Image2, Qt::LeftButton);
    EXPECT_FALSE(Form4->isVisible());
}

TEST_F(Windows, StopHidesItselfAndRequestsTheStop) {
    auto* form = new TForm1("PLAIN 1.0");
    form->show();
    display_.ShowBusy();
    form->ui().Button2->click();
    EXPECT_FALSE(form->ui().Button2->isVisible());
    EXPECT_TRUE(g_stopRequest);
}

TEST_F(Windows, CloseDuringAnUpdateStopsFirst) {
    auto* form = new TForm1("PLAIN 1.0");
    form->show();
    {
        BusyScope busy;  // as inside the "&Update" handler
        EXPECT_FALSE(form->close());
        EXPECT_TRUE(form->isVisible());
        EXPECT_TRUE(g_stopRequest);
        EXPECT_EQ(StoredSettings(), "");  // nothing saved while the engine runs
    }
}

// ---- Upgrade window -----------------------------------------------------------

TEST_F(Windows, UpgradeWindowCreation) {
    StoreSettings("[HKEY_LOCAL_MACHINE/Software/Tarnwell/Upgrade]\ncom=2\n");
    auto* form = new TForm5("VRN 1C 01.04.03.00");
    EXPECT_EQ(form->windowTitle().toStdString(),
              std::string("Upgrade 1.1 -   VRN 1C 01.04.03.00   - ") + BuildDate());
    EXPECT_STREQ(ApplicationTitle(), "VRN 1C 01.04.03.00");
    EXPECT_EQ(g_portIndex, 2);
    EXPECT_EQ(g_openPortIndex, 1);
    EXPECT_EQ(form->StatusBar1().PanelText(0), "COM3");
    EXPECT_EQ(g_panels.device, 3);
    EXPECT_FALSE(g_multiImage);
    EXPECT_EQ(form->ui().ProgressBar1->width(), 617);
    EXPECT_FALSE(form->ui().ProgressBar2->isVisibleTo(form));
    EXPECT_EQ(form->pos(), QPoint(274, 100));
    form->show();
    EXPECT_TRUE(form->close());
    EXPECT_EQ(StoredSettings(), "[HKEY_LOCAL_MACHINE/Software/Tarnwell/Upgrade]\ncom=2\n");
}

TEST_F(Windows, UpgradeWindowWithSeveralImagesShowsTheSecondBar) {
    auto* form = new TForm5("KLM YKP 1.0");
    EXPECT_TRUE(g_multiImage);
    EXPECT_EQ(form->ui().ProgressBar1->width(), 454);
    EXPECT_TRUE(form->ui().ProgressBar2->isVisibleTo(form));
    EXPECT_EQ(form->ui().ProgressBar2->geometry(), QRect(464, 128, 158, 17));
    EXPECT_LT(form->ui().ProgressBar1->geometry().right(), form->ui().ProgressBar2->x());
}

TEST_F(Windows, UpgradeStopBringsStartBackAndRequestsTheStop) {
    auto* form = new TForm5("VRN 1C 01.04.03.00");
    form->show();
    display_.ShowBusy();
    form->ui().Button2->click();
    EXPECT_TRUE(form->ui().Button1->isVisible());
    EXPECT_FALSE(form->ui().Button2->isVisible());
    EXPECT_TRUE(g_stopRequest);
}

TEST_F(Windows, UpgradeSerialPortMenuShowsTheDialogWhereItIs) {
    auto* form = new TForm5("VRN 1C 01.04.03.00");
    MakeDialogs();
    form->ui().SerialPort1->trigger();
    EXPECT_TRUE(Form3->isVisible());
    EXPECT_EQ(Form3->pos(), QPoint(136, 107));
}

// ---- Loader window ------------------------------------------------------------

TEST_F(Windows, LoaderWindowCreationWithoutAStoredPort) {
    auto* form = new TForm6("PX 2.1");
    EXPECT_EQ(form->windowTitle().toStdString(), std::string("Loader 1.0 -   PX 2.1   - ") + BuildDate());
    EXPECT_EQ(form->ui().Label5->text(), "PX 2.1");
    EXPECT_EQ(g_portIndex, 0);
    EXPECT_EQ(g_openPortIndex, -1);
    QLabel* message = form->ui().Label1;
    EXPECT_EQ(message->text(), "Port not valid. Select a new port.");
    // The reset's look.
    EXPECT_TRUE(message->font().italic());
    EXPECT_FALSE(message->font().bold());
    EXPECT_NEAR(CellHeight(message->font()), 25, 1);
    EXPECT_EQ(TextColour(message), QColor(0, 0, 0));
    EXPECT_EQ(message->alignment(), Qt::AlignLeft | Qt::AlignVCenter);
    EXPECT_TRUE(form->ui().Image1->isVisibleTo(form));
    EXPECT_FALSE(g_alternateSearch);
    EXPECT_EQ(form->pos(), QPoint(183, 150));
}

TEST_F(Windows, LoaderWindowStoredPort) {
    struct Case {
        const char* stored;
        std::int16_t port;
        bool warned;
    } const cases[] = {{"0", 0, false}, {"4", 4, false}, {"-1", -1, false}, {"-2", -2, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        StoreSettings(std::string("[HKEY_LOCAL_MACHINE/Software/Veldra/Loader]\ncom=") + c.stored + "\n");
        auto* form = new TForm6("PX 2.1");
        EXPECT_EQ(g_portIndex, c.port);
        EXPECT_EQ(g_openPortIndex, c.port + 1);
        EXPECT_EQ(form->ui().Label1->text(), c.warned ? "Port not valid. Select a new port."
                                                      : "Push 'Update FW' button and connect a device");
        form->show();
        EXPECT_TRUE(form->close());
        EXPECT_EQ(StoredSettings(), std::string("[HKEY_LOCAL_MACHINE/Software/Veldra/Loader]\ncom=") + c.stored + "\n");
        delete form;
    }
}

TEST_F(Windows, LoaderAlternateSearchTags) {
    for (const char* tag : {"GNV 1.0", "AB DLM 3"}) {
        g_alternateSearch = false;
        auto* form = new TForm6(tag);
        EXPECT_TRUE(form->windowTitle().endsWith("   -(N)-")) << tag;
        EXPECT_FALSE(form->ui().Image1->isVisibleTo(form));
        EXPECT_TRUE(g_alternateSearch);
        delete form;
    }
}

TEST_F(Windows, LoaderChangePortResetsTheMessageAndPlacesTheDialog) {
    StoreSettings("[HKEY_LOCAL_MACHINE/Software/Veldra/Loader]\ncom=0\n");
    auto* form = new TForm6("PX 2.1");
    MakeDialogs();
    form->show();
    display_.ShowOutcome(" CHK Error !! ", clRed, kOutcomeFailure);
    display_.SetIdentityField(IdentityField::Hardware, "CAN-Box - 0x04");
    form->ProgressBar1().SetPosition(40);
    form->ui().ChangePort1->trigger();
    EXPECT_TRUE(Form3->isVisible());
    EXPECT_TRUE(Form3->windowFlags().testFlag(Qt::Tool));
    EXPECT_EQ(Form3->pos(), form->frameGeometry().topLeft());
    EXPECT_EQ(form->ui().Label1->text(), "Push 'Update FW' button and connect a device");
    EXPECT_TRUE(form->ui().Label1->font().italic());
    EXPECT_EQ(form->ui().Label6->text(), "");
    EXPECT_EQ(form->ProgressBar1().Position(), 0);
}

TEST_F(Windows, LoaderAbortGoesIdleRequestsStopAndShowsTheErrorState) {
    auto* form = new TForm6("PX 2.1");
    form->show();
    display_.ShowBusy();
    form->ui().Button2->click();
    EXPECT_TRUE(form->ui().Button1->isEnabled());
    EXPECT_FALSE(form->ui().Button2->isEnabled());
    EXPECT_TRUE(g_stopRequest);
    EXPECT_EQ(form->ProgressBar1().State(), ProgressState::Error);
}

TEST_F(Windows, LoaderNeverStartsTheNotifier) {
    SetProgramArguments({"pelmark-updater", "\\P"});
    CreateFrontEnds("PX 2.1");
    EXPECT_EQ(g_udpNotifier, nullptr);
}

}  // namespace
}  // namespace pelmark::test
