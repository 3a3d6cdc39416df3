#include "notify/udp_notifier.h"

#include <QByteArray>
#include <QHostAddress>
#include <QUdpSocket>

#include <stdexcept>

namespace pelmark {

UdpDataHandler* g_udpNotifier = nullptr;

namespace {
std::vector<std::string> g_arguments;
}

UdpDataHandler::UdpDataHandler(std::uint16_t port) : server_(new QUdpSocket(this)), defaultPort_(port) {
    connect(server_, &QUdpSocket::readyRead, this, &UdpDataHandler::DropDatagrams);
}

UdpDataHandler::~UdpDataHandler() = default;

void UdpDataHandler::Activate() {
    if (active_) return;
    // No address reuse: a port held by another program is an error here.
    if (!server_->bind(QHostAddress::AnyIPv4, defaultPort_, QAbstractSocket::DontShareAddress)) {
        throw std::runtime_error("Could not bind socket. " + server_->errorString().toStdString());
    }
    server_->setReadBufferSize(bufferSize_);
    active_ = true;
}

void UdpDataHandler::NotifyOutcome(std::uint8_t code) {
    // No peer is configured to receive outcomes: nothing leaves the process.
    (void)code;
}

void UdpDataHandler::DropDatagrams() {
    // A few datagrams per event, into one buffer kept for the run: a flood on
    // the port must not stretch the engine's wait slices. What is left
    // pending raises the next event.
    static char buffer[65536];
    for (int i = 0; i < 64 && server_->hasPendingDatagrams(); ++i) {
        server_->readDatagram(buffer, sizeof buffer);
        ++dropped_;
    }
}

void SetProgramArguments(std::vector<std::string> arguments) { g_arguments = std::move(arguments); }

const std::vector<std::string>& ProgramArguments() { return g_arguments; }

bool WantsNotifier(const std::vector<std::string>& arguments) {
    if (arguments.size() < 2) return false;
    const std::string& first = arguments[1];
    return first.size() == 2 && first[0] == '\\' && (first[1] == 'P' || first[1] == 'p');
}

void StartUdpNotifier() {
    if (!WantsNotifier(g_arguments)) return;
    g_udpNotifier = new UdpDataHandler(kNotifierPort);
    g_udpNotifier->Activate();
}

void ReleaseUdpNotifier() {
    delete g_udpNotifier;
    g_udpNotifier = nullptr;
}

}  // namespace pelmark
