#include "cli/json_events.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <ostream>

#include "bootloader/engine.h"
#include "cli/json_text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace pelmark::cli {

using json = nlohmann::ordered_json;

namespace {

const char* StateName(ProgressState state) {
    switch (state) {
        case ProgressState::Paused:
            return "paused";
        case ProgressState::Error:
            return "error";
        case ProgressState::Normal:
            break;
    }
    return "normal";
}

json EndObject(const EngineEnd& end) { return json{{"end", EndKindName(end.kind)}, {"code", end.code}}; }

long long ProcessId() {
#ifdef _WIN32
    return static_cast<long long>(GetCurrentProcessId());
#else
    return static_cast<long long>(getpid());
#endif
}

json TextOrNull(const std::string& text) { return text.empty() ? json(nullptr) : json(BytesAsJsonText(text)); }

}  // namespace

JsonEvents::JsonEvents(std::ostream& out, std::string port, Clock clock)
    : out_(out), port_(std::move(port)), clock_(std::move(clock)), start_(clock_()) {}

template <typename Json>
void JsonEvents::Write(Json& event, const char* name) {
    // The event's name and port first, for a reader that looks at the start
    // of a line.
    json line = json::object();
    line["event"] = name;
    line["port"] = port_;
    line["time"] = std::round((clock_() - start_) * 1e6) / 1e6;
    for (auto& [key, value] : event.items()) line[key] = value;
    out_ << line.dump() << '\n' << std::flush;
}

void JsonEvents::Text(const char* panel, const std::string& text) {
    if (g_searchEnd.kind == EndKind::Success) Identity();
    json event{{"panel", panel}, {"text", BytesAsJsonText(text)}};
    Write(event, "text");
}

void JsonEvents::Progress(int position, int min, int max, ProgressState state, double rate) {
    if (g_searchEnd.kind == EndKind::Success) Identity();
    json event{{"position", position}, {"min", min}, {"max", max}, {"state", StateName(state)}};
    event["rate"] = rate >= 0 ? json(std::round(rate)) : json(nullptr);
    Write(event, "progress");
}

void JsonEvents::Start(const std::string& device, const char* frontEnd, const char* tag, const char* version) {
    json event{{"device", TextOrNull(device)},
               {"front_end", frontEnd},
               {"tag", BytesAsJsonText(tag)},
               {"version", version},
               {"pid", ProcessId()}};
    Write(event, "start");
}

void JsonEvents::Identity() {
    if (identitySent_) return;
    identitySent_ = true;
    const UpdateSummary s = SummarizeUpdate("", false, 0, 0);
    json event{{"chip", s.identity.chip},
               {"chip_name", BytesAsJsonText(s.chipName)},
               {"bios", s.identity.bios},
               {"board", s.identity.board},
               {"board_name", BytesAsJsonText(s.boardName)},
               {"preparation", s.identity.preparation}};
    Write(event, "identity");
}

void JsonEvents::Waiting(const char* what) {
    json event{{"for", what}};
    Write(event, "waiting");
}

void JsonEvents::PortState(bool present) {
    json event{{"state", present ? "back" : "gone"}};
    Write(event, "port");
}

void JsonEvents::Outcome(const UpdateSummary& s, const std::string& hint, int passed, int failed) {
    json event{{"success", s.success},
               {"outcome", BytesAsJsonText(s.outcome)},
               {"search", EndObject(s.search)},
               {"pass", EndObject(s.pass)},
               {"seconds", std::round(s.seconds * 1000) / 1000},
               {"frames", s.wire.frames},
               {"resends", s.wire.resends},
               {"refusals", s.wire.refusals},
               {"bytes_sent", s.bytesSent},
               {"bytes_received", s.bytesReceived},
               {"exit_status", s.exitStatus},
               {"hint", TextOrNull(hint)},
               {"passed", passed},
               {"failed", failed}};
    Write(event, "outcome");
}

void JsonEvents::End(int exitStatus, int passed, int failed) {
    json event{{"exit_status", exitStatus}, {"passed", passed}, {"failed", failed}};
    Write(event, "end");
}

}  // namespace pelmark::cli
