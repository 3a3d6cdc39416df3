// The reply parser on any byte stream from the line: byte by byte, and through
// the link's receive buffer in reads of any size. No access outside the
// engine's buffers (the sanitizers see to that), the device record's text is
// always terminated, and the parser's state is always one it can be in.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bootloader/engine.h"
#include "bootloader/wire.h"
#include "serial/backend.h"
#include "serial/port_link.h"

namespace {

using namespace pelmark;

void Check(bool ok) {
    if (!ok) std::abort();
}

void CheckState(const ProtocolState& p) {
    Check(p.parser == ParserState::Idle || p.parser == ParserState::RecordLength ||
          p.parser == ParserState::RecordSkip || p.parser == ParserState::RecordData);
    Check(p.identityIndex <= 3 || p.identityIndex == 255);
    Check(std::memchr(p.record.text, '\0', sizeof p.record.text) != nullptr);
    Check(p.recordIndex >= 0 && p.recordIndex <= p.recordLength);
    if (p.parser == ParserState::Idle) Check(p.recordIndex == p.recordLength || p.recordIndex == 0);
}

// One byte, with what the parser must have done with it.
void Step(std::uint8_t b) {
    ProtocolState& p = g_protocol;
    const ProtocolState before = p;
    ParseReplyByte(b);
    CheckState(p);
    if (before.parser != ParserState::Idle) {
        Check(p.acknowledged == before.acknowledged && p.refused == before.refused);
        Check(std::memcmp(&p.identity, &before.identity, sizeof p.identity) == 0);
        return;
    }
    const bool recordRange = before.identity.bios >= 8 && before.identity.bios <= 31;
    if (b == 'R' && recordRange) {
        Check(p.parser == ParserState::RecordLength);
    } else if (b == 'K') {
        Check(p.acknowledged);
        Check(std::memcmp(&p.identity, &before.pending, sizeof p.identity) == 0);
        Check(p.identityRecordSeen == before.pendingRecordSeen);
    } else {
        Check(p.parser == ParserState::Idle);
        Check(std::memcmp(&p.identity, &before.identity, sizeof p.identity) == 0);
        Check(p.identityRecordSeen == before.identityRecordSeen);
        if (b == 'N') Check(p.refused);
    }
}

// A port whose reads deliver the input in pieces of the sizes it asks for.
class ScriptedPort final : public serial::SerialBackend {
public:
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t at = 0;
    std::uint32_t piece = 1;

    serial::Handle Open(int) override { return 7; }
    bool Flush(serial::Handle) override { return true; }
    bool GetState(serial::Handle, serial::LineState*) override { return true; }
    bool SetState(serial::Handle, const serial::LineState&) override { return true; }
    bool SetupQueues(serial::Handle, std::uint32_t, std::uint32_t) override { return true; }
    bool GetTimeouts(serial::Handle, serial::Timeouts*) override { return true; }
    bool SetTimeouts(serial::Handle, const serial::Timeouts&) override { return true; }
    bool ClearDtr(serial::Handle) override { return true; }
    bool ClearRts(serial::Handle) override { return true; }
    bool Write(serial::Handle, const std::uint8_t*, std::uint32_t) override { return true; }
    bool Read(serial::Handle, std::uint8_t* buffer, std::uint32_t max, std::uint32_t* got) override {
        Check(max <= kReadChunk);
        std::size_t n = piece < max ? piece : max;
        if (n > size - at) n = size - at;
        std::memcpy(buffer, data + at, n);
        at += n;
        *got = static_cast<std::uint32_t>(n);
        return true;
    }
    void Close(serial::Handle) override {}
    serial::OpenError LastOpenError() const override { return serial::OpenError::None; }
    std::string LastOpenErrorText() const override { return {}; }
};

void NoSleep(int) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    // The first byte: the committed version the stream starts with (so that
    // "R" records are reachable at once) and the size of the reads.
    const std::uint8_t version = static_cast<std::uint8_t>(data[0] % 40);
    const std::uint32_t piece = 1u + (static_cast<std::uint32_t>(data[0]) * 37u) % 4000u;
    ++data;
    --size;

    ResetEngineState();
    g_protocol.identity.bios = version;
    for (std::size_t i = 0; i < size; ++i) Step(data[i]);

    // The same stream through the link: one read per call, at most 3072
    // bytes, into the receive buffer.
    ScriptedPort port;
    port.data = data;
    port.size = size;
    port.piece = piece;
    serial::SetBackend(&port);
    SetSleepFunction(NoSleep);
    ResetEngineState();
    g_protocol.identity.bios = version;
    g_portIndex = 0;
    g_openPortIndex = -1;
    ComPortOpen();
    std::size_t total = 0;
    while (port.at < port.size) {
        const std::uint16_t n = ParseReplies();
        Check(n <= kReadChunk && n > 0);
        total += n;
        CheckState(g_protocol);
    }
    Check(total == size);
    // A wait over what is left ends at once or after its slices, never later.
    WaitReply(20);
    ComPortCloseAll();
    serial::SetBackend(nullptr);
    SetSleepFunction(nullptr);
    return 0;
}
