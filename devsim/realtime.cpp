#include "devsim/realtime.h"

#include <algorithm>

namespace pelmark::devsim {

namespace {

RealtimeLine::Clock::duration Span(double seconds) {
    return std::chrono::duration_cast<RealtimeLine::Clock::duration>(std::chrono::duration<double>(seconds));
}

}  // namespace

double DefaultPic18RowMs(std::uint8_t chip) {
    return (chip == 0x47 || chip == 0x48) ? kK80RowMs : kPic18RowMs;
}

RealtimeLine::RealtimeLine(const DeviceTiming& timing, const DeviceConfig& config)
    : timing_(timing),
      layout_(LayoutFor(config.chip, config.bios)),
      byteSeconds_(static_cast<double>(timing.bitsPerByte) / static_cast<double>(timing.baud)),
      pic18RowSeconds_(timing.pic18RowMs.value_or(DefaultPic18RowMs(config.chip)) / 1000.0) {}

double RealtimeLine::DeviceSeconds(const FrameEvent& event) {
    switch (event.kind) {
        case FrameKind::Search:
            // A new update: every page is erased again as its first row comes.
            erasedPages_.clear();
            return 0;
        case FrameKind::Program:
        case FrameKind::Trailer: {
            if (event.verdict != Verdict::Accept) return 0;
            if (layout_.family == Family::Pic18) return pic18RowSeconds_;
            double ms = timing_.pic24RowMs;
            const std::uint32_t pageUnits = kPic24PageRows * (layout_.rowSize / layout_.addressUnit);
            if (erasedPages_.insert(event.address / pageUnits).second) ms += timing_.pic24PageEraseMs;
            return ms / 1000.0;
        }
        case FrameKind::Eeprom:
            return event.verdict == Verdict::Accept ? timing_.eepromByteMs / 1000.0 : 0;
        default:
            return 0;
    }
}

std::uint32_t RealtimeLine::ReceivedBytes(const FrameEvent& event) const {
    switch (event.kind) {
        case FrameKind::Unlock:
            return 4 + 15;
        case FrameKind::Command4:
            return 4 + event.length;
        case FrameKind::Program:
        case FrameKind::Trailer:
            return (layout_.family == Family::Pic24 ? 5u : 4u) + event.length + 1;
        case FrameKind::Eeprom:
            return 6;
        case FrameKind::Partial:
            return event.length;
        default:  // search, entry, junk: one byte
            return 1;
    }
}

std::vector<RealtimeLine::Reply> RealtimeLine::Receive(DeviceModel& model, const std::uint8_t* data,
                                                       std::size_t count, Clock::time_point now,
                                                       std::vector<FrameEvent>& events) {
    std::vector<Reply> replies;
    if (!origin_) origin_ = now;
    const auto since = [this](Clock::time_point t) { return std::chrono::duration<double>(t - *origin_).count(); };
    const Clock::duration byteTime = Span(byteSeconds_);
    Clock::time_point arrived = std::max(now, rxFree_);
    for (std::size_t i = 0; i < count; ++i) {
        arrived += byteTime;
        if (timing_.busyAfterAck && Lost(arrived, byteTime)) continue;
        std::vector<std::uint8_t> reply = model.Feed(data + i, 1);
        double busy = 0;
        for (FrameEvent& event : model.TakeEvents()) {
            const double seconds = DeviceSeconds(event);
            busy += seconds;
            exchanges_.push_back({event.kind, ReceivedBytes(event), 0, seconds, since(now), 0});
            events.push_back(std::move(event));
        }
        // A frame the device was told to answer late (fault injection).
        const double late = static_cast<double>(model.TakeReplyDelay()) / 1000.0;
        if (reply.empty()) continue;
        const double before = timing_.busyAfterAck ? 0.0 : busy;
        const Clock::time_point start = std::max(arrived + Span(before + late), txFree_);
        txFree_ = start + byteTime * static_cast<Clock::rep>(reply.size());
        if (timing_.busyAfterAck && busy > 0) busyUntil_ = txFree_ + Span(busy);
        if (!exchanges_.empty()) {
            exchanges_.back().sent += static_cast<std::uint32_t>(reply.size());
            exchanges_.back().repliedAt = since(txFree_);
        }
        replies.push_back({txFree_, std::move(reply)});
        // Stray bytes told to trail the reply (fault injection).
        std::vector<std::uint8_t> stray;
        const double strayLate = static_cast<double>(model.TakeStray(stray)) / 1000.0;
        if (!stray.empty()) {
            txFree_ = txFree_ + Span(strayLate) + byteTime * static_cast<Clock::rep>(stray.size());
            replies.push_back({txFree_, std::move(stray)});
        }
    }
    rxFree_ = arrived;
    if (lost_ > 0) {
        // The burst is over and so is the write: the frame the burst carried
        // is refused as a whole.
        const Clock::time_point start = std::max({lastLost_ + byteTime * 2, busyUntil_, txFree_});
        txFree_ = start + byteTime;
        exchanges_.push_back({FrameKind::Partial, lost_, 1, 0, since(now), since(txFree_)});
        events.push_back({FrameKind::Partial, 0, lost_, Verdict::Refuse, "overrun"});
        replies.push_back({txFree_, {std::uint8_t{'N'}}});
        lost_ = 0;
    }
    return replies;
}

bool RealtimeLine::Lost(Clock::time_point arrived, Clock::duration byteTime) {
    // While the device writes, and for the rest of a burst that ran into the
    // write: bytes that follow each other without a gap.
    const bool lost = arrived <= busyUntil_ || (lost_ > 0 && arrived - lastLost_ <= byteTime + byteTime / 2);
    if (!lost) return false;
    ++lost_;
    lastLost_ = arrived;
    return true;
}

UsbAdapter::UsbAdapter(double latencyMs, double byteSeconds, std::size_t bufferBytes)
    : period_(Span(latencyMs / 1000.0)), byteTime_(Span(byteSeconds)), bufferBytes_(std::max<std::size_t>(1, bufferBytes)) {}

void UsbAdapter::Transfer(Clock::time_point at, std::vector<RealtimeLine::Reply>& out) {
    lastTransfer_ = at;
    if (buffer_.empty()) return;
    out.push_back({at, buffer_});
    buffer_.clear();
}

void UsbAdapter::RunTimerTo(Clock::time_point t, std::vector<RealtimeLine::Reply>& out) {
    if (period_ <= Clock::duration::zero()) return;
    if (!lastTransfer_) lastTransfer_ = t;  // the timer runs from the first byte on
    if (*lastTransfer_ + period_ > t) return;
    const auto ticks = (t - *lastTransfer_) / period_;
    Transfer(*lastTransfer_ + period_, out);
    lastTransfer_ = *lastTransfer_ + period_ * (ticks - 1);
}

std::vector<RealtimeLine::Reply> UsbAdapter::Pass(const RealtimeLine::Reply& reply) {
    std::vector<RealtimeLine::Reply> out;
    const std::size_t n = reply.bytes.size();
    for (std::size_t i = 0; i < n; ++i) {
        const Clock::time_point at = reply.release - byteTime_ * static_cast<Clock::rep>(n - 1 - i);
        RunTimerTo(at, out);
        buffer_.push_back(reply.bytes[i]);
        if (period_ <= Clock::duration::zero() || buffer_.size() >= bufferBytes_) Transfer(at, out);
    }
    if (!buffer_.empty()) {
        // The next transfer after the last byte.
        const Clock::time_point last = reply.release;
        Clock::time_point next = *lastTransfer_ + period_;
        if (next < last) next += period_ * ((last - next) / period_ + 1);
        Transfer(next, out);
    }
    return out;
}

void RealtimeLine::WriteTiming(std::FILE* out) const {
    std::fprintf(out, "# byte_us %.3f baud %u bits %u\n", byteSeconds_ * 1e6, timing_.baud, timing_.bitsPerByte);
    std::fprintf(out, "# kind received sent device_us read_us replied_us\n");
    for (const Exchange& e : exchanges_)
        std::fprintf(out, "%s %u %u %.0f %.0f %.0f\n", KindName(e.kind), e.received, e.sent, e.deviceSeconds * 1e6,
                     e.readAt * 1e6, e.repliedAt * 1e6);
}

}  // namespace pelmark::devsim
