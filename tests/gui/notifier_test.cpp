// The UDP notifier: when it starts, what it binds, and that it drops what
// arrives without answering.
#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QUdpSocket>

#include "frontends/upgrade_window.h"
#include "gui_test_support.h"

namespace pelmark::test {
namespace {

TEST(NotifierArgument, OnlyAFirstArgumentOfBackslashP) {
    struct Case {
        std::vector<std::string> args;
        bool wanted;
    } const cases[] = {
        {{"prog", "\\P"}, true},   {{"prog", "\\p"}, true},         {{"prog", "/P"}, false},
        {{"prog", "\\Px"}, false}, {{"prog", "\\"}, false},         {{"prog"}, false},
        {{}, false},               {{"prog", "x", "\\P"}, false},   {{"prog", "\\P", "x"}, true},
        {{"prog", "P"}, false},    {{"prog", "\\Q"}, false},
    };
    for (const Case& c : cases) {
        std::string joined;
        for (const auto& a : c.args) joined += a + ' ';
        EXPECT_EQ(WantsNotifier(c.args), c.wanted) << joined;
    }
}

using Notifier = GuiTest;

bool PortIsFree(std::uint16_t port) {
    QUdpSocket probe;
    return probe.bind(QHostAddress::AnyIPv4, port, QAbstractSocket::DontShareAddress);
}

TEST_F(Notifier, StartedNotifierHoldsPort3004) {
    ASSERT_TRUE(PortIsFree(kNotifierPort));
    SetProgramArguments({"pelmark-updater", "\\P"});
    StartUdpNotifier();
    ASSERT_NE(g_udpNotifier, nullptr);
    EXPECT_EQ(g_udpNotifier->DefaultPort(), 3004);
    EXPECT_EQ(g_udpNotifier->BufferSize(), 65536);
    EXPECT_TRUE(g_udpNotifier->Active());
    EXPECT_FALSE(PortIsFree(kNotifierPort));
    ReleaseUdpNotifier();
    EXPECT_TRUE(PortIsFree(kNotifierPort));
}

TEST_F(Notifier, WithoutTheArgumentNothingIsBound) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"pelmark-updater", "/P"},
                                                 std::vector<std::string>{"pelmark-updater", "\\Px"},
                                                 std::vector<std::string>{"pelmark-updater"},
                                                 std::vector<std::string>{"pelmark-updater", "-", "\\P"}}) {
        SetProgramArguments(args);
        auto* form = new TForm5("VRN 1C 01.04.03.00");
        EXPECT_EQ(g_udpNotifier, nullptr);
        EXPECT_TRUE(PortIsFree(kNotifierPort));
        delete form;
    }
}

TEST_F(Notifier, DatagramsAreDroppedWithoutAReply) {
    SetProgramArguments({"pelmark-updater", "\\P"});
    auto* form = new TForm5("VRN 1C 01.04.03.00");
    ASSERT_NE(g_udpNotifier, nullptr);
    QUdpSocket sender;
    ASSERT_TRUE(sender.bind(QHostAddress::LocalHost, 0));
    const QByteArray payload(1000, 'x');
    ASSERT_EQ(sender.writeDatagram(payload, QHostAddress::LocalHost, kNotifierPort), payload.size());
    QElapsedTimer timer;
    timer.start();
    while (g_udpNotifier->Dropped() < 1 && timer.elapsed() < 3000) QApplication::processEvents();
    EXPECT_EQ(g_udpNotifier->Dropped(), 1);
    // Nothing comes back, and the window shows nothing new.
    EXPECT_FALSE(sender.waitForReadyRead(200));
    EXPECT_EQ(form->StatusBar1().PanelText(1), "");
    // An outcome handed over sends nothing either.
    display_.ShowOutcome(" Program Ok ", clGreen, kOutcomeSuccess);
    EXPECT_FALSE(sender.waitForReadyRead(200));
}

}  // namespace
}  // namespace pelmark::test
