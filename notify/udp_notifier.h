// The UDP notifier: started by the main updater window and the Upgrade window
// when the program's first argument is "\P" (any letter case). It holds UDP
// port 3004 open for the whole run, reads and drops whatever arrives there,
// and is handed every final outcome code, which it does not send anywhere.
#pragma once

#include <QObject>

#include <cstdint>
#include <string>
#include <vector>

class QUdpSocket;

namespace pelmark {

constexpr std::uint16_t kNotifierPort = 3004;

class UdpDataHandler final : public QObject {
public:
    explicit UdpDataHandler(std::uint16_t port);
    ~UdpDataHandler() override;

    // Binds the port on the local IPv4 addresses and starts dropping what
    // arrives. Throws std::runtime_error when the port cannot be bound.
    void Activate();

    // The final outcome of an operation (0 failure, 1 success). Sends
    // nothing and keeps nothing.
    void NotifyOutcome(std::uint8_t code);

    bool Active() const { return active_; }
    std::uint16_t DefaultPort() const { return defaultPort_; }
    int BufferSize() const { return bufferSize_; }
    // Datagrams read and dropped so far.
    long long Dropped() const { return dropped_; }

private:
    void DropDatagrams();

    QUdpSocket* server_ = nullptr;
    std::uint16_t defaultPort_ = 0;
    int bufferSize_ = 65536;
    bool active_ = false;
    long long dropped_ = 0;
};

// The notifier, or nullptr when none was started.
extern UdpDataHandler* g_udpNotifier;

// The program's argument vector as it was given (before the toolkit took its
// own options out of it).
void SetProgramArguments(std::vector<std::string> arguments);
const std::vector<std::string>& ProgramArguments();

// True when the first argument after the program name is exactly "\P" or
// "\p".
bool WantsNotifier(const std::vector<std::string>& arguments);

// Creates, stores and activates the notifier when the program's arguments ask
// for it. An activation failure propagates (the reference is already set).
void StartUdpNotifier();

// Frees the notifier and empties the reference (program end).
void ReleaseUdpNotifier();

}  // namespace pelmark
