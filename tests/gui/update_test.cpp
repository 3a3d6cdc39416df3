// Updates driven by a click in each front end, over a real pseudo-terminal,
// against the virtual device (pelmark-devsim), with the test's small image
// set: slot 9 (PIC18F26K80) and slot 1 (PIC18F2580).
#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>

#include "e2e/device_process.h"
#include "frontends/loader_window.h"
#include "frontends/port_dialog.h"
#include "frontends/updater_window.h"
#include "frontends/upgrade_window.h"
#include "gui_test_support.h"
#include "ui_loader_window.h"
#include "ui_port_dialog.h"
#include "ui_updater_window.h"
#include "ui_upgrade_window.h"

namespace pelmark::test {
namespace {

constexpr int kCom = 250;  // mapped to the device's terminal in the test's port-map directory

bool Logged(const std::vector<std::string>& log, const std::string& kind, const std::string& verdict) {
    return std::any_of(log.begin(), log.end(), [&](const std::string& line) {
        return line.rfind(kind + ' ', 0) == 0 && line.find(' ' + verdict) != std::string::npos;
    });
}

// Calls `check` every 10 ms while the engine pumps events; `check` returns
// true once it has done its work.
class Poller {
public:
    explicit Poller(std::function<bool()> check) : check_(std::move(check)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (!done_ && check_()) done_ = true;
        });
        timer_.start(10);
    }
    bool done() const { return done_; }

private:
    QTimer timer_;
    std::function<bool()> check_;
    bool done_ = false;
};

class ClickUpdate : public GuiTest {
protected:
    std::unique_ptr<DeviceProcess> StartDevice(std::vector<std::string> args) {
        args.push_back("--com");
        args.push_back(std::to_string(kCom));
        return std::make_unique<DeviceProcess>(PELMARK_DEVSIM, std::move(args));
    }

    // The front end for `tag` as the program creates it, its port set to the device's.
    QWidget* Open(const char* tag, const char* group) {
        StoreSettings(std::string("[HKEY_LOCAL_MACHINE/Software/") + group + "]\ncom=" + std::to_string(kCom - 1) +
                      "\n");
        QWidget* main = CreateFrontEnds(tag);
        main->show();
        QApplication::processEvents();
        return main;
    }

    static qint64 Timed(const std::function<void()>& run) {
        QElapsedTimer t;
        t.start();
        run();
        return t.elapsed();
    }
};

TEST_F(ClickUpdate, MainWindowUpdateEndsWithProgramOk) {
    auto device = StartDevice({"--chip", "0x48", "--bios", "5"});
    Open("PLAIN 1.0", "Norvane/Pelmark");
    Ui::TForm1& ui = Form1->ui();
    EXPECT_EQ(Form1->StatusBar1().PanelText(0), "COM250");
    const qint64 ms = Timed([&] { ui.Button1->click(); });
    EXPECT_LT(ms, 10000);
    EXPECT_EQ(ui.Label2->text(), " Program Ok ");
    EXPECT_TRUE(ui.Label2->isVisible());
    EXPECT_EQ(Background(ui.Label2), QColor(0, 128, 0));
    EXPECT_EQ(TextColour(ui.Label2), QColor(255, 255, 255));
    EXPECT_TRUE(ui.Button1->isVisible());
    EXPECT_FALSE(ui.Button2->isVisible());
    EXPECT_TRUE(ui.Label3->isVisible());
    EXPECT_TRUE(ui.Label3->text().startsWith("BIOS:05 - ")) << ui.Label3->text().toStdString();
    EXPECT_TRUE(Form1->StatusBar1().PanelText(3).startsWith("Loaded "));
    EXPECT_FALSE(UpdateBusy());
    const auto log = device->Log();
    EXPECT_TRUE(Logged(log, "search", "reply"));
    EXPECT_TRUE(Logged(log, "trailer", "K"));
    EXPECT_TRUE(Logged(log, "eeprom", "K"));
}

TEST_F(ClickUpdate, UpgradeWindowUpdateEndsWithProgramOkInTheStatusBar) {
    auto device = StartDevice({"--chip", "0x48", "--bios", "5"});
    Open("VRN 1C 01.04.03.00", "Tarnwell/Upgrade");
    Ui::TForm5& ui = Form5->ui();
    Form5->ui().Button1->click();
    EXPECT_EQ(Form5->StatusBar1().PanelText(1), "Program OK");
    EXPECT_EQ(Form5->StatusBar1().PanelText(2), "");
    EXPECT_EQ(Form5->StatusBar1().PanelText(3), "Found 18F26k80");
    EXPECT_TRUE(ui.Button1->isVisible());
    EXPECT_FALSE(ui.Button2->isVisible());
    EXPECT_FALSE(ui.ProgressBar2->isVisible());
    EXPECT_EQ(Form5->ProgressBar1().Position(), 0);
    const auto log = device->Log();
    EXPECT_TRUE(Logged(log, "search", "reply"));
    EXPECT_TRUE(Logged(log, "search 0000C5", "reply"));  // the Upgrade window's search byte
    EXPECT_TRUE(Logged(log, "trailer", "K"));
}

TEST_F(ClickUpdate, LoaderWindowUpdateEndsWithSuccessfullyUpdated) {
    auto device = StartDevice({"--chip", "0x48", "--bios", "5"});
    Open("PX 2.1", "Veldra/Loader");
    Ui::TForm6& ui = Form6->ui();
    ui.Button1->click();
    QLabel* message = ui.Label1;
    EXPECT_EQ(message->text(), "Successfully updated");
    EXPECT_TRUE(message->font().bold());
    EXPECT_NEAR(CellHeight(message->font()), 32, 1);
    EXPECT_EQ(TextColour(message), QColor(0, 128, 0));
    EXPECT_EQ(message->alignment(), Qt::AlignLeft | Qt::AlignVCenter);
    EXPECT_TRUE(ui.Button1->isEnabled());
    EXPECT_FALSE(ui.Button2->isEnabled());
    EXPECT_EQ(Form6->focusWidget(), ui.Button1);
    EXPECT_FALSE(ui.Label6->text().isEmpty());
    EXPECT_EQ(ui.Label7->text(), "0x05");
    const auto log = device->Log();
    EXPECT_TRUE(Logged(log, "trailer", "K"));
}

TEST_F(ClickUpdate, LoaderWithoutADeviceSaysSo) {
    auto device = StartDevice({"--search-bytes", "none"});
    Open("PX 2.1", "Veldra/Loader");
    // Abort would end it; here the search runs all 100 tries.
    Form6->ui().Button1->click();
    EXPECT_EQ(Form6->ui().Label1->text(), "The device is not find.");
    EXPECT_FALSE(Form6->ui().Label1->font().bold());
    EXPECT_EQ(TextColour(Form6->ui().Label1), QColor(0, 0, 0));
    EXPECT_TRUE(Form6->ui().Button1->isEnabled());
}

// A device that never answers the search; the stop control is pressed while
// the search runs.
struct StopCase {
    const char* name;
    const char* tag;
    const char* group;
};

class StopDuringSearch : public ClickUpdate, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StopDuringSearch, EndsWithUserAbort) {
    auto device = StartDevice({"--search-bytes", "none"});
    QWidget* main = Open(GetParam().tag, GetParam().group);
    QPushButton* start = nullptr;
    QPushButton* stop = nullptr;
    std::function<QString()> outcome;
    if (main == Form5) {
        start = Form5->ui().Button1;
        stop = Form5->ui().Button2;
        outcome = [] { return Form5->StatusBar1().PanelText(1); };
    } else if (main == Form6) {
        start = Form6->ui().Button1;
        stop = Form6->ui().Button2;
        outcome = [] { return Form6->ui().Label1->text(); };
    } else {
        start = Form1->ui().Button1;
        stop = Form1->ui().Button2;
        outcome = [] { return Form1->ui().Label2->text(); };
    }
    int polls = 0;
    Poller press([&] {
        if (++polls < 20 || !stop->isVisible() || !stop->isEnabled()) return false;
        stop->click();
        return true;
    });
    const qint64 ms = Timed([&] { start->click(); });
    EXPECT_TRUE(press.done());
    EXPECT_LT(ms, 5000);  // 100 unanswered tries would take 10 s
    EXPECT_EQ(outcome(), " User Abort !! ");
    EXPECT_FALSE(g_stopRequest);  // the engine consumed it
    if (main == Form6) {
        EXPECT_EQ(Form6->ui().Label1->alignment(), Qt::AlignCenter);
        EXPECT_EQ(TextColour(Form6->ui().Label1), QColor(255, 0, 0));
        EXPECT_EQ(Form6->ProgressBar1().State(), ProgressState::Error);
        EXPECT_TRUE(start->isEnabled());
    } else {
        EXPECT_TRUE(start->isVisible());
        EXPECT_FALSE(stop->isVisible());
    }
}

INSTANTIATE_TEST_SUITE_P(FrontEnds, StopDuringSearch,
                         ::testing::Values(StopCase{"MainWindow", "PLAIN 1.0", "Norvane/Pelmark"},
                                           StopCase{"UpgradeWindow", "VRN 1C 01.04.03.00", "Tarnwell/Upgrade"},
                                           StopCase{"LoaderWindow", "PX 2.1", "Veldra/Loader"}),
                         [](const ::testing::TestParamInfo<StopCase>& param) { return std::string(param.param.name); });

TEST_F(ClickUpdate, UpgradeProgramsEveryImageOfAMultiImageRun) {
    // The first device takes the slot 9 image; once it reports "Program OK"
    // it is replaced by a PIC18F2580, which takes the slot 1 image.
    auto first = StartDevice({"--chip", "0x48", "--bios", "5"});
    std::unique_ptr<DeviceProcess> second;
    std::vector<std::string> firstLog;
    Open("KLM YKP 1.0", "Tarnwell/Upgrade");
    ASSERT_TRUE(g_multiImage);
    std::vector<int> positions;
    Poller swap([&] {
        if (Form5->StatusBar1().PanelText(1) != "Program OK") return false;
        firstLog = first->Log();
        first.reset();
        second = StartDevice({"--chip", "0x43", "--bios", "5"});
        return true;
    });
    Poller watch([&] {
        const int p = Form5->ProgressBar2().Position();
        if (positions.empty() || positions.back() != p) positions.push_back(p);
        return false;
    });
    Form5->ui().Button1->click();
    ASSERT_TRUE(swap.done());
    EXPECT_EQ(Form5->ProgressBar2().Max(), 3);  // two images pending, plus one
    EXPECT_EQ(Form5->ProgressBar2().Position(), 3);
    // Seen while the run went on: 0 at START, 2 after the first image (one
    // still pending); 3 is set as the last cycle returns.
    EXPECT_EQ(positions, (std::vector<int>{0, 2}));
    EXPECT_EQ(Form5->StatusBar1().PanelText(1), "Program OK");
    EXPECT_EQ(Form5->StatusBar1().PanelText(3), "Found 2580");
    EXPECT_TRUE(Logged(firstLog, "trailer", "K"));
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(Logged(second->Log(), "trailer", "K"));
    EXPECT_TRUE(Form5->ui().Button1->isVisible());
}

TEST_F(ClickUpdate, ClosingDuringAnUpdateStopsThenCloses) {
    auto device = StartDevice({"--search-bytes", "none"});
    Open("PLAIN 1.0", "Norvane/Pelmark");
    int polls = 0;
    bool refused = false;
    Poller closer([&] {
        if (++polls < 20) return false;
        refused = !Form1->close();
        return true;
    });
    Form1->ui().Button1->click();
    EXPECT_TRUE(closer.done());
    EXPECT_TRUE(refused);  // refused while the engine ran ...
    EXPECT_FALSE(Form1->isVisible());  // ... and closed once it had unwound
    EXPECT_EQ(Form1->ui().Label2->text(), " User Abort !! ");
    EXPECT_EQ(StoredSettings(), "[HKEY_LOCAL_MACHINE/Software/Norvane/Pelmark]\ncom=249\n");
    // The port the search opened was closed with the window.
    EXPECT_FALSE(g_portTable[kCom - 1].open);
}

// The port dialog over the system's own discovery: the device's entry of the
// port map is listed, can be chosen, and the update runs through it.
TEST_F(ClickUpdate, PortMapPortChosenInTheDialogIsUpdatedThrough) {
    auto device = StartDevice({"--chip", "0x48", "--bios", "5"});
    StoreSettings("[HKEY_LOCAL_MACHINE/Software/Norvane/Pelmark]\ncom=199\n");  // COM200: no device
    QWidget* main = CreateFrontEnds("PLAIN 1.0");
    main->show();
    QApplication::processEvents();

    Form1->ui().S1->trigger();
    ASSERT_TRUE(Form3->isVisible());
    QComboBox* visible = Form3->ui().ComboBox1;
    const QString suffix = "(COM" + QString::number(kCom) + ")";
    int position = -1;
    for (int k = 0; k < visible->count(); ++k)
        if (visible->itemText(k).endsWith(suffix)) position = k;
    ASSERT_GE(position, 0) << "the device's port is listed";
    visible->setCurrentIndex(position);
    Form1->ui().Label2->setText("");
    Form3->ui().Button1->click();
    EXPECT_FALSE(Form3->isVisible());
    EXPECT_EQ(g_portIndex, kCom - 1);
    EXPECT_NE(Form1->ui().Label2->text().toStdString(), "Invalid Port Com");
    EXPECT_TRUE(g_portTable[kCom - 1].open) << "OK opened the chosen port";

    Form1->ui().Button1->click();
    EXPECT_EQ(Form1->ui().Label2->text().toStdString(), " Program Ok ");
    EXPECT_EQ(Form1->StatusBar1().PanelText(0).toStdString(), "COM" + std::to_string(kCom));
    EXPECT_TRUE(Logged(device->Log(), "eeprom", "K"));
}

TEST_F(ClickUpdate, PortChosenDuringAnUpdateIsUsedAfterIt) {
    auto device = StartDevice({"--search-bytes", "none"});
    Open("PLAIN 1.0", "Norvane/Pelmark");
    Form3->SetDiscovery({[] { return DeviceSet{1}; },
                         [n = 0](DeviceSet, char* port, char* friendly) mutable {
                             if (n++ > 0) return 0;
                             std::snprintf(port, kCallerNameBuffer, "COM7");
                             std::snprintf(friendly, kCallerNameBuffer, "Other (COM7)");
                             return 1;
                         },
                         [](DeviceSet) { return 0; }});
    int polls = 0;
    std::int16_t portDuringUpdate = -5;
    Poller chooser([&] {
        ++polls;
        if (polls == 10) {
            Form1->ui().S1->trigger();
            Form3->ui().Button1->click();  // COM7, the only entry
            portDuringUpdate = g_portIndex;
        }
        if (polls < 30) return false;
        Form1->ui().Button2->click();
        return true;
    });
    Form1->ui().Button1->click();
    EXPECT_TRUE(chooser.done());
    EXPECT_EQ(portDuringUpdate, kCom - 1);  // the running search kept its port
    EXPECT_EQ(g_portIndex, 6);              // COM7 from now on
    EXPECT_FALSE(HasPendingPort());
}

}  // namespace
}  // namespace pelmark::test
