// The port dialog over a made-up set of ports: the two parallel lists, the
// mapping between list positions and port indices, OK and Cancel, and OK
// while an update runs.
#include <QComboBox>

#include <memory>
#include <utility>

#include "frontends/port_dialog.h"
#include "frontends/updater_window.h"
#include "gui_test_support.h"
#include "ui_port_dialog.h"

namespace pelmark::test {
namespace {

using Ports = std::vector<std::pair<std::string, std::string>>;  // port name, friendly name

struct FakeDiscovery {
    Ports ports;
    int begun = 0;
    int ended = 0;
    std::size_t next = 0;
};

class PortDialog : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        dialog_ = new TForm3();
        dialog_->SetPortOpener([this] { ++opened_; });
    }

    void Offer(Ports ports) {
        fake_ = std::make_shared<FakeDiscovery>();
        fake_->ports = std::move(ports);
        auto fake = fake_;
        dialog_->SetDiscovery({[fake] {
                                   ++fake->begun;
                                   fake->next = 0;
                                   return DeviceSet{7};
                               },
                               [fake](DeviceSet set, char* port, char* friendly) {
                                   EXPECT_EQ(set, 7);
                                   if (fake->next >= fake->ports.size()) return 0;
                                   std::snprintf(port, kCallerNameBuffer, "%s", fake->ports[fake->next].first.c_str());
                                   std::snprintf(friendly, kCallerNameBuffer, "%s",
                                                 fake->ports[fake->next].second.c_str());
                                   ++fake->next;
                                   return 1;
                               },
                               [fake](DeviceSet) {
                                   ++fake->ended;
                                   return 0;
                               }});
    }

    QComboBox* visible() { return dialog_->ui().ComboBox1; }
    QComboBox* hidden() { return dialog_->ui().ComboBox2; }

    TForm3* dialog_ = nullptr;
    std::shared_ptr<FakeDiscovery> fake_;
    int opened_ = 0;
};

const Ports kThree = {{"COM1", "Communications Port (COM1)"},
                      {"COM12", "USB Serial Port (COM12)"},
                      {"COM5", "Prolific (COM5)"}};

TEST_F(PortDialog, ListsThePortsInDiscoveryOrderFriendlyNamesVisible) {
    Offer(kThree);
    visible()->addItem("stale");
    dialog_->ShowDialog();
    EXPECT_EQ(fake_->begun, 1);
    EXPECT_EQ(fake_->ended, 1);
    ASSERT_EQ(visible()->count(), 3);
    ASSERT_EQ(hidden()->count(), 3);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(visible()->itemText(k).toStdString(), kThree[k].second);
        EXPECT_EQ(hidden()->itemText(k).toStdString(), kThree[k].first);
    }
    EXPECT_TRUE(visible()->isVisible());
    EXPECT_FALSE(hidden()->isVisible());
    EXPECT_FALSE(dialog_->isModal());
    EXPECT_EQ(dialog_->windowTitle(), "Setup");
    EXPECT_EQ(dialog_->size(), QSize(456, 94));
}

TEST_F(PortDialog, OpensWithTheCurrentPortSelected) {
    Offer(kThree);
    g_portIndex = 4;  // COM5, third entry
    dialog_->ShowDialog();
    EXPECT_EQ(visible()->currentIndex(), 2);
    dialog_->hide();
    g_portIndex = 20;  // not present: the first entry
    dialog_->ShowDialog();
    EXPECT_EQ(visible()->currentIndex(), 0);
}

TEST_F(PortDialog, PortIndexToListPosition) {
    Offer({{"COM3", "a"}, {"com5", "b"}, {"COM5", "c"}, {"COM12", "d"}});
    dialog_->FillPortLists();
    struct Case {
        std::int16_t port;
        std::int16_t position;
    } const cases[] = {{2, 0}, {4, 1}, {11, 3}, {0, 0}, {-1, 0}, {99, 0}};
    for (const Case& c : cases) EXPECT_EQ(dialog_->PortIndexToListPos(c.port), c.position) << c.port;
}

TEST_F(PortDialog, ListPositionToPortIndex) {
    Offer({{"COM3", "a"}, {"com5", "b"}, {"Com7", "c"}, {"COM12", "d"}, {"CCOMM9", "e"}, {"COM", "f"},
           {"X1", "g"}, {"COM1OM2", "h"}, {"COM70000", "i"}});
    dialog_->FillPortLists();
    struct Case {
        std::int16_t position;
        std::int16_t port;
    } const cases[] = {
        {0, 2}, {1, -1}, {2, -1}, {3, 11}, {4, 8}, {5, 0}, {6, -1}, {7, 0}, {8, 4463}, {-1, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(dialog_->ListPosToPortIndex(c.position), c.port) << c.position;
}

TEST_F(PortDialog, OkSwitchesToTheChosenPortOnce) {
    Offer(kThree);
    g_portIndex = 0;
    dialog_->ShowDialog();
    visible()->setCurrentIndex(1);  // COM12
    dialog_->ui().Button1->click();
    EXPECT_EQ(g_portIndex, 11);
    EXPECT_EQ(opened_, 1);
    EXPECT_FALSE(dialog_->isVisible());
}

TEST_F(PortDialog, OkOnTheCurrentPortCallsNothing) {
    Offer(kThree);
    g_portIndex = 4;
    dialog_->ShowDialog();
    dialog_->ui().Button1->click();
    EXPECT_EQ(g_portIndex, 4);
    EXPECT_EQ(opened_, 0);
}

TEST_F(PortDialog, OkOnALowerCaseNameGivesNoPort) {
    Offer({{"com5", "b"}});
    g_portIndex = 4;  // preselects com5 (names compare without case)
    dialog_->ShowDialog();
    EXPECT_EQ(visible()->currentIndex(), 0);
    dialog_->ui().Button1->click();
    EXPECT_EQ(g_portIndex, -1);
    EXPECT_EQ(opened_, 1);
}

TEST_F(PortDialog, OkOnAnEmptyListSelectsCom1) {
    Offer({});
    g_portIndex = 6;
    dialog_->ShowDialog();
    EXPECT_EQ(visible()->currentIndex(), -1);
    dialog_->ui().Button1->click();
    EXPECT_EQ(g_portIndex, 0);
    EXPECT_EQ(opened_, 1);
}

TEST_F(PortDialog, CancelRestoresTheSelectionAndKeepsThePort) {
    Offer(kThree);
    g_portIndex = 4;
    dialog_->ShowDialog();
    visible()->setCurrentIndex(0);
    dialog_->ui().Button2->click();
    EXPECT_EQ(visible()->currentIndex(), 2);
    EXPECT_EQ(g_portIndex, 4);
    EXPECT_EQ(opened_, 0);
    EXPECT_FALSE(dialog_->isVisible());
}

TEST_F(PortDialog, OkDuringAnUpdateKeepsThePortUntilItEnds) {
    Offer(kThree);
    auto* form = new TForm1("PLAIN 1.0");
    g_portIndex = 0;
    {
        BusyScope busy;
        dialog_->ShowDialog();
        EXPECT_TRUE(dialog_->ui().Label2->isVisibleTo(dialog_));  // the note
        visible()->setCurrentIndex(2);  // COM5
        dialog_->ui().Button1->click();
        // The running engine keeps COM1; the port panel names the next port.
        EXPECT_EQ(g_portIndex, 0);
        EXPECT_EQ(opened_, 0);
        ASSERT_TRUE(HasPendingPort());
        EXPECT_EQ(PendingPort(), 4);
        EXPECT_EQ(form->StatusBar1().PanelText(0), "COM5");
        EXPECT_FALSE(form->StatusBar1().Panel(0)->toolTip().isEmpty());
        // Reopened meanwhile, the dialog shows the choice.
        dialog_->ShowDialog();
        EXPECT_EQ(visible()->currentIndex(), 2);
        dialog_->hide();
    }
    dialog_->ShowDialog();
    EXPECT_FALSE(dialog_->ui().Label2->isVisibleTo(dialog_));
    dialog_->hide();
}

}  // namespace
}  // namespace pelmark::test
