#include "devsim/device_model.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace pelmark::devsim {

namespace {

constexpr std::uint8_t kSearchC2 = 0xC2;
constexpr std::uint8_t kSearchC5 = 0xC5;
constexpr std::uint8_t kSearchC6 = 0xC6;
constexpr std::uint8_t kEntryByte = 0xCC;
constexpr std::uint8_t kCommand4 = 0x04;
constexpr std::uint8_t kEepromLead = 0x40;
constexpr std::size_t kUnlockFrameBytes = 19;
constexpr std::size_t kEepromFrameBytes = 6;
constexpr std::size_t kRecordLength = 28;
constexpr std::size_t kRecordTextBytes = 24;

std::uint8_t Sum8(const std::vector<std::uint8_t>& bytes) {
    unsigned sum = 0;
    for (std::uint8_t b : bytes) sum += b;
    return static_cast<std::uint8_t>(sum & 0xFFu);
}

// Command frames carry a plain 16-bit sum of everything before it, high first.
bool CommandSumMatches(const std::vector<std::uint8_t>& frame) {
    const std::size_t n = frame.size();
    unsigned sum = 0;
    for (std::size_t i = 0; i + 2 < n; ++i) sum += frame[i];
    const unsigned sent = (static_cast<unsigned>(frame[n - 2]) << 8) | frame[n - 1];
    return (sum & 0xFFFFu) == sent;
}

}  // namespace

ChipLayout LayoutFor(std::uint8_t chip, std::uint8_t bios) {
    ChipLayout layout;
    const bool newBootloader = bios >= 5;
    auto pic18 = [&](std::uint32_t oldLimit, std::uint32_t newLimit) {
        layout.known = true;
        layout.addressLimit = newBootloader ? newLimit : oldLimit;
    };
    auto pic24 = [&](std::uint32_t limit) {
        layout.known = true;
        layout.family = Family::Pic24;
        layout.rowSize = 256;
        layout.addressUnit = 2;
        layout.addressLimit = limit;
        layout.programBytes = 2 * (limit + 128);
    };
    switch (chip) {
        case 0x42:
        case 0x43:
        case 0x47: pic18(0x7EC0, 0x7E40); break;
        case 0x44:
        case 0x45: pic18(0x3EC0, 0x3E40); break;
        case 0x46: pic18(0x1EC0, 0x1E40); break;
        case 0x48: pic18(0xFEC0, 0xFE40); break;
        case 0xC7: pic18(0x3BC0, 0x3BC0); break;
        case 0xFC:
        case 0xFE: pic24(0xA780); break;
        case 0xFD: pic24(0x15380); break;
        default: break;  // unknown: answers like a PIC18, has no trailer row
    }
    return layout;
}

const char* KindName(FrameKind kind) {
    switch (kind) {
        case FrameKind::Search: return "search";
        case FrameKind::Entry: return "entry";
        case FrameKind::Unlock: return "unlock";
        case FrameKind::Command4: return "command4";
        case FrameKind::Program: return "program";
        case FrameKind::Trailer: return "trailer";
        case FrameKind::Eeprom: return "eeprom";
        case FrameKind::Junk: return "junk";
        case FrameKind::Partial: return "partial";
    }
    return "?";
}

const char* VerdictName(Verdict verdict) {
    switch (verdict) {
        case Verdict::Reply: return "reply";
        case Verdict::Accept: return "K";
        case Verdict::Refuse: return "N";
        case Verdict::Ok: return "ok";
        case Verdict::Bad: return "bad";
        case Verdict::Ignored: return "ignored";
        case Verdict::Dropped: return "dropped";
        case Verdict::Silent: return "silent";
    }
    return "?";
}

std::string FormatEvent(const FrameEvent& event) {
    char head[64];
    std::snprintf(head, sizeof head, "%s %06X %u %s", KindName(event.kind),
                  static_cast<unsigned>(event.address), static_cast<unsigned>(event.length),
                  VerdictName(event.verdict));
    std::string line = head;
    if (!event.note.empty()) {
        line += ' ';
        line += event.note;
    }
    return line;
}

DeviceModel::DeviceModel(const DeviceConfig& config)
    : config_(config), layout_(LayoutFor(config.chip, config.bios)) {
    maxAddressHigh_ =
        static_cast<std::uint8_t>(((layout_.programBytes / layout_.addressUnit) - 1) >> 16);
    program_.assign(layout_.programBytes, 0xFF);
    programWritten_.assign(layout_.programBytes, false);
    eeprom_.assign(kEepromBytes, 0xFF);
    eepromWritten_.assign(kEepromBytes, false);
    frame_.reserve(512);
}

std::vector<std::uint8_t> DeviceModel::Feed(const std::uint8_t* data, std::size_t count) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < count; ++i) {
        if (frame_.empty())
            ByteAtBoundary(data[i], out);
        else
            ByteInFrame(data[i], out);
    }
    return out;
}

bool DeviceModel::DropPartialFrame() {
    if (frame_.empty()) return false;
    const std::uint32_t address =
        (pending_ == Pending::Data && frame_.size() >= 3) ? FrameAddress() : frame_[0];
    Log(FrameKind::Partial, address, static_cast<std::uint32_t>(frame_.size()), Verdict::Dropped);
    EndFrame();
    return true;
}

std::vector<FrameEvent> DeviceModel::TakeEvents() {
    std::vector<FrameEvent> taken;
    taken.swap(events_);
    return taken;
}

std::uint8_t DeviceModel::ProgramByte(std::uint32_t byteAddress) const {
    return byteAddress < program_.size() ? program_[byteAddress] : 0xFF;
}

bool DeviceModel::ProgramWritten(std::uint32_t byteAddress) const {
    return byteAddress < programWritten_.size() && programWritten_[byteAddress];
}

std::uint8_t DeviceModel::EepromByte(std::size_t index) const {
    return index < eeprom_.size() ? eeprom_[index] : 0xFF;
}

bool DeviceModel::EepromWritten(std::size_t index) const {
    return index < eepromWritten_.size() && eepromWritten_[index];
}

WrittenMemory DeviceModel::Written() const {
    WrittenMemory memory;
    for (std::uint32_t a = 0; a < program_.size(); ++a)
        if (programWritten_[a]) memory.emplace_hint(memory.end(), a, program_[a]);
    for (std::uint32_t i = 0; i < eeprom_.size(); ++i)
        if (eepromWritten_[i]) memory.emplace_hint(memory.end(), kEepromHexBase + i, eeprom_[i]);
    return memory;
}

void DeviceModel::ByteAtBoundary(std::uint8_t b, std::vector<std::uint8_t>& out) {
    if (b == kSearchC2 || b == kSearchC5 || b == kSearchC6) {
        // A search starts a new update: EEPROM indexes count from page 0 again.
        ResetEepromPaging();
        const bool answers = (b == kSearchC2 && config_.answerC2) ||
                             (b == kSearchC5 && config_.answerC5) ||
                             (b == kSearchC6 && config_.answerC6);
        if (answers && config_.refuseSearch && !faultsEnded_) {
            Reply(out, {'N'});
            Log(FrameKind::Search, b, 1, Verdict::Refuse, "injected");
        } else if (answers) {
            SendIdentity(b, out);
        } else {
            Log(FrameKind::Search, b, 1, Verdict::Ignored);
        }
        return;
    }
    if (b == kEntryByte) {
        const bool late = config_.lateEntryMs != 0 && !faultsEnded_;
        if (late) replyDelay_ = std::max(replyDelay_, config_.lateEntryMs);
        Reply(out, {'K'});
        Log(FrameKind::Entry, b, 1, Verdict::Accept, late ? "late" : "");
        return;
    }
    if (b == kCommand4) {
        pending_ = Pending::Command;
    } else if (b == kEepromLead && layout_.family == Family::Pic18) {
        pending_ = Pending::Eeprom;
        expected_ = kEepromFrameBytes;
    } else if (b <= maxAddressHigh_) {
        pending_ = Pending::Data;  // or the unlock frame, told apart at byte 3
    } else {
        Log(FrameKind::Junk, b, 1, Verdict::Ignored);
        return;
    }
    frame_.push_back(b);
}

void DeviceModel::ByteInFrame(std::uint8_t b, std::vector<std::uint8_t>& out) {
    frame_.push_back(b);
    const std::size_t n = frame_.size();
    switch (pending_) {
        case Pending::Command:
            if (n == 2) expected_ = 4u + frame_[1];  // code, length, payload, sum high, sum low
            if (n == expected_) FinishCommand4();
            break;
        case Pending::Unlock:
            if (n == expected_) FinishUnlock();
            break;
        case Pending::Eeprom:
            if (n == expected_) FinishEeprom(out);
            break;
        case Pending::Data:
            // Rows start on a row boundary, so no data frame begins 00 0F 37.
            if (n == 3 && frame_[0] == 0x00 && frame_[1] == 0x0F && frame_[2] == kAccessString[0]) {
                pending_ = Pending::Unlock;
                expected_ = kUnlockFrameBytes;
                break;
            }
            if (n == DataHeaderLength()) expected_ = n + DeclaredLength() + 1;
            if (n == expected_) FinishData(out);
            break;
        case Pending::None:
            break;
    }
}

void DeviceModel::FinishCommand4() {
    const std::uint32_t payload = frame_[1];
    Verdict verdict = Verdict::Ok;
    std::string note;
    if (!CommandSumMatches(frame_)) {
        verdict = Verdict::Bad;
        note = "sum";
    } else if (payload != 0) {
        verdict = Verdict::Bad;
        note = "payload";
    }
    Log(FrameKind::Command4, frame_[0], payload, verdict, note);
    EndFrame();
}

void DeviceModel::FinishUnlock() {
    Verdict verdict = Verdict::Ok;
    std::string note;
    if (std::memcmp(frame_.data() + 2, kAccessString, 15) != 0) {
        verdict = Verdict::Bad;
        note = "access";
    } else if (!CommandSumMatches(frame_)) {
        verdict = Verdict::Bad;
        note = "sum";
    }
    Log(FrameKind::Unlock, 0, 15, verdict, note);
    EndFrame();
}

void DeviceModel::FinishEeprom(std::vector<std::uint8_t>& out) {
    const std::uint8_t indexByte = frame_[1];
    const std::uint8_t value = frame_[2];
    // The index byte is only the low 8 bits: a drop below the previous
    // accepted index means the next 256-byte page has begun.
    std::uint32_t page = eepromPage_;
    if (lastEepromIndex_ && indexByte < *lastEepromIndex_) ++page;
    const std::uint32_t index = page * 256u + indexByte;

    const Injection injection = CountDataFrame();
    if (injection == Injection::Silent || injection == Injection::Vanish) {
        Log(FrameKind::Eeprom, index, 1, Verdict::Silent, injection == Injection::Vanish ? "vanished" : "");
        EndFrame();
        return;
    }
    std::string refusal;
    if (injection == Injection::Refuse)
        refusal = "injected";
    else if (Sum8(frame_) != 0)
        refusal = "checksum";
    else if (frame_[3] != 0x01 || frame_[4] != 0x00)
        refusal = "malformed";
    else if (index >= kEepromBytes)
        refusal = "range";

    if (refusal.empty()) {
        eepromPage_ = page;
        lastEepromIndex_ = indexByte;
        eeprom_[index] = value;
        eepromWritten_[index] = true;
        ++eepromFrames_;
        Reply(out, {'K'});
        Log(FrameKind::Eeprom, index, 1, Verdict::Accept);
    } else {
        Reply(out, {'N'});
        Log(FrameKind::Eeprom, index, 1, Verdict::Refuse, refusal);
    }
    EndFrame();
}

void DeviceModel::FinishData(std::vector<std::uint8_t>& out) {
    const std::uint32_t address = FrameAddress();
    const std::uint32_t length = DeclaredLength();
    const std::size_t header = DataHeaderLength();
    const FrameKind kind = (layout_.addressLimit != 0 && address == layout_.addressLimit)
                               ? FrameKind::Trailer
                               : FrameKind::Program;
    // Program rows come before the EEPROM of an update.
    ResetEepromPaging();

    const Injection injection = CountDataFrame();
    if (injection == Injection::Silent || injection == Injection::Vanish) {
        Log(kind, address, length, Verdict::Silent, injection == Injection::Vanish ? "vanished" : "");
        EndFrame();
        return;
    }
    const std::uint64_t byteAddress = static_cast<std::uint64_t>(address) * layout_.addressUnit;
    std::string refusal;
    if (injection == Injection::Refuse)
        refusal = "injected";
    else if (length > layout_.rowSize)
        refusal = "oversized";
    else if (Sum8(frame_) != 0)
        refusal = "checksum";
    else if (byteAddress + length > program_.size())
        refusal = "range";

    if (refusal.empty()) {
        const std::uint8_t mask =
            config_.plain ? std::uint8_t{0} : pelmark::MaskWithBase(config_.maskBase, address);
        for (std::uint32_t i = 0; i < length; ++i) {
            const std::size_t at = static_cast<std::size_t>(byteAddress) + i;
            program_[at] = static_cast<std::uint8_t>(frame_[header + i] ^ mask);
            programWritten_[at] = true;
        }
        ++acceptedData_;
        if (kind == FrameKind::Trailer) ++trailerRows_;
        Reply(out, {'K'});
        Log(kind, address, length, Verdict::Accept);
    } else {
        Reply(out, {'N'});
        Log(kind, address, length, Verdict::Refuse, refusal);
    }
    EndFrame();
}

void DeviceModel::SendIdentity(std::uint8_t searchByte, std::vector<std::uint8_t>& out) {
    std::string note;
    std::vector<std::uint8_t> reply;
    if (config_.legacy) {
        reply = {config_.chip, std::uint8_t{'K'}};
        note = "legacy";
    } else {
        reply = {std::uint8_t{'V'}, config_.bios, config_.chip, config_.board, config_.preparation,
                 std::uint8_t{'K'}};
        note = "V";
    }
    if (config_.hasRecord && config_.bios >= 8 && config_.bios <= 31) {
        // Record data by position: text, skip start and length (low bytes
        // first), then filler.
        std::uint8_t data[kRecordLength] = {};
        std::memcpy(data, config_.recordText.data(),
                    std::min(config_.recordText.size(), kRecordTextBytes));
        data[24] = static_cast<std::uint8_t>(config_.skipStart & 0xFFu);
        data[25] = static_cast<std::uint8_t>(config_.skipStart >> 8);
        data[26] = static_cast<std::uint8_t>(config_.skipLength & 0xFFu);
        data[27] = static_cast<std::uint8_t>(config_.skipLength >> 8);
        const bool faulty = !faultsEnded_;
        const std::uint8_t length = faulty ? config_.recordLength : static_cast<std::uint8_t>(kRecordLength);
        const std::uint32_t sent = faulty ? config_.recordBytes.value_or(length) : length;
        reply.push_back('R');
        reply.push_back(length);
        reply.push_back(0);  // the byte after the length carries nothing
        for (std::uint32_t i = 0; i < sent; ++i) reply.push_back(i < kRecordLength ? data[i] : 0);
        if (sent >= length) {
            reply.push_back('K');
            note += "+R";
        } else {
            note += "+R(cut)";
        }
    }
    Reply(out, reply);
    Log(FrameKind::Search, searchByte, 1, Verdict::Reply, note);
}

void DeviceModel::Reply(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& bytes) {
    const bool stray = strayNow_ && !faultsEnded_;
    strayNow_ = false;
    if (stray) out.insert(out.end(), config_.strayBefore.begin(), config_.strayBefore.end());
    if (!faultsEnded_) AppendNoise(out, config_.garbageBefore);
    out.insert(out.end(), bytes.begin(), bytes.end());
    if (!faultsEnded_) AppendNoise(out, config_.garbageAfter);
    if (stray) {
        std::vector<std::uint8_t>& to = config_.strayMs == 0 ? out : strayHeld_;
        to.insert(to.end(), config_.strayAfter.begin(), config_.strayAfter.end());
    }
}

std::uint32_t DeviceModel::TakeStray(std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    bytes.swap(strayHeld_);
    return config_.strayMs;
}

// Line noise from a fixed sequence (the same run gives the same bytes),
// leaving out the letters that a reader takes as replies.
void DeviceModel::AppendNoise(std::vector<std::uint8_t>& out, std::uint32_t count) {
    for (std::uint32_t i = 0; i < count;) {
        noiseState_ ^= noiseState_ << 13;
        noiseState_ ^= noiseState_ >> 17;
        noiseState_ ^= noiseState_ << 5;
        const auto b = static_cast<std::uint8_t>(noiseState_ >> 24);
        if (b == 'K' || b == 'N' || b == 'R') continue;
        out.push_back(b);
        ++i;
    }
}

std::uint32_t DeviceModel::TakeReplyDelay() {
    const std::uint32_t delay = replyDelay_;
    replyDelay_ = 0;
    return delay;
}

void DeviceModel::Log(FrameKind kind, std::uint32_t address, std::uint32_t length,
                      Verdict verdict, std::string note) {
    events_.push_back({kind, address, length, verdict, std::move(note)});
}

std::size_t DeviceModel::DataHeaderLength() const {
    return layout_.family == Family::Pic24 ? 5 : 4;
}

std::uint32_t DeviceModel::DeclaredLength() const {
    if (layout_.family == Family::Pic24)
        return (static_cast<std::uint32_t>(frame_[3]) << 8) | frame_[4];
    return frame_[3];
}

std::uint32_t DeviceModel::FrameAddress() const {
    return (static_cast<std::uint32_t>(frame_[0]) << 16) |
           (static_cast<std::uint32_t>(frame_[1]) << 8) | frame_[2];
}

void DeviceModel::EndFrame() {
    strayNow_ = false;
    frame_.clear();
    pending_ = Pending::None;
    expected_ = 0;
}

DeviceModel::Injection DeviceModel::CountDataFrame() {
    const std::uint32_t n = ++dataFramesSeen_;
    strayNow_ = false;
    if (faultsEnded_) return Injection::None;
    // Frames first..first+count-1 (count 0: every frame from first on).
    auto within = [n](std::uint32_t first, std::uint32_t count) {
        return first != 0 && n >= first && (count == 0 || n - first < count);
    };
    if (within(config_.vanishFrame, 0)) {
        vanished_ = true;
        return Injection::Vanish;
    }
    if (within(config_.silentFrame, config_.silentCount)) return Injection::Silent;
    if (within(config_.slowFrame, config_.slowCount)) replyDelay_ = config_.slowMs;
    strayNow_ = config_.strayCount != 0 && within(config_.strayFrame, config_.strayCount);
    if (config_.nakCount != 0 && within(config_.nakFrame, config_.nakCount)) return Injection::Refuse;
    return Injection::None;
}

void DeviceModel::ResetEepromPaging() {
    eepromPage_ = 0;
    lastEepromIndex_.reset();
}

}  // namespace pelmark::devsim
