// Faults on the line, end to end: pelmark-flash (with the small test images)
// against a virtual device that misbehaves in one way. Each case checks the
// exact outcome line and exit status, that the run ends within the engine's
// own waits, that a success means the device holds exactly what a clean
// update leaves, and that a second update right after, on the same port,
// succeeds once the fault is gone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fault_support.h"

namespace pelmark::test {
namespace {

using Args = std::vector<std::string>;
using std::chrono::milliseconds;

constexpr int kCom = 240;
// Slack over the waits of the design, for process start-up and a busy machine:
// these are bounds, not speed checks.
constexpr long kSlack = 2500;
constexpr long kReplyWait = 2000;           // one frame's wait for "K" or "N"
constexpr long kSearchRefused = 100 * 5;    // 100 search bytes, each "N" ends its wait at the first slice
constexpr long kRecordWait = 251 * 5;       // the pass's wait for the "R" record
const milliseconds kDeadline{60000};        // a run still going then has hung

RunResult Flash(const std::string& frontEnd, int runAs = -1) {
    Child flash(PELMARK_FLASH_SMALL, {"--port", "COM" + std::to_string(kCom), "--front-end", frontEnd}, runAs);
    return flash.Finish(kDeadline);
}

std::string SuccessLine(const std::string& frontEnd) {
    if (frontEnd == "loader") return "Outcome: Successfully updated";
    if (frontEnd == "upgrade") return "Outcome: Program OK";
    return "Outcome: Program Ok";
}

// Chip 0x42 (PIC18F258) on board 5: the generic slot-0 image, 200 bytes, so
// data frames 1 to 4 are program rows (4 the last), 5 the trailer row and 6
// to 8 the EEPROM bytes.
const Args kPic18 = {"--chip", "0x42", "--bios", "5", "--board", "5"};
// The same with bootloader version 9, which sends the "R" device record.
const Args kWithRecord = {"--chip", "0x42", "--bios", "9", "--board", "5", "--record-text", "RIG-42 SN 0001"};
// A legacy bootloader: chip byte and "K", no "V" record.
const Args kLegacy = {"--chip", "0x43", "--legacy"};

struct Fault {
    const char* name;
    Args device;
    Args fault;
    const char* frontEnd;
    const char* outcome;  // the last line
    int status;
    long minMs, maxMs;
    bool vanishes = false;  // the device is gone afterwards and is plugged in again
    friend void PrintTo(const Fault& f, std::ostream* os) { *os << f.name; }
};

Fault Ok(const char* name, Args device, Args fault, long maxMs = kSlack, const char* frontEnd = "main") {
    return {name, std::move(device), std::move(fault), frontEnd, nullptr, 0, 0, maxMs};
}

class FaultMatrix : public ::testing::TestWithParam<Fault> {
protected:
    TestPortMap ports;
};

TEST_P(FaultMatrix, ClearOutcomeWithinTheWaitsThenTheNextUpdateSucceeds) {
    const Fault& f = GetParam();
    const std::string expected = f.outcome ? std::string("Outcome: ") + f.outcome : SuccessLine(f.frontEnd);

    // What the device holds after a clean update.
    hex::Memory clean;
    {
        FaultyDevice device(kCom, f.device);
        const RunResult r = Flash("main");
        ASSERT_EQ(r.status, 0) << r.LastLine() << r.err;
        clean = device.Memory();
        ASSERT_FALSE(clean.empty());
    }

    Args args = f.device;
    args.insert(args.end(), f.fault.begin(), f.fault.end());
    std::optional<FaultyDevice> device;
    device.emplace(kCom, args);
    const RunResult first = Flash(f.frontEnd);
    ASSERT_FALSE(first.timedOut) << "the front end hung";
    EXPECT_EQ(first.LastLine(), expected) << first.err;
    EXPECT_EQ(first.status, f.status);
    EXPECT_GE(first.ms, f.minMs) << "ended before its wait was over";
    EXPECT_LE(first.ms, f.maxMs) << "ran past its waits";
    // A fault that the update came through stays on for the second update.
    // A success must have left what a clean update leaves; reading it ends
    // the device, so the same device (with the same fault) comes again.
    if (first.status == 0) {
        EXPECT_TRUE(device->Memory() == clean) << "success, but the device holds something else than a clean update leaves";
        device.emplace(kCom, args);
    } else if (f.vanishes) {
        EXPECT_NE(device->Stop(), 128 + SIGTERM) << "the device should have gone by itself";
        device.emplace(kCom, f.device);  // plugged in again, same COM number
    } else {
        device->EndFaults();
    }

    const RunResult second = Flash(f.frontEnd);
    ASSERT_FALSE(second.timedOut);
    EXPECT_EQ(second.LastLine(), SuccessLine(f.frontEnd)) << second.err;
    EXPECT_EQ(second.status, 0);
    EXPECT_LE(second.ms, first.status == 0 ? f.maxMs : kSlack);
    EXPECT_TRUE(device->Memory() == clean) << "the device holds something else than after a clean update";
}

const long kOneWait[] = {kReplyWait, kReplyWait + kSlack};

INSTANTIATE_TEST_SUITE_P(
    Line, FaultMatrix,
    ::testing::Values(
        // Refusals: up to four resends are fine, the fifth refusal ends the pass.
        Ok("refused_four_times_then_taken", kPic18, {"--nak-frame", "2", "--nak-count", "4"}),
        Fault{"refused_five_times_first_row", kPic18, {"--nak-frame", "1", "--nak-count", "5"}, "main",
              "CHK Error !!", 1, 0, kSlack},
        Fault{"refused_five_times_trailer_row", kPic18, {"--nak-frame", "5", "--nak-count", "5"}, "main",
              "CHK Error !!", 1, 0, kSlack},
        Fault{"refused_five_times_eeprom_byte", kPic18, {"--nak-frame", "7", "--nak-count", "5"}, "loader",
              "CHK Error !!", 1, 0, kSlack},
        // Silence on one frame: one full wait, no resend, " not Response ".
        Fault{"silent_first_row", kPic18, {"--silent-frame", "1", "--silent-count", "1"}, "main", "not Response",
              1, kOneWait[0], kOneWait[1]},
        Fault{"silent_middle_row", kPic18, {"--silent-frame", "2", "--silent-count", "1"}, "main", "not Response",
              1, kOneWait[0], kOneWait[1]},
        Fault{"silent_last_row", kPic18, {"--silent-frame", "4", "--silent-count", "1"}, "upgrade",
              "not Response", 1, kOneWait[0], kOneWait[1]},
        Fault{"silent_trailer_row", kPic18, {"--silent-frame", "5", "--silent-count", "1"}, "main",
              "not Response", 1, kOneWait[0], kOneWait[1]},
        Fault{"silent_last_eeprom_byte", kPic18, {"--silent-frame", "8", "--silent-count", "1"}, "loader",
              "not Response", 1, kOneWait[0], kOneWait[1]},
        // Replies late: just inside the wait is a success, just past it a failure.
        Ok("slow_reply_inside_the_wait", kPic18, {"--slow-frame", "2", "--slow-ms", "1800"}, 1800 + kSlack),
        Fault{"slow_reply_past_the_wait", kPic18, {"--slow-frame", "2", "--slow-ms", "2400"}, "main",
              "not Response", 1, kOneWait[0], kOneWait[1]},
        Fault{"slow_eeprom_reply_past_the_wait", kPic18, {"--slow-frame", "6", "--slow-ms", "2400"}, "main",
              "not Response", 1, kOneWait[0], kOneWait[1]},
        // Line noise around every reply (never a "K", "N" or "R").
        Ok("noise_before_every_reply", kPic18, {"--garbage-before", "16"}),
        Ok("noise_after_every_reply", kWithRecord, {"--garbage-after", "3"}),
        Ok("noise_around_a_legacy_identity", kLegacy, {"--garbage-before", "5", "--garbage-after", "5"}),
        Ok("noise_around_every_reply_loader", kWithRecord, {"--garbage-before", "7", "--garbage-after", "2"},
           kSlack, "loader"),
        // The "R" record: cut off without its "K", it swallows the replies
        // after it: the record wait, the entry byte's wait and one row's wait.
        Fault{"record_cut_off", kWithRecord, {"--record-bytes", "12"}, "main", "not Response", 1,
              kRecordWait + 2 * kReplyWait, kRecordWait + 2 * kReplyWait + kSlack},
        Ok("record_oversized", kWithRecord, {"--record-length", "200"}),
        Ok("record_longer_than_declared", kWithRecord, {"--record-bytes", "40"}),
        Ok("record_shorter_than_usual", kWithRecord, {"--record-length", "6"}),
        // Verdicts that belong to no frame. The entry byte answered after its
        // wait: the "K" leaves with the first row's verdict, or (every reply
        // 100 ms late) each verdict comes in the next frame's wait.
        Ok("late_entry_verdict", kPic18, {"--late-entry-ms", "2100"}, kReplyWait + kSlack),
        Ok("late_entry_verdict_beside_a_refused_first_row", kPic18, {"--late-entry-ms", "2100", "--nak-frame", "1"},
           kReplyWait + kSlack),
        Ok("late_entry_verdict_then_a_refusal_in_the_next_wait", kPic18,
           {"--late-entry-ms", "2100", "--slow-frame", "1", "--slow-ms", "110", "--nak-frame", "1"},
           kReplyWait + kSlack),
        Fault{"late_entry_verdict_every_reply_late_last_eeprom_byte_silent", kPic18,
              {"--late-entry-ms", "2100", "--slow-frame", "1", "--slow-count", "100", "--slow-ms", "100",
               "--silent-frame", "8"},
              "main", "not Response", 1, 2 * kReplyWait, 2 * kReplyWait + 1000 + kSlack},
        Fault{"late_entry_verdict_every_reply_late_vanish_at_the_last_eeprom_byte", kPic18,
              {"--late-entry-ms", "2100", "--slow-frame", "1", "--slow-count", "100", "--slow-ms", "100",
               "--vanish-frame", "8"},
              "loader", "not Response", 1, 2 * kReplyWait, 2 * kReplyWait + 1000 + kSlack, true},
        // Stray "K" and "N" bytes beside a reply, in the same read.
        Ok("stray_k_after_a_refused_row", kPic18, {"--nak-frame", "2", "--stray-frame", "2", "--stray-after", "K"}),
        Ok("stray_k_before_a_refused_row", kPic18, {"--nak-frame", "3", "--stray-frame", "3", "--stray-before", "K"}),
        Ok("stray_k_after_a_refused_trailer_row", kPic18,
           {"--nak-frame", "5", "--stray-frame", "5", "--stray-after", "K"}, kSlack, "loader"),
        Fault{"stray_k_after_a_refused_eeprom_byte", kPic18,
              {"--nak-frame", "7", "--stray-frame", "7", "--stray-after", "K"}, "main", "CHK Error !!", 1, 0, kSlack},
        Fault{"stray_n_after_every_reply", kPic18, {"--stray-frame", "1", "--stray-count", "100", "--stray-after", "N"},
              "upgrade", "CHK Error !!", 1, 0, kSlack},
        // A verdict after the last frame, when no frame waits for one.
        Fault{"stray_k_after_the_last_frame", kPic18,
              {"--stray-frame", "8", "--stray-after", "K", "--stray-ms", "5"}, "main", "CHK Error !!", 1, 0, kSlack},
        // The device disappears in the middle of a transfer.
        Fault{"vanish_at_a_middle_row", kPic18, {"--vanish-frame", "2"}, "main", "not Response", 1, kOneWait[0],
              kOneWait[1], true},
        Fault{"vanish_at_an_eeprom_byte", kPic18, {"--vanish-frame", "7"}, "upgrade", "not Response", 1,
              kOneWait[0], kOneWait[1], true},
        // The search answered with "N": it counts as no answer, but ends the
        // try at once; 100 tries, then not found.
        Fault{"search_refused", kPic18, {"--refuse-search"}, "main", "Device not Found", 1, kSearchRefused,
              kSearchRefused + kSlack},
        Fault{"search_refused_loader", kPic18, {"--refuse-search"}, "loader", "The device is not find.", 1,
              kSearchRefused, kSearchRefused + kSlack}),
    [](const ::testing::TestParamInfo<Fault>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace pelmark::test
