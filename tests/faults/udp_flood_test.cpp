// A flood of datagrams to the UDP notifier's port 3004 during an update (from
// this machine, over loopback, bounded in rate and count): the main updater window,
// started with "\P", ends the same way, and takes no longer than under the
// same flood sent to a port that nobody reads; what remains is the load the
// flood puts on the machine, not the notifier's work.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <QElapsedTimer>
#include <QPushButton>

#include <algorithm>
#include <stdexcept>
#include <atomic>
#include <thread>
#include <vector>

#include "fault_support.h"
#include "frontends/updater_window.h"
#include "gui/gui_test_support.h"
#include "ui_updater_window.h"

namespace pelmark::test {
namespace {

constexpr int kCom = 243;
constexpr long kMaxDatagrams = 1'000'000;  // the bound of one flood
constexpr long kRate = 200'000;            // datagrams a second (some 170 Mbit/s as Ethernet frames)

// Sends small datagrams to 127.0.0.1:<port> until stopped or the bound is
// reached.
class Flood {
public:
    explicit Flood(std::uint16_t port) : port_(port), thread_([this] { Run(); }) {}
    ~Flood() { Stop(); }
    long Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        return sent_;
    }

private:
    void Run() {
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return;
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port_);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        char payload[64] = "not for the updater";
        // Bursts every millisecond, kRate datagrams a second in all, so that
        // the flood is the same in every run and leaves the machine room.
        const auto start = Clock::now();
        while (!stop_ && sent_ < kMaxDatagrams) {
            const long elapsedUs = static_cast<long>(
                std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count());
            const long due = std::min(kMaxDatagrams, elapsedUs / 1000 * kRate / 1000 + kRate / 1000);
            while (sent_ < due && !stop_) {
                sendto(fd, payload, sizeof payload, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
                ++sent_;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        close(fd);
    }

    const std::uint16_t port_;
    std::atomic<bool> stop_{false};
    std::atomic<long> sent_{0};
    std::thread thread_;
};

// A UDP port on loopback that is bound and never read: the kernel queues
// what arrives until the socket's buffer is full and drops the rest.
class DeafPort {
public:
    DeafPort() {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof at;
        if (fd_ < 0 || bind(fd_, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&at), &length) != 0)
            throw std::runtime_error("cannot bind a UDP port");
        port_ = ntohs(at.sin_port);
    }
    ~DeafPort() { close(fd_); }
    std::uint16_t port() const { return port_; }

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

long Median(std::vector<long> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

class UdpFlood : public GuiTest {};

TEST_F(UdpFlood, ChangesNeitherTheOutcomeNorTheTimeOfAnUpdate) {
    // Chip 0x48 with the small test images: some 330 frames, about a second.
    FaultyDevice device(kCom, {"--chip", "0x48", "--bios", "5", "--board", "5"});
    SetProgramArguments({"pelmark-updater", "\\P"});
    StoreSettings("[HKEY_LOCAL_MACHINE/Software/Norvane/Pelmark]\ncom=" + std::to_string(kCom - 1) + "\n");
    QWidget* main = CreateFrontEnds("PLAIN 1.0");
    main->show();
    QApplication::processEvents();
    ASSERT_NE(Form1, nullptr);
    ASSERT_NE(g_udpNotifier, nullptr);
    ASSERT_TRUE(g_udpNotifier->Active());

    auto update = [&]() -> long {
        QElapsedTimer t;
        t.start();
        Form1->ui().Button1->click();
        const long ms = static_cast<long>(t.elapsed());
        EXPECT_EQ(Form1->ui().Label2->text().toStdString(), " Program Ok ");
        return ms;
    };

    // Rounds of three updates: quiet, under a flood of a port nobody reads,
    // under the same flood of the notifier's port.
    DeafPort deaf;
    std::vector<long> quiet, elsewhere, flooded;
    long sent = 0;
    for (int round = 0; round < 3; ++round) {
        quiet.push_back(update());
        {
            Flood flood(deaf.port());
            std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the flood is on before the click
            elsewhere.push_back(update());
            flood.Stop();
        }
        const long droppedBefore = g_udpNotifier->Dropped();
        Flood flood(kNotifierPort);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        flooded.push_back(update());
        sent += flood.Stop();
        EXPECT_GT(g_udpNotifier->Dropped() - droppedBefore, 1000) << "the flood reached the notifier";
    }
    RecordProperty("quiet_ms", static_cast<int>(Median(quiet)));
    RecordProperty("flood_elsewhere_ms", static_cast<int>(Median(elsewhere)));
    RecordProperty("flood_on_3004_ms", static_cast<int>(Median(flooded)));
    RecordProperty("datagrams_sent_to_3004", static_cast<int>(sent));
    RecordProperty("datagrams_read_and_dropped", static_cast<int>(g_udpNotifier->Dropped()));
    std::printf("update (medians of 3): %ld ms quiet, %ld ms under a flood of another port, %ld ms under a flood "
                "of port 3004; %ld datagrams sent to 3004, %lld read and dropped\n",
                Median(quiet), Median(elsewhere), Median(flooded), sent, g_udpNotifier->Dropped());
    // A margin for a busy machine, small enough to see the notifier spend
    // whole wait slices reading datagrams.
    EXPECT_LE(Median(flooded), Median(elsewhere) * 115 / 100 + 150) << "the notifier's work slowed the update down";
}

}  // namespace
}  // namespace pelmark::test
