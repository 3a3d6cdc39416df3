// In-process stand-ins for the port and the front end: a scripted serial
// backend, a display that records what the engine shows, and a clock that
// counts sleeps instead of sleeping.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "bootloader/engine.h"
#include "serial/backend.h"
#include "serial/port_link.h"
#include "shell/display.h"
#include "shell/panels.h"

namespace pelmark::test {

class FakeBackend : public serial::SerialBackend {
public:
    // Called for every write with the bytes written; whatever it appends to
    // `reply` becomes readable.
    std::function<void(const std::vector<std::uint8_t>& written, std::vector<std::uint8_t>& reply)> responder;
    bool failOpen = false;
    bool failGetState = false;
    bool failSetState = false;
    bool failSetTimeouts = false;
    std::vector<std::vector<std::uint8_t>> writes;
    std::deque<std::uint8_t> pending;
    int reads = 0;
    int opens = 0;
    int closes = 0;
    int clearDtr = 0;
    int clearRts = 0;
    std::vector<int> openedIndices;
    serial::LineState lastState;
    serial::Timeouts lastTimeouts;

    serial::Handle Open(int portIndex) override {
        ++opens;
        openedIndices.push_back(portIndex);
        return failOpen ? serial::kInvalidHandle : 100 + portIndex;
    }
    bool Flush(serial::Handle) override { return true; }
    bool GetState(serial::Handle, serial::LineState* s) override {
        if (failGetState) return false;
        *s = serial::LineState{};
        s->baudRate = 9600;
        s->stopBits = 0;
        return true;
    }
    bool SetState(serial::Handle, const serial::LineState& s) override {
        lastState = s;
        return !failSetState;
    }
    bool SetupQueues(serial::Handle, std::uint32_t, std::uint32_t) override { return true; }
    bool GetTimeouts(serial::Handle, serial::Timeouts* t) override {
        *t = serial::Timeouts{};
        return true;
    }
    bool SetTimeouts(serial::Handle, const serial::Timeouts& t) override {
        lastTimeouts = t;
        return !failSetTimeouts;
    }
    bool ClearDtr(serial::Handle) override {
        ++clearDtr;
        return false;  // like a pseudo-terminal: no modem lines
    }
    bool ClearRts(serial::Handle) override {
        ++clearRts;
        return false;
    }
    bool Write(serial::Handle, const std::uint8_t* bytes, std::uint32_t count) override {
        writes.emplace_back(bytes, bytes + count);
        if (responder) {
            std::vector<std::uint8_t> reply;
            responder(writes.back(), reply);
            pending.insert(pending.end(), reply.begin(), reply.end());
        }
        return true;
    }
    bool Read(serial::Handle, std::uint8_t* buffer, std::uint32_t max, std::uint32_t* got) override {
        ++reads;
        std::uint32_t n = 0;
        while (n < max && !pending.empty()) {
            buffer[n++] = pending.front();
            pending.pop_front();
        }
        *got = n;
        return true;
    }
    void Close(serial::Handle) override { ++closes; }
    serial::OpenError LastOpenError() const override {
        return failOpen ? serial::OpenError::Absent : serial::OpenError::None;
    }
    std::string LastOpenErrorText() const override { return failOpen ? "No such file or directory" : ""; }

    void Feed(std::initializer_list<std::uint8_t> bytes) { pending.insert(pending.end(), bytes); }
};

class FakeProgress : public ProgressBar {
public:
    int min = 0, max = 100, position = 0;
    bool smooth = false;
    ProgressState state = ProgressState::Normal;
    std::vector<int> positions;
    std::vector<ProgressState> states;
    void SetMin(int v) override { min = v; }
    void SetMax(int v) override { max = v; }
    void SetPosition(int v) override {
        position = v;
        positions.push_back(v);
    }
    int Position() const override { return position; }
    int Max() const override { return max; }
    void SetSmooth(bool s) override { smooth = s; }
    void SetState(ProgressState s) override {
        state = s;
        states.push_back(s);
    }
};

class FakeStatus : public StatusBar {
public:
    std::string panels[5];
    std::vector<std::pair<int, std::string>> history;
    int repaints = 0;
    void SetPanelText(int panel, const char* text) override {
        panels[panel] = text;
        history.emplace_back(panel, text);
    }
    void Repaint() override { ++repaints; }
    std::vector<std::string> TextsOf(int panel) const {
        std::vector<std::string> out;
        for (const auto& h : history)
            if (h.first == panel) out.push_back(h.second);
        return out;
    }
};

// Records every display call as one line, e.g. "outcome| Program Ok |32768|1".
class RecordingDisplay : public Display {
public:
    FrontEnd front = FrontEnd::Main;
    FakeStatus mainStatus;
    std::vector<std::string> calls;
    std::function<void()> onPump;
    int pumps = 0;

    FrontEnd Showing() const override { return front; }
    void ShowOutcome(const char* text, Colour colour, std::uint8_t code) override {
        calls.push_back("outcome|" + std::string(text) + "|" + std::to_string(colour) + "|" + std::to_string(code));
    }
    void ShowStatus(const char* text, Colour colour) override {
        calls.push_back("status|" + std::string(text) + "|" + std::to_string(colour));
    }
    void ShowBusy() override { calls.emplace_back("busy"); }
    void ShowIdle() override { calls.emplace_back("idle"); }
    void ShowImageKind(bool plain) override { calls.push_back(plain ? "kind|plain" : "kind|masked"); }
    void HideOutcomeLabel() override { calls.emplace_back("hide-outcome"); }
    StatusBar* MainStatusBar() override { return &mainStatus; }
    void SetIdentityField(IdentityField f, const char* text) override {
        calls.push_back("field|" + std::to_string(static_cast<int>(f)) + "|" + text);
    }
    void HideIdentityField(IdentityField f) override { calls.push_back("hide|" + std::to_string(static_cast<int>(f))); }
    void MessageBox(const char* text, const char* caption) override {
        calls.push_back("box|" + std::string(text) + "|" + caption);
    }
    void PumpEvents() override {
        ++pumps;
        if (onPump) onPump();
    }

    std::vector<std::string> Outcomes() const {
        std::vector<std::string> out;
        for (const auto& c : calls)
            if (c.rfind("outcome|", 0) == 0) out.push_back(c);
        return out;
    }
    bool Has(const std::string& call) const {
        for (const auto& c : calls)
            if (c == call) return true;
        return false;
    }
};

// Counts the engine's sleeps instead of sleeping.
inline long long g_sleptMs = 0;
inline int g_sleeps = 0;
inline void CountingSleep(int ms) {
    g_sleptMs += ms;
    ++g_sleeps;
}

// Puts the engine on the fake port with the recording display, port COM1
// open, and every piece of process-wide state back to program start.
class EngineFixture {
public:
    FakeBackend backend;
    RecordingDisplay display;
    FakeProgress progress;
    FakeStatus status;

    EngineFixture() {
        ResetEngineState();
        serial::SetBackend(&backend);
        SetDisplay(&display);
        SetSleepFunction(CountingSleep);
        g_sleptMs = 0;
        g_sleeps = 0;
        g_portIndex = 0;
        g_openPortIndex = -1;
        ComPortOpen();
        backend.writes.clear();
    }
    ~EngineFixture() {
        ComPortCloseAll();
        serial::SetBackend(nullptr);
        SetDisplay(nullptr);
        SetSleepFunction(nullptr);
        ResetEngineState();
    }
    EngineFixture(const EngineFixture&) = delete;
    EngineFixture& operator=(const EngineFixture&) = delete;
};

}  // namespace pelmark::test
