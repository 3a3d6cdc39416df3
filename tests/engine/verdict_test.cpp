// Whose verdict is it: a device on the fake port whose replies leave whole
// wait slices after the frame, with the faults that make a verdict land in
// another frame's wait (a late answer to the entry byte, a stray "K" or "N"
// beside a reply, a frame refused or left unanswered). Whatever happens, the
// pass may end " Program Ok " only when the device accepted every frame.
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <set>
#include <string>

#include "fakes.h"
#include "images.h"

namespace pelmark::test {
namespace {

using Frame = std::vector<std::uint8_t>;

// What the device does with one data frame (numbered from 1 as they arrive,
// resends included).
struct Answer {
    char verdict = 'K';      // 'K', 'N', or 0: no answer, nothing stored
    std::string before;      // stray bytes sent with the reply, before it
    std::string after;       // ... and after it
    int afterLag = 0;        // slices after the reply that `after` leaves (0: with it)
};

class Verdicts : public ::testing::Test, public EngineFixture {
protected:
    // Slices after a frame that its reply leaves; a reply due before the one
    // ahead of it leaves together with that one, as on a line.
    int lag = 1;
    int entryLag = 1;
    std::function<Answer(int frame)> answer = [](int) { return Answer{}; };

    int slice = 0;
    int dataFrames = 0;
    std::deque<std::pair<int, std::string>> due;
    std::map<Frame, bool> accepted;  // every data frame sent: did the device take it?

    Verdicts() {
        images.Add({9, 0, Board5Image(200), Frame{0x11, 0x22, 0x33}});
        images.Install();
        backend.responder = [this](const Frame& w, Frame&) { Receive(w); };
        display.onPump = [this] {
            ++slice;
            while (!due.empty() && due.front().first <= slice) {
                backend.pending.insert(backend.pending.end(), due.front().second.begin(), due.front().second.end());
                due.pop_front();
            }
        };
    }

    void Send(int inSlices, const std::string& bytes) {
        if (bytes.empty()) return;
        int at = slice + inSlices;
        if (!due.empty() && due.back().first > at) at = due.back().first;
        due.emplace_back(at, bytes);
    }

    void Receive(const Frame& w) {
        if (w.size() == 1 && (w[0] == 0xC2 || w[0] == 0xC5 || w[0] == 0xC6)) {
            Send(1, std::string{'V', 5, 0x48, 5, 4, 'K'});
            return;
        }
        if (w.size() == 1 && w[0] == 0xCC) {
            Send(entryLag, "K");
            return;
        }
        if (w.size() <= 4) return;
        const Answer a = answer(++dataFrames);
        accepted.emplace(w, false);
        if (a.verdict == 0) return;
        if (a.verdict == 'K') accepted[w] = true;
        if (a.afterLag == 0) {
            Send(lag, a.before + a.verdict + a.after);
        } else {
            Send(lag, a.before + a.verdict);
            Send(lag + a.afterLag, a.after);
        }
    }

    std::string Outcome() {
        if (SearchDevice(progress, status) != kSearchFound) return "not found";
        PrgMode(progress, status);
        const auto outcomes = display.Outcomes();
        return outcomes.size() == 1 ? outcomes[0] : "outcomes: " + std::to_string(outcomes.size());
    }

    bool AllAccepted() const {
        for (const auto& f : accepted)
            if (!f.second) return false;
        return !accepted.empty();
    }

    ImageSet images;
};

// 200 program bytes on chip 0x48: data frames 1 to 4 are program rows, 5 the
// trailer row, 6 to 8 the EEPROM bytes.
constexpr int kLastRow = 4, kTrailer = 5, kFirstEeprom = 6, kLastEeprom = 8;

const std::string kSuccess = "outcome| Program Ok |32768|1";
const std::string kChk = "outcome| CHK Error !! |255|0";
const std::string kNoReply = "outcome| not Response |255|0";

struct Case {
    const char* name;
    int lag, entryLag;
    std::function<Answer(int)> answer;
    std::string outcome;
};

Answer Refuse(int frame, int which) { return frame == which ? Answer{'N'} : Answer{}; }

TEST_F(Verdicts, NoVerdictIsTakenForAnotherFramesOwn) {
    const Case cases[] = {
        // A clean line, replies in the next slice or a few slices late.
        {"clean", 1, 1, [](int) { return Answer{}; }, kSuccess},
        {"clean_slow_device", 3, 3, [](int) { return Answer{}; }, kSuccess},
        {"clean_refused_once", 1, 1, [](int f) { return Refuse(f, 2); }, kSuccess},
        // "N" and a stray "K" in one read: the row goes again (with the row
        // before it) and is written.
        {"stray_k_after_a_refused_row", 1, 1, [](int f) { return f == 2 ? Answer{'N', "", "K"} : Answer{}; }, kSuccess},
        {"stray_k_before_a_refused_row", 1, 1, [](int f) { return f == 3 ? Answer{'N', "K", ""} : Answer{}; }, kSuccess},
        {"stray_n_after_an_accepted_trailer", 1, 1,
         [](int f) { return f == kTrailer ? Answer{'K', "", "N"} : Answer{}; }, kSuccess},
        // The same on an EEPROM byte: the byte before cannot be sent again.
        {"stray_k_after_a_refused_eeprom_byte", 1, 1,
         [](int f) { return f == kFirstEeprom + 1 ? Answer{'N', "", "K"} : Answer{}; }, kChk},
        // A stray verdict that arrives in a read of its own, after the reply.
        {"stray_k_in_the_next_frames_wait", 1, 1,
         [](int f) { return f == 2 ? Answer{'N', "", "K", 1} : Answer{}; }, kSuccess},
        {"stray_k_after_the_last_frame", 1, 1,
         [](int f) { return f == kLastEeprom ? Answer{'K', "", "K", 2} : Answer{}; }, kChk},
        // The entry byte answered after its 2000 ms wait: every verdict
        // after it comes one frame late.
        {"late_entry", 2, 401, [](int) { return Answer{}; }, kChk},
        {"late_entry_refused_row", 2, 401, [](int f) { return Refuse(f, 2); }, kChk},
        {"late_entry_refused_last_row", 2, 401, [](int f) { return Refuse(f, kLastRow); }, kChk},
        {"late_entry_refused_trailer", 2, 401, [](int f) { return Refuse(f, kTrailer); }, kChk},
        {"late_entry_refused_last_eeprom_byte", 2, 401, [](int f) { return Refuse(f, kLastEeprom); }, kChk},
        {"late_entry_silent_last_eeprom_byte", 2, 401,
         [](int f) { return f >= kLastEeprom ? Answer{0} : Answer{}; }, kNoReply},
        {"late_entry_silent_trailer", 2, 401, [](int f) { return f >= kTrailer ? Answer{0} : Answer{}; }, kNoReply},
        // Late, and the reply of the first row leaves with it.
        {"late_entry_with_the_first_reply", 1, 401, [](int f) { return Refuse(f, 1); }, kSuccess},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetEngineState();
        ComPortOpen();
        display.calls.clear();
        backend.writes.clear();
        backend.pending.clear();
        due.clear();
        accepted.clear();
        dataFrames = 0;
        lag = c.lag;
        entryLag = c.entryLag;
        answer = c.answer;
        const std::string outcome = Outcome();
        EXPECT_EQ(outcome, c.outcome);
        if (outcome == kSuccess) {
            EXPECT_TRUE(AllAccepted()) << "success with a frame the device did not take";
        }
    }
}

// On a clean line nothing changes: one write per frame, one slice per wait,
// and a short listen after the last frame.
TEST_F(Verdicts, CleanLineSendsEveryFrameOnce) {
    EXPECT_EQ(Outcome(), kSuccess);
    EXPECT_EQ(dataFrames, kLastEeprom);
    EXPECT_TRUE(AllAccepted());
    EXPECT_EQ(accepted.size(), static_cast<std::size_t>(kLastEeprom));
}

}  // namespace
}  // namespace pelmark::test
